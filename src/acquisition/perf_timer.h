// A stopwatch on the platform's high-resolution counter, corrected for the
// cost of reading the counter itself.
#pragma once

#include <atomic>
#include <cstdint>

namespace nadixq {

class CPerfTimer {
  public:
    // The first timer of the process reads the counter frequency and
    // calibrates the overhead; then the timer starts when `startNow` is true.
    explicit CPerfTimer(bool startNow = false);
    virtual ~CPerfTimer();
    // Copies the tick count under both timers' Lock (source first).
    CPerfTimer(const CPerfTimer& other);
    CPerfTimer& operator=(const CPerfTimer& other);

    // Hooks around every access to the tick count; a timer shared between
    // threads overrides them with a real lock. Nothing here.
    virtual void Lock() const {}
    virtual void Unlock() const {}

    // Starts the timer. A stopped timer resumes with its accumulated time
    // unless `restart`; a running one restarts from now.
    void Start(bool restart = false);
    // Stops a running timer and keeps the elapsed ticks, less the overhead.
    void Stop();
    // Milliseconds measured so far; a running timer keeps running.
    double ElapsedMs() const;

    // True when the platform has a usable counter (at least 2 ticks a second).
    static bool IsAvailable();
    static int64_t Frequency() { return s_frequency.load(std::memory_order_relaxed); }

  private:
    static void InitialiseClassValues(CPerfTimer& calibrator);

    // 0: reset; > 0: running, the counter value at the (adjusted) start;
    // < 0: stopped, minus the measured ticks.
    int64_t _ticks = 0;

    // Written once, during the first construction in the process (under a
    // once-flag); read by every timer afterwards.
    static std::atomic<int64_t> s_frequency;
    // Minus the ticks of a Start immediately followed by Stop (0 or less).
    static std::atomic<int64_t> s_overhead;
};

}  // namespace nadixq
