// A dynamic host (a plug-in host, a LabVIEW call node, Delphi's dynamic
// loading) that unloads the library during a run without closing the
// instrument first. The library must survive it: its scan thread keeps the
// code it runs in memory, a host that loads the library again gets the same
// instance back and can stop and close it, and the library leaves memory when
// the last holder lets go (or, where the system offers no safe way for a
// thread to let go, stays resident).
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "interface/nadixq.h"
#include "support/host_event.h"
#include "support/shared_library.h"

namespace {

using nadixq::test::HostEvent;
using nadixq::test::SharedLibrary;

constexpr uint32_t kFileWaitMs = 30000;

// The exports a host of this test calls, bound by name as a late-binding host
// binds them.
struct Exports {
    explicit Exports(const SharedLibrary& library)
        : setPoints(Bind<IntSetter>(library, "spectrometer_setPoints")),
          setScans(Bind<IntSetter>(library, "spectrometer_setScans")),
          setFiles(Bind<IntSetter>(library, "spectrometer_setFiles")),
          setCoaddEvent(Bind<HandleSetter>(library, "spectrometer_setCoaddCompleteEventHandle")),
          open(Bind<IntSetter>(library, "spectrometer_open")),
          initialize(Bind<Action>(library, "spectrometer_initialize")),
          calibrationScan(Bind<Action>(library, "spectrometer_calibrationScan")),
          startCoadd(Bind<Action>(library, "spectrometer_startCoadd")),
          getStatus(Bind<Action>(library, "spectrometer_getStatus")),
          getFileProgress(Bind<Action>(library, "spectrometer_getFileProgress")),
          stop(Bind<Action>(library, "spectrometer_stop")),
          close(Bind<Action>(library, "spectrometer_close")) {}

    using IntSetter = int(NADIXQ_CALL*)(int);
    using HandleSetter = int(NADIXQ_CALL*)(nadixq_handle);
    using Action = int(NADIXQ_CALL*)();

    template <typename Function>
    static Function Bind(const SharedLibrary& library, const char* name) {
        return reinterpret_cast<Function>(library.Symbol(name));
    }
    bool Complete() const {
        return setPoints && setScans && setFiles && setCoaddEvent && open && initialize &&
               calibrationScan && startCoadd && getStatus && getFileProgress && stop && close;
    }

    // Opens the simulated model 1 and starts a run of `files` files (0: until
    // stopped) that signals `coadd` after each.
    bool StartRun(int files, const HostEvent& coadd) const {
        setPoints(2048);
        setScans(2);
        setFiles(files);
        setCoaddEvent(coadd.Handle());
        return open(1) == 0 && initialize() == 0 && calibrationScan() == 0 && startCoadd() == 0;
    }

    IntSetter setPoints;
    IntSetter setScans;
    IntSetter setFiles;
    HandleSetter setCoaddEvent;
    IntSetter open;
    Action initialize;
    Action calibrationScan;
    Action startCoadd;
    Action getStatus;
    Action getFileProgress;
    Action stop;
    Action close;
};

TEST(LibraryUnloadDuringRun, HostUnloadsMidRunSurvivesLoadsAgainStopsAndUnloads) {
    const char* path = NADIXQ_SHARED_LIBRARY;
    HostEvent coadd;
    ASSERT_TRUE(coadd.Valid());

    // A host that never ran an acquisition unloads the library completely.
    {
        SharedLibrary library(path);
        ASSERT_TRUE(library.Loaded()) << library.Error();
        Exports api(library);
        ASSERT_TRUE(api.Complete());
        EXPECT_EQ(api.setScans(3), 3);
    }
    EXPECT_FALSE(SharedLibrary::InMemory(path));

    // A continuous run, and the host drops the library after its first file.
    auto first = std::make_unique<SharedLibrary>(path);
    ASSERT_TRUE(first->Loaded()) << first->Error();
    {
        Exports api(*first);
        ASSERT_TRUE(api.StartRun(0, coadd));
    }
    ASSERT_GT(coadd.Wait(kFileWaitMs), 0u);
    first.reset();

    // The scan thread goes on running the library's code, file after file.
    EXPECT_TRUE(SharedLibrary::InMemory(path));
    for (int file = 0; file < 3; ++file) ASSERT_GT(coadd.Wait(kFileWaitMs), 0u) << file;

    // Loaded again: the same instance, still acquiring, and it stops and closes.
    auto second = std::make_unique<SharedLibrary>(path);
    ASSERT_TRUE(second->Loaded()) << second->Error();
    {
        Exports api(*second);
        ASSERT_TRUE(api.Complete());
        EXPECT_EQ(api.getStatus(), NADIXQ_STATUS_ACQUIRING);
        EXPECT_GE(api.getFileProgress(), 4);
        EXPECT_EQ(api.stop(), 0);
        EXPECT_EQ(api.getStatus(), NADIXQ_STATUS_READY);
        api.close();
        api.setCoaddEvent(nullptr);
    }
    second.reset();
    // The thread's hold ended with the thread, so the host's unload was the last.
    EXPECT_EQ(SharedLibrary::InMemory(path), !SharedLibrary::LeavesAfterARun());
}

TEST(LibraryUnloadDuringRun, RunThatEndsAfterTheHostUnloadedTakesTheLibraryAlong) {
    if (!SharedLibrary::LeavesAfterARun()) {
        GTEST_SKIP() << "a library that ran stays resident on this system";
    }
    const char* path = NADIXQ_SHARED_LIBRARY;
    HostEvent coadd;
    ASSERT_TRUE(coadd.Valid());
    auto library = std::make_unique<SharedLibrary>(path);
    ASSERT_TRUE(library->Loaded()) << library->Error();
    {
        Exports api(*library);
        ASSERT_TRUE(api.Complete());
        ASSERT_TRUE(api.StartRun(3, coadd));
    }
    ASSERT_GT(coadd.Wait(kFileWaitMs), 0u);
    library.reset();

    // The scan thread finishes the run and lets go of the library last: the
    // library is unloaded on the scan thread's way out. Nothing signals that
    // moment to the host, so it is polled for.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (SharedLibrary::InMemory(path) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_FALSE(SharedLibrary::InMemory(path));

    // Loaded again, it is a new instance that starts from its defaults.
    SharedLibrary again(path);
    ASSERT_TRUE(again.Loaded()) << again.Error();
    Exports api(again);
    EXPECT_EQ(api.getStatus(), NADIXQ_STATUS_UNOPENED);
}

}  // namespace
