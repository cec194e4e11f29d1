// Lets host threads use an object that another host thread may free: a reader
// enters the gate before it loads the object's pointer and leaves it when done;
// the thread that frees the object first clears the pointer, then waits at the
// gate for the readers that may still hold it, and only for those.
#pragma once

#include <atomic>
#include <cstdint>

namespace nadixq {

class CReaderGate {
  public:
    // Enters the gate; the result is the ticket to leave it with. Never
    // blocks: one atomic add.
    uint32_t Enter();
    void Leave(uint32_t ticket);
    // Waits until every reader that entered before this call has left. Readers
    // that enter meanwhile are not waited for, so a steady stream of them
    // cannot hold the caller off. One caller at a time.
    void WaitForEarlierReaders();

  private:
    // The generation in the high 16 bits, the readers inside it in the low 16:
    // a reader's enter and the closer's change of generation are one atomic
    // operation each, so every reader is counted in exactly one generation.
    std::atomic<uint32_t> _word{0};
    // Readers of the closed generation that have left since it was closed.
    std::atomic<uint32_t> _departed{0};
};

}  // namespace nadixq
