/* A host in C that binds the library at run time, as plug-in hosts do: it
 * loads the library named by its argument, sets the scan count through the
 * looked-up export and exits without unloading the library, so that the
 * unload happens during the exit, after the library's static destructors. */
#include <dlfcn.h>
#include <stdio.h>

typedef int (*set_int_export)(int);

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (library == NULL) {
        fprintf(stderr, "%s\n", dlerror());
        return 3;
    }
    set_int_export set_scans = (set_int_export)dlsym(library, "spectrometer_setScans");
    if (set_scans == NULL || set_scans(7) != 7) return 4;
    return 0;
}
