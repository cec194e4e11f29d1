#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "file_event.h"

struct file_event {
    HANDLE handle;
};

file_event* file_event_create() {
    file_event* event = new file_event;
    /* Auto-reset: the wait that sees the signal also clears it. */
    event->handle = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (event->handle == nullptr) {
        delete event;
        return nullptr;
    }
    return event;
}

void file_event_destroy(file_event* event) {
    CloseHandle(event->handle);
    delete event;
}

nadixq_handle file_event_handle(file_event* event) {
    return event->handle;
}

bool file_event_wait(file_event* event, int timeout_ms) {
    return WaitForSingleObject(event->handle, static_cast<DWORD>(timeout_ms)) == WAIT_OBJECT_0;
}
