/*
 * nadixq: data acquisition for an FTIR spectrometer.
 *
 * One instrument per process. Open it by model (1 to 5), adjust the settings,
 * initialize and calibrate, start a run, follow it by polling or through event
 * handles, fetch each file's averaged interferogram, stop and close. Every
 * function returns at once; the run itself goes on on a worker thread.
 *
 * Results: 0 is success, 1 a refusal (no instrument, no run, no matching data);
 * system failures come as HRESULT values (0x8007xxxx) and board results are
 * passed through unchanged.
 *
 * Event handles: on Windows, Win32 event handles; on Linux, eventfd file
 * descriptors passed as the handle value (each signal adds 1). A null handle
 * switches that signal off. The library never closes a handle it was given.
 */
#ifndef NADIXQ_H
#define NADIXQ_H

#if defined(_WIN32)
#  define NADIXQ_CALL __stdcall
#  if defined(NADIXQ_BUILDING_LIBRARY) && defined(NADIXQ_EXPORTS_BY_DEF)
     /* The module-definition file names every export (32-bit DLL). */
#    define NADIXQ_API
#  elif defined(NADIXQ_BUILDING_LIBRARY)
#    define NADIXQ_API __declspec(dllexport)
#  elif defined(NADIXQ_STATIC)
     /* Linked from the static library (the library's own tests). */
#    define NADIXQ_API
#  else
#    define NADIXQ_API __declspec(dllimport)
#  endif
#else
#  define NADIXQ_CALL
#  define NADIXQ_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* An event handle of the host: HANDLE on Windows, an eventfd on Linux. */
typedef void* nadixq_handle;

/* Status values of spectrometer_getStatus. */
#define NADIXQ_STATUS_UNOPENED 1
#define NADIXQ_STATUS_READY 4
#define NADIXQ_STATUS_ACQUIRING 64

/* Settings. Stored only; they reach the board at initialize and start. */
NADIXQ_API double NADIXQ_CALL spectrometer_setGain(double gain);
NADIXQ_API double NADIXQ_CALL spectrometer_getGain(void);
NADIXQ_API double NADIXQ_CALL spectrometer_setResolution(double resolution);
NADIXQ_API double NADIXQ_CALL spectrometer_getResolution(void);
NADIXQ_API int NADIXQ_CALL spectrometer_setPoints(int points);
NADIXQ_API int NADIXQ_CALL spectrometer_getPoints(void);
NADIXQ_API int NADIXQ_CALL spectrometer_setScans(int scans);
NADIXQ_API int NADIXQ_CALL spectrometer_getScans(void);
NADIXQ_API int NADIXQ_CALL spectrometer_setFiles(int files);
NADIXQ_API int NADIXQ_CALL spectrometer_getFiles(void);

/* Events, status and progress. */
NADIXQ_API int NADIXQ_CALL spectrometer_setScanCompleteEventHandle(nadixq_handle handle);
NADIXQ_API int NADIXQ_CALL spectrometer_setCoaddCompleteEventHandle(nadixq_handle handle);
NADIXQ_API int NADIXQ_CALL spectrometer_getStatus(void);
NADIXQ_API int NADIXQ_CALL spectrometer_getScanProgress(void);
NADIXQ_API int NADIXQ_CALL spectrometer_getFileProgress(void);
NADIXQ_API int NADIXQ_CALL spectrometer_execute(int command);

/* Instrument. */
NADIXQ_API int NADIXQ_CALL spectrometer_open(int id);
NADIXQ_API int NADIXQ_CALL spectrometer_close(void);
NADIXQ_API int NADIXQ_CALL spectrometer_initialize(void);
NADIXQ_API int NADIXQ_CALL spectrometer_calibrationScan(void);
NADIXQ_API int NADIXQ_CALL spectrometer_getCapabilities(void);

/* Run. */
NADIXQ_API int NADIXQ_CALL spectrometer_startCoadd(void);
NADIXQ_API int NADIXQ_CALL spectrometer_stop(void);
NADIXQ_API int NADIXQ_CALL spectrometer_getData(double* data, int pts, double* timestamp);
NADIXQ_API double NADIXQ_CALL spectrometer_getTimestamp(void);

/* Stream the run into a multifile SPC file at `path`. */
NADIXQ_API int NADIXQ_CALL spectrometer_streamToDisk(const char* path);

/* Board input and output. A fiber frame is 16 unsigned 32-bit words. */
NADIXQ_API int NADIXQ_CALL spectrometer_writeFiber(unsigned int* frame);
NADIXQ_API int NADIXQ_CALL spectrometer_readFiber(unsigned int* frame);
NADIXQ_API int NADIXQ_CALL spectrometer_writeAux(unsigned short data, unsigned short mask);

#ifdef __cplusplus
} /* extern "C" */

/* Interferogram processing (C++ linkage, exported under their decorated names). */
NADIXQ_API int NADIXQ_CALL FindZPD(double* ifg, int pts, int hint, int start, int end);
NADIXQ_API int NADIXQ_CALL BaselineCorrectIfg(double* ifg, int pts, int mode);
NADIXQ_API int NADIXQ_CALL GaussianApodize(double* ifg, int pts, double width);
#endif

#endif /* NADIXQ_H */
