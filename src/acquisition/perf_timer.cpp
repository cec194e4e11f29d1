#include "acquisition/perf_timer.h"

#include <mutex>

#include "platform/platform.h"

namespace nadixq {

std::atomic<int64_t> CPerfTimer::s_frequency{0};
std::atomic<int64_t> CPerfTimer::s_overhead{0};

CPerfTimer::CPerfTimer(bool startNow) {
    static std::once_flag once;
    std::call_once(once, [this] { InitialiseClassValues(*this); });
    _ticks = 0;
    if (startNow) Start(false);
}

CPerfTimer::~CPerfTimer() = default;

CPerfTimer::CPerfTimer(const CPerfTimer& other) : _ticks(0) {
    other.Lock();
    Lock();
    _ticks = other._ticks;
    Unlock();
    other.Unlock();
}

CPerfTimer& CPerfTimer::operator=(const CPerfTimer& other) {
    if (this == &other) return *this;
    other.Lock();
    Lock();
    _ticks = other._ticks;
    Unlock();
    other.Unlock();
    return *this;
}

void CPerfTimer::InitialiseClassValues(CPerfTimer& calibrator) {
    int64_t frequency = platform::QueryCounterFrequency();
    s_frequency.store(frequency == 0 ? 1 : frequency, std::memory_order_relaxed);
    // Measure what a Start immediately followed by a Stop costs, with no
    // correction applied yet, so that later intervals can subtract it.
    s_overhead.store(0, std::memory_order_relaxed);
    calibrator._ticks = 0;
    calibrator.Start(false);
    calibrator.Stop();
    s_overhead.store(calibrator._ticks, std::memory_order_relaxed);
    calibrator._ticks = 0;
}

void CPerfTimer::Start(bool restart) {
    // Read before the lock, so that waiting for the lock is not measured.
    int64_t now = platform::QueryCounter();
    Lock();
    if (!restart && _ticks < 0) {
        _ticks += now;
    } else {
        _ticks = now;
    }
    Unlock();
}

void CPerfTimer::Stop() {
    Lock();
    if (_ticks <= 0) {
        Unlock();
        return;
    }
    // Read after the lock, for the same reason as in Start.
    _ticks -= platform::QueryCounter();
    int64_t overhead = s_overhead.load(std::memory_order_relaxed);
    if (_ticks >= overhead) {
        _ticks = 0;  // no longer than reading the counter costs
    } else {
        _ticks -= overhead;
    }
    Unlock();
}

double CPerfTimer::ElapsedMs() const {
    CPerfTimer copy(*this);
    copy.Stop();
    return static_cast<double>(-copy._ticks) * 1000.0 / static_cast<double>(Frequency());
}

bool CPerfTimer::IsAvailable() {
    return Frequency() >= 2;
}

}  // namespace nadixq
