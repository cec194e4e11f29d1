#include "support/scripted_driver.h"

#include <algorithm>
#include <chrono>

namespace nadixq::test {

class ScriptedDriver::Session : public IDriverSession {
  public:
    explicit Session(ScriptedDriver* driver) : _driver(driver) {}
    bool Control(uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize,
                 uint32_t* error) override {
        return _driver->Answer(code, in, inSize, out, outSize, error);
    }

  private:
    ScriptedDriver* _driver;
};

ScriptedDriver::ScriptedDriver(const platform::Guid& interfaceClass) {
    _classes.push_back(interfaceClass);
    _previous.push_back(RegisteredDriver(interfaceClass));
    RegisterDriver(interfaceClass, this);
}

ScriptedDriver::ScriptedDriver() {
    for (const auto& cls : {GUID_ACQ_INTERFACE_A, GUID_ACQ_INTERFACE_B}) {
        _classes.push_back(cls);
        _previous.push_back(RegisteredDriver(cls));
        RegisterDriver(cls, this);
    }
}

ScriptedDriver::~ScriptedDriver() {
    for (size_t i = 0; i < _classes.size(); ++i) RegisterDriver(_classes[i], _previous[i]);
}

void ScriptedDriver::SetOpenError(uint32_t error) {
    std::lock_guard<std::mutex> lock(_mutex);
    _openError = error;
}

void ScriptedDriver::Queue(uint32_t code, Reply reply) {
    std::lock_guard<std::mutex> lock(_mutex);
    _queued[code].push_back(std::move(reply));
}

void ScriptedDriver::SetDefault(uint32_t code, Reply reply) {
    std::lock_guard<std::mutex> lock(_mutex);
    _defaults[code] = std::move(reply);
}

std::vector<ScriptedDriver::Request> ScriptedDriver::Requests() const {
    std::lock_guard<std::mutex> lock(_mutex);
    return _requests;
}

std::vector<ScriptedDriver::Request> ScriptedDriver::RequestsWith(uint32_t code) const {
    std::vector<Request> matching;
    for (auto& request : Requests()) {
        if (request.code == code) matching.push_back(request);
    }
    return matching;
}

size_t ScriptedDriver::RequestCount(uint32_t code) const {
    return RequestsWith(code).size();
}

void ScriptedDriver::ClearRequests() {
    std::lock_guard<std::mutex> lock(_mutex);
    _requests.clear();
}

int ScriptedDriver::OpenCount() const {
    std::lock_guard<std::mutex> lock(_mutex);
    return _openCount;
}

bool ScriptedDriver::WaitForRequests(uint32_t code, size_t count, int timeoutMs) const {
    std::unique_lock<std::mutex> lock(_mutex);
    return _answered.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        return static_cast<size_t>(
                   std::count_if(_requests.begin(), _requests.end(),
                                 [&](const Request& r) { return r.code == code; })) >= count;
    });
}

std::unique_ptr<IDriverSession> ScriptedDriver::Open(const platform::Guid&, uint32_t,
                                                     uint32_t* error) {
    std::lock_guard<std::mutex> lock(_mutex);
    ++_openCount;
    if (_openError != 0) {
        *error = _openError;
        return nullptr;
    }
    *error = 0;
    return std::make_unique<Session>(this);
}

bool ScriptedDriver::Answer(uint32_t code, const void* in, uint32_t inSize, void* out,
                            uint32_t outSize, uint32_t* error) {
    bool ok = true;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        Request request{code, {}, outSize};
        if (in != nullptr && inSize > 0) {
            auto* bytes = static_cast<const uint8_t*>(in);
            request.in.assign(bytes, bytes + inSize);
        }
        _requests.push_back(std::move(request));

        const Reply* reply = nullptr;
        Reply taken;
        auto queued = _queued.find(code);
        if (queued != _queued.end() && !queued->second.empty()) {
            taken = std::move(queued->second.front());
            queued->second.pop_front();
            reply = &taken;
        } else if (auto fallback = _defaults.find(code); fallback != _defaults.end()) {
            reply = &fallback->second;
        }
        if (reply != nullptr) {
            ok = reply->ok;
            if (!ok) {
                *error = reply->error;
            } else if (out != nullptr) {
                size_t count = std::min<size_t>(reply->bytes.size(), outSize);
                std::memcpy(out, reply->bytes.data(), count);
            }
        }
    }
    _answered.notify_all();
    return ok;
}

ScriptedDriver::Reply ScriptedDriver::SingleTransferReply(uint32_t status,
                                                          const std::vector<int16_t>& samples) {
    auto transfer = std::make_unique<SingleTransfer>();
    std::memset(transfer.get(), 0, sizeof(SingleTransfer));
    transfer->header.ifg_complete = status;
    std::copy_n(samples.begin(), std::min<size_t>(samples.size(), kChannelSamples),
                transfer->samples);
    return Reply::Of(*transfer);
}

ScriptedDriver::Reply ScriptedDriver::DualTransferReply(uint32_t status,
                                                        const std::vector<int16_t>& low,
                                                        const std::vector<int16_t>& high) {
    auto transfer = std::make_unique<DualTransfer>();
    std::memset(transfer.get(), 0, sizeof(DualTransfer));
    transfer->header.ifg_complete = status;
    std::copy_n(low.begin(), std::min<size_t>(low.size(), kChannelSamples), transfer->low);
    std::copy_n(high.begin(), std::min<size_t>(high.size(), kChannelSamples), transfer->high);
    return Reply::Of(*transfer);
}

}  // namespace nadixq::test
