// Every export a host binds resolves when the shared library is loaded as a
// host loads it. That the library shows nothing beyond its exports (every
// defined dynamic symbol against abi/libnadixq.symbols, the simulator's
// controls included) is the abi_symbols check's (scripts/abi-check.sh).
#include <dlfcn.h>
#include <gtest/gtest.h>

namespace {

const char* const kExports[] = {
    "spectrometer_setGain", "spectrometer_getGain", "spectrometer_setResolution",
    "spectrometer_getResolution", "spectrometer_setPoints", "spectrometer_getPoints",
    "spectrometer_setScans", "spectrometer_getScans", "spectrometer_setFiles",
    "spectrometer_getFiles", "spectrometer_setScanCompleteEventHandle",
    "spectrometer_setCoaddCompleteEventHandle", "spectrometer_getStatus",
    "spectrometer_getScanProgress", "spectrometer_getFileProgress", "spectrometer_execute",
    "spectrometer_open", "spectrometer_close", "spectrometer_initialize",
    "spectrometer_calibrationScan", "spectrometer_getCapabilities", "spectrometer_startCoadd",
    "spectrometer_stop", "spectrometer_getData", "spectrometer_getTimestamp",
    "spectrometer_streamToDisk", "spectrometer_writeFiber", "spectrometer_readFiber",
    "spectrometer_writeAux",
    // The processing functions, under the names of exactly these parameter lists.
    "_Z7FindZPDPdiiii", "_Z18BaselineCorrectIfgPdii", "_Z15GaussianApodizePdid"};

TEST(ExportTable, EveryExportResolves) {
    void* library = dlopen(NADIXQ_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    for (const char* name : kExports) EXPECT_NE(dlsym(library, name), nullptr) << name;
    dlclose(library);
}

}  // namespace
