#include "nadixq-dbgview/debug_listener.h"

#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

namespace nadixq::dbgview {

CDebugListener::CDebugListener(const char* name, int receiveTimeoutMs) {
    _fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (_fd < 0) {
        _error = errno;
        return;
    }
    int on = 1;
    setsockopt(_fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof on);
    if (receiveTimeoutMs > 0) {
        timeval timeout{receiveTimeoutMs / 1000, (receiveTimeoutMs % 1000) * 1000};
        setsockopt(_fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    // The abstract namespace: a leading NUL and no terminating one.
    size_t length = std::strlen(name);
    if (length > sizeof address.sun_path - 1) length = sizeof address.sun_path - 1;
    std::memcpy(address.sun_path + 1, name, length);
    auto addressLength = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
    _bound = bind(_fd, reinterpret_cast<sockaddr*>(&address), addressLength) == 0;
    if (!_bound) _error = errno;
}

CDebugListener::~CDebugListener() {
    if (_fd >= 0) close(_fd);
}

bool CDebugListener::Receive(std::string* text, pid_t* sender) {
    if (!_bound) return false;
    char buffer[4096];
    char control[CMSG_SPACE(sizeof(ucred))];
    iovec part{buffer, sizeof buffer};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    ssize_t received = recvmsg(_fd, &message, 0);
    if (received < 0) return false;
    pid_t pid = 0;
    for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr;
         header = CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level == SOL_SOCKET && header->cmsg_type == SCM_CREDENTIALS) {
            ucred credentials{};
            std::memcpy(&credentials, CMSG_DATA(header), sizeof credentials);
            pid = credentials.pid;
        }
    }
    text->assign(buffer, static_cast<size_t>(received));
    *sender = pid;
    return true;
}

}  // namespace nadixq::dbgview
