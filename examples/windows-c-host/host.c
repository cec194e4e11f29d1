/* A C host of nadixq.dll: opens model 1, runs three files of eight scans,
 * sleeps on the co-add (file complete) event between files instead of
 * polling, fetches the newest file, and finds its ZPD through the processing
 * export, which has C++ linkage and is therefore looked up by its exported
 * name. Run it next to the simulator flavour of nadixq.dll on a machine
 * without a board.
 *
 * MinGW:  i686-w64-mingw32-gcc -I<zip>/include host.c <zip>/lib/libnadixq.dll.a -o host.exe
 * MSVC:   cl /I<zip>\include host.c <zip>\lib\nadixq.lib
 */
#include <nadixq/nadixq.h>
#include <stdio.h>
#include <windows.h>

#define POINTS 2048
#define FILES 3

/* int FindZPD(double*, int, int, int, int) and int BaselineCorrectIfg(double*,
 * int, int), __stdcall, under the names the 32-bit DLL exports (the 64-bit
 * DLL exports its compiler's own C++ names). */
#ifdef _WIN64
#define FIND_ZPD_NAME "_Z7FindZPDPdiiii"
#define BASELINE_NAME "_Z18BaselineCorrectIfgPdii"
#else
#define FIND_ZPD_NAME "?FindZPD@@YGHPANHHHH@Z"
#define BASELINE_NAME "?BaselineCorrectIfg@@YGHPANHH@Z"
#endif
typedef int(__stdcall* find_zpd_function)(double*, int, int, int, int);
typedef int(__stdcall* baseline_function)(double*, int, int);

int main(void) {
    static double ifg[POINTS];
    double stamp = 0.0;
    int seen = 0, done, result;
    HMODULE dll = GetModuleHandleA("nadixq.dll");
    find_zpd_function find_zpd = (find_zpd_function)(void*)GetProcAddress(dll, FIND_ZPD_NAME);
    baseline_function baseline = (baseline_function)(void*)GetProcAddress(dll, BASELINE_NAME);
    /* Auto-reset: each wait takes the signal. Signals that arrive while the
     * host is busy coalesce into one, so the host asks for the file count. */
    HANDLE file_done = CreateEventA(NULL, FALSE, FALSE, NULL);
    if (find_zpd == NULL || baseline == NULL || file_done == NULL) return 1;

    result = spectrometer_open(1);
    if (result != 0) {
        printf("spectrometer_open(1) returned 0x%08X\n", (unsigned)result);
        return 1;
    }
    spectrometer_setPoints(POINTS);
    spectrometer_setScans(8);
    spectrometer_setFiles(FILES);
    spectrometer_setCoaddCompleteEventHandle(file_done);
    if (spectrometer_initialize() != 0 || spectrometer_calibrationScan() != 0 ||
        spectrometer_startCoadd() != 0) {
        printf("the run did not start\n");
        spectrometer_close();
        return 1;
    }
    while (seen < FILES) {
        /* The thread sleeps here until the library signals a file. */
        if (WaitForSingleObject(file_done, 30000) != WAIT_OBJECT_0) {
            printf("no file within 30 s\n");
            result = 1;
            break;
        }
        done = spectrometer_getFileProgress();
        if (done == seen) continue;
        /* pts must be spectrometer_getPoints(); any other count is refused
         * with 1 and the array comes back as zeros. The data is the newest
         * file's: files between `seen` and `done` were replaced unread. A
         * file that a stop closed out without a scan signals too, but
         * stores nothing. */
        if (spectrometer_getData(ifg, spectrometer_getPoints(), &stamp) != 0) {
            printf("file %d: no data\n", done);
        } else {
            baseline(ifg, POINTS, 1); /* the ZPD search needs the offset removed */
            printf("file %d: ZPD %d\n", done, find_zpd(ifg, POINTS, 0, -1, -1));
        }
        seen = done;
    }
    spectrometer_stop();
    spectrometer_setCoaddCompleteEventHandle(NULL);
    spectrometer_close(); /* always before the DLL is unloaded */
    CloseHandle(file_done);
    return result;
}
