// glibc's allocator interposed: the program's own malloc and friends count the
// call and hand it on to glibc's implementation. Everything in the process
// allocates through them: the library, the C++ runtime and the C runtime.
#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdint>

#include "support/allocation_counter.h"

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void __libc_free(void* block);
}

namespace {

std::atomic<bool> g_counting{false};
std::atomic<uint64_t> g_allocations{0};

void Count() {
    if (g_counting.load(std::memory_order_relaxed)) {
        g_allocations.fetch_add(1, std::memory_order_relaxed);
    }
}

}  // namespace

extern "C" {

void* malloc(size_t size) {
    Count();
    return __libc_malloc(size);
}

void* calloc(size_t count, size_t size) {
    Count();
    return __libc_calloc(count, size);
}

void* realloc(void* block, size_t size) {
    Count();
    return __libc_realloc(block, size);
}

void* memalign(size_t alignment, size_t size) {
    Count();
    return __libc_memalign(alignment, size);
}

void* aligned_alloc(size_t alignment, size_t size) {
    Count();
    return __libc_memalign(alignment, size);
}

int posix_memalign(void** block, size_t alignment, size_t size) {
    Count();
    void* result = __libc_memalign(alignment, size);
    if (result == nullptr) return ENOMEM;
    *block = result;
    return 0;
}

void free(void* block) {
    __libc_free(block);
}

}  // extern "C"

namespace nadixq::bench {

void StartCountingAllocations() {
    g_allocations.store(0);
    g_counting.store(true);
}

uint64_t StopCountingAllocations() {
    g_counting.store(false);
    return g_allocations.load();
}

}  // namespace nadixq::bench
