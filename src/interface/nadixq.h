/*
 * nadixq: data acquisition for an FTIR spectrometer.
 *
 * One instrument per process. Open it by model (1 to 5), adjust the settings,
 * initialize and calibrate, start a run, follow it by polling or through event
 * handles, fetch each file's averaged interferogram, stop and close. Every
 * function returns at once; the run itself goes on on a worker thread.
 *
 * Results: NADIXQ_OK (0) is success, NADIXQ_REFUSED (1) a refusal (no
 * instrument, no run, no matching data); system failures come as HRESULT
 * values (0x8007xxxx) and board results are passed through unchanged. The
 * named ones are listed below the status values.
 *
 * Event handles: on Windows, Win32 event handles; on Linux, eventfd file
 * descriptors passed as the handle value (each signal adds 1). A null handle
 * switches that signal off. The library never closes a handle it was given.
 */
#ifndef NADIXQ_H
#define NADIXQ_H

/* clang-format off */
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
/* clang-format on */

#ifdef __cplusplus
extern "C" {
#endif

/* An event handle of the host: HANDLE on Windows, an eventfd on Linux. */
typedef void* nadixq_handle;

/* Status values of spectrometer_getStatus. */
#define NADIXQ_STATUS_UNOPENED 1
#define NADIXQ_STATUS_READY 4
#define NADIXQ_STATUS_ACQUIRING 64

/* Results, as the functions return them (int). The same number may mean
 * different things from different calls: the comment of each function says
 * which of these it returns and when. */
#define NADIXQ_OK 0
#define NADIXQ_REFUSED 1
/* FindZPD: no single zero crossing between the burst's extremes. */
#define NADIXQ_NO_ZPD (-3)
/* The board has no such link (spectrometer_writeFiber, _readFiber). */
#define NADIXQ_NOT_IMPLEMENTED ((int)0x80004001u)
/* System failures: HRESULTs of the 0x8007xxxx family, the system's error
 * number in the low 16 bits (a Win32 error on Windows, the C library's errno
 * on Linux). The named ones the library makes itself. */
#define NADIXQ_IS_SYSTEM_ERROR(result) ((0xFFFF0000u & (unsigned)(result)) == 0x80070000u)
#define NADIXQ_SYSTEM_ERROR(result) (0xFFFFu & (unsigned)(result))
/* Out of memory (E_OUTOFMEMORY): spectrometer_open, spectrometer_streamToDisk. */
#define NADIXQ_OUT_OF_MEMORY ((int)0x8007000Eu)
#define NADIXQ_NO_BOARD_CLASS ((int)0x80070011u)
#define NADIXQ_OPEN_FAILED ((int)0x8007006Eu)
/* A driver request of the board (a transfer, a fiber frame) failed. */
#define NADIXQ_TRANSFER_FAILED ((int)0x8007045Du)
/* Calibration results of the single boards (models 1, 2, 5). */
#define NADIXQ_CALIBRATION_FAILED ((int)0x80070005u)
#define NADIXQ_BOARD_MISMATCH ((int)0x80070006u)
#define NADIXQ_CALIBRATION_ERROR_1 ((int)0x80070007u)
#define NADIXQ_CALIBRATION_ERROR_2 ((int)0x80070008u)
#define NADIXQ_CALIBRATION_ERROR_3 ((int)0x80070009u)
#define NADIXQ_DRIVER_OUT_OF_DATE ((int)0x80070012u)
/* Calibration results of the dual boards (models 3, 4). */
#define NADIXQ_DUAL_CALIBRATION_FAILED 0x20000012
#define NADIXQ_DUAL_BOARD_MISMATCH 0x20000006

/* Point counts. NADIXQ_MAX_POINTS is the most values a file may have, and the
 * count by which the host names the finest setting: spectrometer_getPoints
 * reports it, spectrometer_getData is called with it, spectrometer_setPoints
 * takes it. A file of the finest setting holds NADIXQ_FINEST_POINTS values,
 * the rest of the host's array is zero. */
#define NADIXQ_MAX_POINTS 32768
#define NADIXQ_FINEST_POINTS 30000

/* Settings. Stored only; they reach the board at initialize and start. The
 * setters store plain values: call them from one thread at a time. Set during a
 * run, a value takes effect at the next start. The getters may be called from
 * any thread at any time. */

/* Stores the gain multiple (1, 2 or 4; any other value runs as 1) and returns
 * it. Sent to the board by spectrometer_initialize. */
NADIXQ_API double NADIXQ_CALL spectrometer_setGain(double gain);
/* The stored gain multiple (1 until set). */
NADIXQ_API double NADIXQ_CALL spectrometer_getGain(void);
/* Stores the resolution in cm-1 and the point count of its row (0.5 or finer:
 * 30000, 1: 16384, 2: 8192 ... coarser than 16: 512); returns the resolution. */
NADIXQ_API double NADIXQ_CALL spectrometer_setResolution(double resolution);
/* The stored resolution in cm-1 (1 until set). */
NADIXQ_API double NADIXQ_CALL spectrometer_getResolution(void);
/* Stores the point count per file and returns it; spectrometer_initialize sends
 * it to the board. */
NADIXQ_API int NADIXQ_CALL spectrometer_setPoints(int points);
/* The stored point count; the finest setting (30000 values) is reported as
 * 32768, the count spectrometer_getData is then called with. */
NADIXQ_API int NADIXQ_CALL spectrometer_getPoints(void);
/* Stores the scans co-added per file and returns it; a start with fewer than 1
 * is refused. */
NADIXQ_API int NADIXQ_CALL spectrometer_setScans(int scans);
/* The stored scans per file (16 until set). */
NADIXQ_API int NADIXQ_CALL spectrometer_getScans(void);
/* Stores the files per run (0: until stopped) and returns it. */
NADIXQ_API int NADIXQ_CALL spectrometer_setFiles(int files);
/* The stored files per run (1 until set). */
NADIXQ_API int NADIXQ_CALL spectrometer_getFiles(void);

/* Events, status and progress. Any thread, at any time, also during a run. */

/* The event the scan thread signals after each co-added scan (null: none).
 * Always 0. The handle stays the host's; it may be waited on in any thread. */
NADIXQ_API int NADIXQ_CALL spectrometer_setScanCompleteEventHandle(nadixq_handle handle);
/* The event the scan thread signals after each stored file, and once for each
 * file a counted run closes out without data (null: none). Always 0. */
NADIXQ_API int NADIXQ_CALL spectrometer_setCoaddCompleteEventHandle(nadixq_handle handle);
/* NADIXQ_STATUS_UNOPENED, NADIXQ_STATUS_READY or NADIXQ_STATUS_ACQUIRING. */
NADIXQ_API int NADIXQ_CALL spectrometer_getStatus(void);
/* Scans co-added so far into the file under way. */
NADIXQ_API int NADIXQ_CALL spectrometer_getScanProgress(void);
/* Files completed so far in this run (closed-out files included). */
NADIXQ_API int NADIXQ_CALL spectrometer_getFileProgress(void);
/* Accepted for hosts that call it; does nothing and returns 0. */
NADIXQ_API int NADIXQ_CALL spectrometer_execute(int command);

/* Instrument. open, close, initialize and calibrationScan drive the
 * instrument: one host thread at a time, never two at once. */

/* Opens the board of model `id` (1 to 5), closing an open one first (a run is
 * stopped within 5.5 s). 0; NADIXQ_NO_BOARD_CLASS (0x80070011) no board class
 * for `id`; NADIXQ_OPEN_FAILED (0x8007006E) the board did not open;
 * NADIXQ_OUT_OF_MEMORY (0x8007000E) out of memory. */
NADIXQ_API int NADIXQ_CALL spectrometer_open(int id);
/* Stops a run (within 5.5 s), patches and closes a stream file, closes and
 * frees the board. Returns 1, also when nothing was open. */
NADIXQ_API int NADIXQ_CALL spectrometer_close(void);
/* Sends the stored point count and gain to the board. The board's result (0 on
 * success); 1 without an instrument or during a run. */
NADIXQ_API int NADIXQ_CALL spectrometer_initialize(void);
/* Runs the board's calibration (places the centre burst). 0, or the board's
 * result (the Reliability table of the README); 1 without an instrument or
 * during a run. A failed calibration keeps the previous one. */
NADIXQ_API int NADIXQ_CALL spectrometer_calibrationScan(void);
/* The board's capabilities (4 for model 3, else 2); 0 without an instrument. */
NADIXQ_API int NADIXQ_CALL spectrometer_getCapabilities(void);

/* Run. */

/* Starts a run of the stored scans and files on the scan thread. 0; 1 without
 * an instrument, with scans below 1, during a run, or when the thread does not
 * start. The driving host thread. */
NADIXQ_API int NADIXQ_CALL spectrometer_startCoadd(void);
/* Ends the run: at once after a run that ended by itself, else within 5.5 s,
 * a counted run's remaining files closed out. 0; 1 without an instrument or
 * when no run was started since the open. The driving host thread. */
NADIXQ_API int NADIXQ_CALL spectrometer_stop(void);
/* Copies the newest stored file's averaged interferogram (`pts` values, the
 * spectrometer_getPoints count) and its time in ms since 1970. 0; 1 when there
 * is no such file, a pointer is null or `pts` is not that count. Any thread. */
NADIXQ_API int NADIXQ_CALL spectrometer_getData(double* data, int pts, double* timestamp);
/* The newest stored file's time in ms since 1970; 0 without one. Any thread. */
NADIXQ_API double NADIXQ_CALL spectrometer_getTimestamp(void);

/* Creates a multifile SPC file at `path` and starts a run as
 * spectrometer_startCoadd does, appending each stored file. Its result; 1 for
 * a null path, no instrument or during a run; the system error (0x8007xxxx)
 * when the file cannot be created. The driving host thread. */
NADIXQ_API int NADIXQ_CALL spectrometer_streamToDisk(const char* path);

/* Board input and output. A fiber frame is 16 unsigned 32-bit words. Each call
 * is one driver request of its own and reaches the board also during a run;
 * without an instrument it does nothing and returns 0. */

/* Sends a frame over the fiber link (model 3). 0; 1 for a null frame;
 * NADIXQ_TRANSFER_FAILED (0x8007045D) the request failed;
 * NADIXQ_NOT_IMPLEMENTED (0x80004001) the board has no fiber link. */
NADIXQ_API int NADIXQ_CALL spectrometer_writeFiber(unsigned int* frame);
/* Reads a frame from the fiber link into `frame`; results as writeFiber. */
NADIXQ_API int NADIXQ_CALL spectrometer_readFiber(unsigned int* frame);
/* Sets the auxiliary output lines in `mask` to those of `data`; the others keep
 * what earlier calls set. 0; the request failed: NADIXQ_TRANSFER_FAILED
 * (0x8007045D, models 1, 2, 5), 1 (models 3, 4). */
NADIXQ_API int NADIXQ_CALL spectrometer_writeAux(unsigned short data, unsigned short mask);

#ifdef __cplusplus
} /* extern "C" */

/* Interferogram processing (C++ linkage, exported under their decorated names).
 * They keep no state: any thread, at any time, also during a run. */

/* Index of the zero path difference in ifg[start..end], or -3 when there is
 * none (NADIXQ_NO_ZPD); a hint from 207 to 305 narrows the window to hint +/- 30. Reads only. */
NADIXQ_API int NADIXQ_CALL FindZPD(double* ifg, int pts, int hint, int start, int end);
/* Removes the mean (mode != 0) or the line through the means of both ends
 * (mode 0, at least 32 points) in place. 1; 0 with the array untouched. */
NADIXQ_API int NADIXQ_CALL BaselineCorrectIfg(double* ifg, int pts, int mode);
/* Multiplies by a Gaussian of `width` points centred on the ZPD, in place. 1;
 * 0 with the array untouched (null, pts < 1, width outside 1e-10..1e10, no ZPD). */
NADIXQ_API int NADIXQ_CALL GaussianApodize(double* ifg, int pts, double width);
#endif

#endif /* NADIXQ_H */
