#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

#include "file_event.h"

struct file_event {
    int fd;
};

file_event* file_event_create() {
    file_event* event = new file_event;
    event->fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (event->fd < 0) {
        delete event;
        return nullptr;
    }
    return event;
}

void file_event_destroy(file_event* event) {
    close(event->fd);
    delete event;
}

nadixq_handle file_event_handle(file_event* event) {
    return reinterpret_cast<nadixq_handle>(static_cast<intptr_t>(event->fd));
}

bool file_event_wait(file_event* event, int timeout_ms) {
    struct pollfd ready = {event->fd, POLLIN, 0};
    uint64_t count = 0;
    if (poll(&ready, 1, timeout_ms) != 1) return false;
    /* One signal per file: take one (the eventfd counts them). */
    return read(event->fd, &count, sizeof count) == sizeof count;
}
