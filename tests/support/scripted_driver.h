// A fake board driver for tests: installed in the driver registry for one or
// both interface classes, it records every request and answers from a script.
// Thread-safe: the scan thread and the test's thread may call it at once.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "device/driver_channel.h"
#include "device/driver_records.h"

namespace nadixq::test {

class ScriptedDriver : public IDriver {
  public:
    struct Request {
        uint32_t code;
        std::vector<uint8_t> in;
        uint32_t outSize;
    };

    struct Reply {
        bool ok = true;
        uint32_t error = 0;          // the request's error when !ok
        std::vector<uint8_t> bytes;  // copied to the start of the reply buffer

        static Reply Failure(uint32_t error) { return Reply{false, error, {}}; }
        template <typename Record>
        static Reply Of(const Record& record) {
            Reply reply;
            reply.bytes.resize(sizeof(Record));
            std::memcpy(reply.bytes.data(), &record, sizeof(Record));
            return reply;
        }
    };

    // Registers for `interfaceClass`; the destructor restores what was there.
    explicit ScriptedDriver(const platform::Guid& interfaceClass);
    // Registers for both interface classes.
    ScriptedDriver();
    ~ScriptedDriver() override;

    // Open fails with this error from now on (0: open succeeds).
    void SetOpenError(uint32_t error);
    // The next request with `code` gets `reply` (first queued, first used).
    void Queue(uint32_t code, Reply reply);
    // Requests with `code` and nothing queued get `reply`; without a default a
    // request succeeds and leaves the reply buffer as it was.
    void SetDefault(uint32_t code, Reply reply);

    std::vector<Request> Requests() const;
    std::vector<Request> RequestsWith(uint32_t code) const;
    size_t RequestCount(uint32_t code) const;
    void ClearRequests();
    int OpenCount() const;
    // Waits until at least `count` requests with `code` were answered.
    bool WaitForRequests(uint32_t code, size_t count, int timeoutMs = 20000) const;

    std::unique_ptr<IDriverSession> Open(const platform::Guid& interfaceClass, uint32_t memberIndex,
                                         uint32_t* error) override;

    // Builds a transfer with `ifg_complete` = status and the samples of one
    // channel (single board), or of both channels (dual board).
    static Reply SingleTransferReply(uint32_t status, const std::vector<int16_t>& samples = {});
    static Reply DualTransferReply(uint32_t status, const std::vector<int16_t>& low = {},
                                   const std::vector<int16_t>& high = {});

  private:
    class Session;
    bool Answer(uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize,
                uint32_t* error);

    std::vector<platform::Guid> _classes;
    std::vector<IDriver*> _previous;
    mutable std::mutex _mutex;
    mutable std::condition_variable _answered;
    uint32_t _openError = 0;
    int _openCount = 0;
    std::map<uint32_t, std::deque<Reply>> _queued;
    std::map<uint32_t, Reply> _defaults;
    std::vector<Request> _requests;
};

}  // namespace nadixq::test
