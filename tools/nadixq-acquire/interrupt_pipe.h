// Ctrl-C (SIGINT) and SIGTERM as a readable descriptor, so that the run's one
// poll() waits for the board's events and the user's interrupt together.
#pragma once

namespace acquire {

class CInterruptPipe {
  public:
    // Installs the handlers. A second interrupt falls back to the default
    // action, so a stuck program can still be ended.
    CInterruptPipe();
    ~CInterruptPipe();
    CInterruptPipe(const CInterruptPipe&) = delete;
    CInterruptPipe& operator=(const CInterruptPipe&) = delete;

    // Readable once an interrupt arrived; -1 when the pipe could not be made.
    int Fd() const { return _read; }
    // Whether an interrupt arrived (drains the pipe).
    bool Interrupted();

  private:
    int _read = -1;
    int _write = -1;
    bool _seen = false;
};

}  // namespace acquire
