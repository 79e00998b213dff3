// The console's system calls on Linux and other POSIX systems
// (system_console.h): the build compiles this file there and
// system_console_windows.cpp on Windows.
#include "system_console.h"

#include <cerrno>
#include <poll.h>
#include <string_view>
#include <unistd.h>

namespace {

// Left non-blocking by whoever opened it, a file waits here until it is
// ready, instead of failing.
void waitUntilReady(int file, short events)
{
    pollfd ready{file, events, 0};
    poll(&ready, 1, -1);
}

} // namespace

std::ptrdiff_t readStandardInput(char* bytes, std::size_t size)
{
    for (;;) {
        const ssize_t got = read(STDIN_FILENO, bytes, size);
        if (got > 0) {
            return got;
        }
        if (got == 0) {
            // A terminal that hung up reads as empty, as Ctrl-D does; but
            // then it is no terminal any more, which it tells with EIO.
            return isatty(STDIN_FILENO) == 0 && errno == EIO ? -1 : 0;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            waitUntilReady(STDIN_FILENO, POLLIN);
        }
        else if (errno != EINTR) {
            return -1;
        }
    }
}

bool writeStandardOutput(const char* bytes, std::size_t size)
{
    for (std::string_view rest(bytes, size); !rest.empty();) {
        const ssize_t put = write(STDOUT_FILENO, rest.data(), rest.size());
        if (put > 0) {
            rest.remove_prefix(static_cast<std::size_t>(put));
        }
        else if (put < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            waitUntilReady(STDOUT_FILENO, POLLOUT);
        }
        else if (put == 0 || errno != EINTR) {
            return false;
        }
    }
    return true;
}

// A terminal outlives the programs run in it: there is nothing to hold open.
bool ownsItsWindow()
{
    return false;
}

void waitForKeyPress() {}
