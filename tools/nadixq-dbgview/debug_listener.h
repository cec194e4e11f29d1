// The receiving end of the library's debugger channel on Linux: the abstract
// datagram socket each trace line is sent to, with the sender's credentials
// passed along so that every line can be told by its process.
#pragma once

#include <sys/types.h>

#include <string>

namespace nadixq::dbgview {

class CDebugListener {
  public:
    // Binds the abstract socket `name`; a receive then waits at most
    // `receiveTimeoutMs` (0: until a line arrives or a signal interrupts it).
    explicit CDebugListener(const char* name, int receiveTimeoutMs = 0);
    ~CDebugListener();
    CDebugListener(const CDebugListener&) = delete;
    CDebugListener& operator=(const CDebugListener&) = delete;

    // False when the socket could not be made or bound (another listener
    // holds the name); errno of the failure in Error().
    bool Bound() const { return _bound; }
    int Error() const { return _error; }

    // One line as sent (its newline included) and the sender's pid (0 when
    // the credentials did not come along). False on a time-out, a signal or
    // an error, with nothing stored.
    bool Receive(std::string* text, pid_t* sender);

  private:
    int _fd = -1;
    bool _bound = false;
    int _error = 0;
};

}  // namespace nadixq::dbgview
