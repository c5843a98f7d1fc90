#include "link/PosixSerialPort.h"

#include <cerrno>
#include <chrono>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// Milliseconds left until deadline, rounded up so a poll never wakes early
// and spins; 0 once it has passed.
int MsUntil(Clock::time_point deadline) {
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) return 0;
    return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
}

// Waits for events on fd until deadline; the events seen, 0 on time-out.
short WaitFor(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        pollfd entry = {fd, events, 0};
        const int ready = poll(&entry, 1, MsUntil(deadline));
        if (ready > 0) return entry.revents;
        if (ready == 0) return 0;
        if (errno != EINTR) return POLLERR;
    }
}

std::string OpenError(int error) {
    switch (error) {
        case EBUSY:
        case EWOULDBLOCK:
            return "in use by another program";
        case ENOTTY:
        case EINVAL:
            return "not a serial device";
        default:
            return std::strerror(error);
    }
}

}  // namespace

PosixSerialPort::~PosixSerialPort() { Close(); }

bool PosixSerialPort::Open(const char* device, std::string& error) {
    Close();
    m_fd = ::open(device, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0) {
        error = OpenError(errno);
        return false;
    }
    // TIOCEXCL alone does not stop root (or anything with CAP_SYS_ADMIN) from
    // opening the device again; the advisory lock stops every program that
    // asks for it, this one included.
    termios line = {};
    const bool opened = flock(m_fd, LOCK_EX | LOCK_NB) == 0 && tcgetattr(m_fd, &line) == 0 &&
                        ioctl(m_fd, TIOCEXCL) == 0;
    if (opened) {
        cfmakeraw(&line);
        cfsetispeed(&line, B9600);
        cfsetospeed(&line, B9600);
        line.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
        line.c_cflag |= CS8 | CLOCAL | CREAD;
        line.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
        // With VMIN 1 a read with nothing there says EAGAIN and only a hang-up
        // reads 0; the time bounds are ours, with poll().
        line.c_cc[VMIN] = 1;
        line.c_cc[VTIME] = 0;
    }
    if (!opened || tcsetattr(m_fd, TCSANOW, &line) != 0) {
        error = OpenError(errno);
        Close();
        return false;
    }
    tcflush(m_fd, TCIOFLUSH);
    return true;
}

void PosixSerialPort::Close() {
    if (m_fd < 0) return;
    // The exclusive mark outlives this descriptor while anything else holds
    // the device (a simulator holds its pty): without clearing it, the next
    // open by a user without root would be refused.
    ioctl(m_fd, TIOCNXCL);
    ::close(m_fd);  // drops the advisory lock too
    m_fd = -1;
}

bool PosixSerialPort::Write(const void* bytes, size_t count) {
    if (m_fd < 0) return false;
    const auto deadline = Clock::now() + std::chrono::milliseconds(kWriteMs);
    const char* next = static_cast<const char*>(bytes);
    size_t left = count;
    while (left > 0) {
        const ssize_t written = ::write(m_fd, next, left);
        if (written > 0) {
            next += written;
            left -= static_cast<size_t>(written);
            continue;
        }
        if (written < 0 && errno == EINTR) continue;
        if (written < 0 && errno != EAGAIN) break;
        // A held line (output stopped by flow control the far end asserts):
        // wait for room, but no longer than the bound.
        const short events = WaitFor(m_fd, POLLOUT, deadline);
        if ((events & POLLOUT) == 0) break;
    }
    if (left == 0) return true;
    // What did not go out must not go out later, when the line is released.
    tcflush(m_fd, TCOFLUSH);
    return false;
}

size_t PosixSerialPort::Read(void* buffer, size_t count) {
    if (m_fd < 0) return 0;
    const auto deadline =
        Clock::now() + std::chrono::milliseconds(kReadConstantMs + kReadPerByteMs * count);
    char* next = static_cast<char*>(buffer);
    size_t received = 0;
    while (received < count) {
        const ssize_t got = ::read(m_fd, next + received, count - received);
        if (got > 0) {
            received += static_cast<size_t>(got);
            continue;
        }
        if (got < 0 && errno == EINTR) continue;
        // 0 is a hang-up (an unplugged adapter); EIO the far end of a pty
        // gone. Anything but "nothing yet" ends the read.
        if (got == 0 || errno != EAGAIN) break;
        const short events = WaitFor(m_fd, POLLIN, deadline);
        if ((events & POLLIN) == 0) break;
    }
    return received;
}

bool PosixSerialPort::Purge() { return m_fd >= 0 && tcflush(m_fd, TCIOFLUSH) == 0; }
