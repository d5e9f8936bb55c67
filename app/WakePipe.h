#pragma once

// A wake-up for a thread that waits for events: any thread calls Wake, and the waiter's Wait, or a
// run loop that watches ReadFd, returns at once. Wakes that come before the waiter looks are kept
// until it does and merge into one. Built on a pipe, so waiting costs no
// processor time and a wake needs no lock.
//
// When the pipe cannot be made (no descriptors left), Wake does nothing,
// Wait only waits out its timeout and ReadFd is -1: the waiter falls back to
// looking on a timer.
class WakePipe {
public:
    WakePipe();
    ~WakePipe();
    WakePipe(const WakePipe&) = delete;
    WakePipe& operator=(const WakePipe&) = delete;

    // Safe from any thread; never blocks.
    void Wake();
    // The waiter's side. Waits at most timeoutMs (0: only looks) for a wake
    // and takes every wake that came. True when there was one; false after
    // the timeout or when a signal interrupted the wait.
    bool Wait(int timeoutMs);
    // Takes every wake that came, without waiting; true when there was one.
    bool Drain();
    // Readable while a wake is pending; for a run loop to watch. -1 when the
    // pipe could not be made.
    int ReadFd() const { return m_readFd; }

private:
    int m_readFd;
    int m_writeFd;
};
