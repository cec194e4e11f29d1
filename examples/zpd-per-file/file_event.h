/* The host's file-complete event, the one piece of the example that differs
 * per system: an eventfd on Linux (file_event_posix.cpp), a Win32 event on
 * Windows (file_event_win32.cpp). */
#pragma once

#include <nadixq/nadixq.h>

struct file_event;

file_event* file_event_create();
void file_event_destroy(file_event* event);
/* The value spectrometer_setCoaddCompleteEventHandle takes. */
nadixq_handle file_event_handle(file_event* event);
/* Waits up to timeout_ms for a signal and takes it; true when one came. */
bool file_event_wait(file_event* event, int timeout_ms);
