#include "app/WakePipe.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace {

// Non-blocking, so that a full pipe (a wake already pending) never holds the
// waker and an empty one never holds the waiter; closed on exec, so that a
// program the installer starts does not keep it.
bool Prepare(int fd) {
    const int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0 &&
           fcntl(fd, F_SETFD, FD_CLOEXEC) == 0;
}

}  // namespace

WakePipe::WakePipe() : m_readFd(-1), m_writeFd(-1) {
    int fds[2];
    if (pipe(fds) != 0) {
        return;
    }
    if (!Prepare(fds[0]) || !Prepare(fds[1])) {
        close(fds[0]);
        close(fds[1]);
        return;
    }
    m_readFd = fds[0];
    m_writeFd = fds[1];
}

WakePipe::~WakePipe() {
    if (m_readFd >= 0) {
        close(m_readFd);
        close(m_writeFd);
    }
}

void WakePipe::Wake() {
    if (m_writeFd < 0) {
        return;
    }
    const char byte = 1;
    // EAGAIN: the pipe is full, so the waiter has wakes enough to take.
    while (write(m_writeFd, &byte, 1) < 0 && errno == EINTR) {
    }
}

bool WakePipe::Drain() {
    if (m_readFd < 0) {
        return false;
    }
    bool woken = false;
    char bytes[64];
    for (;;) {
        const ssize_t got = read(m_readFd, bytes, sizeof(bytes));
        if (got > 0) {
            woken = true;
            continue;
        }
        if (got < 0 && errno == EINTR) {
            continue;
        }
        return woken;
    }
}

bool WakePipe::Wait(int timeoutMs) {
    // A negative descriptor is ignored by poll, which then only sleeps.
    struct pollfd watch = {m_readFd, POLLIN, 0};
    if (poll(&watch, 1, timeoutMs < 0 ? 0 : timeoutMs) <= 0) {
        return false;
    }
    return Drain();
}
