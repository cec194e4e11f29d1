// The debugger channel on POSIX: each message is one datagram to the abstract
// Unix socket "nadixq-debug-<uid>". Nobody listening costs one failed send.
//
// The channel is never destroyed by static destruction: a host that exits
// without unloading the library runs the library's static destructors before
// the unload notification, whose line must still find the socket open. The
// unload closes it after that line (CloseDebugChannel).
#include "platform/posix/debug_output.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>

#include "platform/platform.h"

namespace nadixq::platform {
namespace {

struct Channel {
    std::atomic<int> socket{-1};
    sockaddr_un address{};
    socklen_t addressLength = 0;
    char name[64] = {};

    Channel() {
        std::snprintf(name, sizeof name, "nadixq-debug-%u", static_cast<unsigned>(getuid()));
        address.sun_family = AF_UNIX;
        // Abstract namespace: a leading NUL, then the name without terminator.
        size_t length = std::strlen(name);
        std::memcpy(address.sun_path + 1, name, length);
        addressLength = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
        socket.store(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    }
};

// Built on first use in storage of its own, and never destroyed.
Channel& TheChannel() {
    alignas(Channel) static unsigned char storage[sizeof(Channel)];
    static Channel* const channel = new (storage) Channel;
    return *channel;
}

std::atomic<bool> g_sinkInstalled{false};
std::mutex g_sinkMutex;
DebugSink g_sink = nullptr;
void* g_sinkContext = nullptr;

}  // namespace

void DebugOutput(const char* message) {
    if (message == nullptr) return;
    Channel& channel = TheChannel();
    const int socket = channel.socket.load();
    if (socket >= 0) {
        sendto(socket, message, std::strlen(message), MSG_DONTWAIT | MSG_NOSIGNAL,
               reinterpret_cast<const sockaddr*>(&channel.address), channel.addressLength);
    }
    if (g_sinkInstalled.load(std::memory_order_acquire)) {
        std::lock_guard<std::mutex> lock(g_sinkMutex);
        if (g_sink != nullptr) g_sink(message, g_sinkContext);
    }
}

void SetDebugSink(DebugSink sink, void* context) {
    std::lock_guard<std::mutex> lock(g_sinkMutex);
    g_sink = sink;
    g_sinkContext = context;
    g_sinkInstalled.store(sink != nullptr, std::memory_order_release);
}

const char* DebugChannelName() {
    return TheChannel().name;
}

void CloseDebugChannel() {
    const int socket = TheChannel().socket.exchange(-1);
    if (socket >= 0) close(socket);
}

}  // namespace nadixq::platform
