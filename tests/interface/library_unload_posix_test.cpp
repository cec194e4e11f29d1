// Loading and unloading the shared library again and again, as a host that
// binds it only while it needs it: every cycle gives back what it took.
#include <gtest/gtest.h>
#include <malloc.h>

#include <cstddef>

#include "support/shared_library.h"

namespace {

using nadixq::test::SharedLibrary;

size_t HeapInUse() {
    return mallinfo2().uordblks;
}

TEST(LibraryUnload, LoadUnloadCyclesGiveBackWhatTheyTook) {
    // The loader keeps some bookkeeping of its own after the first cycles.
    for (int i = 0; i < 10; ++i) ASSERT_TRUE(SharedLibrary(NADIXQ_SHARED_LIBRARY).Loaded());
    const size_t before = HeapInUse();
    for (int i = 0; i < 200; ++i) {
        SharedLibrary library(NADIXQ_SHARED_LIBRARY);
        ASSERT_TRUE(library.Loaded()) << library.Error();
    }
    // A block lost per cycle would add up to several kilobytes. (Under a
    // sanitizer the heap is its own and this reads flat; its leak check at the
    // exit sees the lost blocks instead.)
    EXPECT_LT(HeapInUse(), before + 1024);
}

}  // namespace
