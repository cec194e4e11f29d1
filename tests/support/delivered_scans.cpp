#include "support/delivered_scans.h"

#include "sim/nadixq_sim.h"

namespace nadixq::test {

DeliveredScans::DeliveredScans() {
    nadixq_sim_set_transfer_hook(&DeliveredScans::Hook, this);
}

DeliveredScans::~DeliveredScans() {
    nadixq_sim_set_transfer_hook(nullptr, nullptr);
}

void NADIXQ_SIM_CALL DeliveredScans::Hook(void* context, int scan, const int16_t* low,
                                          const int16_t* high, int count) {
    auto* self = static_cast<DeliveredScans*>(context);
    std::lock_guard<std::mutex> lock(self->_mutex);
    Scan& entry = self->_scans[scan];
    entry.low.assign(low, low + count);
    if (high != nullptr) entry.high.assign(high, high + count);
}

std::vector<double> DeliveredScans::WindowMean(int first, int last, int start, int points,
                                               bool high) const {
    std::lock_guard<std::mutex> lock(_mutex);
    if (first > last || start < 0 || points < 0) return {};
    std::vector<double> sum(static_cast<size_t>(points), 0.0);
    for (int scan = first; scan <= last; ++scan) {
        auto found = _scans.find(scan);
        if (found == _scans.end()) return {};
        const std::vector<int16_t>& samples = high ? found->second.high : found->second.low;
        if (samples.size() < static_cast<size_t>(start) + static_cast<size_t>(points)) return {};
        for (int i = 0; i < points; ++i) sum[i] += samples[start + i];
    }
    const double factor = 1.0 / (last - first + 1);
    for (double& value : sum) value *= factor;
    return sum;
}

size_t DeliveredScans::Count() const {
    std::lock_guard<std::mutex> lock(_mutex);
    return _scans.size();
}

void DeliveredScans::ForgetBefore(int scan) {
    std::lock_guard<std::mutex> lock(_mutex);
    _scans.erase(_scans.begin(), _scans.lower_bound(scan));
}

}  // namespace nadixq::test
