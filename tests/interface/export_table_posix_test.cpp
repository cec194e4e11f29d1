// Every export a host binds resolves when the shared library is loaded as a
// host loads it. That the library shows nothing beyond its exports (every
// defined dynamic symbol against abi/libnadixq.symbols, the simulator's
// controls included) is the abi_symbols check's (scripts/abi-check.sh).
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>
#include <string>

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

// The 32-bit export list is the one written by hand; the others are held to
// it here, so that a new export missed in one of them fails this test.
std::string ReadSource(const std::string& relative) {
    std::ifstream in(std::string(NADIXQ_TEST_DATA_DIR) + "/../../" + relative);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::set<std::string> Matches(const std::string& text, const std::regex& pattern) {
    std::set<std::string> found;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), pattern);
         it != std::sregex_iterator(); ++it) {
        found.insert((*it)[1].str());
    }
    return found;
}

struct DefNames {
    std::set<std::string> hostNames;  // left of "=": what the 32-bit DLL exports
    std::set<std::string> symbols;    // right of "=" without @N: the ELF names
};

DefNames ReadDefFile() {
    DefNames names;
    std::istringstream lines(ReadSource("src/interface/nadixq.def"));
    std::regex entry(R"(^\s+(\S+) = ([^@\s]+)@\d+\s*$)");
    std::string line;
    std::smatch match;
    while (std::getline(lines, line)) {
        if (!std::regex_match(line, match, entry)) continue;
        names.hostNames.insert(match[1].str());
        names.symbols.insert(match[2].str());
    }
    return names;
}

TEST(ExportTable, TheListsOfExportsAgreeWithTheDefFile) {
    const DefNames def = ReadDefFile();
    ASSERT_EQ(def.hostNames.size(), 32u);
    EXPECT_EQ(std::set<std::string>(std::begin(kExports), std::end(kExports)), def.symbols);

    // The bindings name both spellings of the processing functions.
    std::set<std::string> both = def.hostNames;
    both.insert(def.symbols.begin(), def.symbols.end());
    EXPECT_EQ(Matches(ReadSource("python/nadixq/_library.py"),
                      std::regex(R"re("(spectrometer_\w+|\?\w+@@\w+@Z|_Z\d+\w+)")re")),
              both)
        << "python/nadixq/_library.py";
    std::string binding = ReadSource("bindings/csharp/Nadixq.cs");
    std::set<std::string> declared =
        Matches(binding, std::regex(R"(extern [^(;]* (spectrometer_\w+)\s*\()"));
    std::set<std::string> entryPoints =
        Matches(binding, std::regex(R"re(EntryPoint = "([^"]+)")re"));
    declared.insert(entryPoints.begin(), entryPoints.end());
    EXPECT_EQ(declared, both) << "bindings/csharp/Nadixq.cs";
}

}  // namespace
