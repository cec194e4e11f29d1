#include "interface/reader_gate.h"

#include "platform/platform.h"

namespace nadixq {

namespace {

constexpr uint32_t kReaderMask = 0xFFFFu;
constexpr uint32_t kGenerationStep = 0x10000u;

}  // namespace

uint32_t CReaderGate::Enter() {
    // Sequentially consistent, like the pointer's load after it and the
    // closer's store of null before its exchange: either this enter is
    // counted in the generation the closer waits for, or the load comes after
    // the null.
    return _word.fetch_add(1) & ~kReaderMask;
}

void CReaderGate::Leave(uint32_t ticket) {
    uint32_t word = _word.load();
    while ((word & ~kReaderMask) == ticket) {
        if (_word.compare_exchange_weak(word, word - 1)) return;
    }
    // The generation was closed while this reader was inside: the closer
    // counts it among the departed.
    _departed.fetch_add(1);
}

void CReaderGate::WaitForEarlierReaders() {
    // No reader of the current generation can have departed through the
    // closed-generation path yet: that path opens with the exchange below.
    _departed.store(0);
    uint32_t word = _word.load();
    uint32_t next = 0;
    do {
        next = (word & ~kReaderMask) + kGenerationStep;
    } while (!_word.compare_exchange_weak(word, next));
    const uint32_t inside = word & kReaderMask;
    // Each reader inside does at most one copy of a file: a short wait.
    for (uint32_t spins = 0; _departed.load() < inside; ++spins) {
        platform::Sleep(spins < 64 ? 0 : 1);
    }
}

}  // namespace nadixq
