// A host that survives a fault inside getData (an array too short, caught
// with a signal handler as some hosts do) must not leave the buffer's lock
// held: the scan thread's next store would block for ever. Only POSIX lets a
// test place the host's array against an inaccessible page and catch the
// fault.
#include <gtest/gtest.h>
#include <setjmp.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "acquisition/scan_buffer.h"

namespace nadixq {
namespace {

sigjmp_buf g_faulted;

void OnFault(int) {
    siglongjmp(g_faulted, 1);
}

TEST(ScanBufferOnPosix, HostArrayTooShortFaultsOutsideTheLock) {
    constexpr int kPoints = 16384;
    // Left to the process on failure: a blocked thread may still use it.
    auto* buffer = new CScanBuffer;
    const std::vector<double> values(kPoints, 1.5);
    buffer->Store(values.data(), kPoints, 1.0);

    // 1000 doubles, then a page that cannot be touched.
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    const size_t pages = 4;
    auto* base = static_cast<char*>(mmap(nullptr, (pages + 1) * page, PROT_READ | PROT_WRITE,
                                         MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(base, MAP_FAILED);
    ASSERT_EQ(mprotect(base + pages * page, page, PROT_NONE), 0);
    double* const shortArray = reinterpret_cast<double*>(base + pages * page) - 1000;

    struct sigaction handler {
    }, previousSegv{}, previousBus{};
    handler.sa_handler = OnFault;
    sigemptyset(&handler.sa_mask);
    ASSERT_EQ(sigaction(SIGSEGV, &handler, &previousSegv), 0);
    ASSERT_EQ(sigaction(SIGBUS, &handler, &previousBus), 0);
    double stamp = 0.0;
    volatile bool faulted = false;
    if (sigsetjmp(g_faulted, 1) == 0) {
        buffer->Read(shortArray, kPoints, &stamp);
    } else {
        faulted = true;
    }
    sigaction(SIGSEGV, &previousSegv, nullptr);
    sigaction(SIGBUS, &previousBus, nullptr);
    EXPECT_TRUE(faulted);

    // The scan thread's next store still gets the lock.
    std::atomic<bool> stored{false};
    std::thread scanThread([&stored, buffer, &values] {
        buffer->Store(values.data(), kPoints, 2.0);
        stored.store(true);
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!stored.load() && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
    if (!stored.load()) {
        scanThread.detach();
        FAIL() << "the store blocked: the lock was left held by the fault";
    }
    scanThread.join();
    std::vector<double> out(kPoints);
    EXPECT_EQ(buffer->Read(out.data(), kPoints, &stamp), 0);
    EXPECT_EQ(stamp, 2.0);
    munmap(base, (pages + 1) * page);
    delete buffer;
}

}  // namespace
}  // namespace nadixq
