#include "system_console.h"

#include <algorithm>
#include <string_view>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <array>
#else
#include <cerrno>
#include <poll.h>
#include <unistd.h>
#endif

#ifdef _WIN32

namespace {

// All of the bytes, or false.
bool writeAll(HANDLE output, std::string_view bytes)
{
    while (!bytes.empty()) {
        DWORD put = 0;
        const auto wanted = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), MAXDWORD));
        if (WriteFile(output, bytes.data(), wanted, &put, nullptr) == 0 || put == 0) {
            return false;
        }
        bytes.remove_prefix(put);
    }
    return true;
}

// Shift, Ctrl and Alt alone do not count: they are pressed on the way to
// switching windows.
bool isModifier(WORD virtualKey)
{
    return virtualKey == VK_SHIFT || virtualKey == VK_CONTROL || virtualKey == VK_MENU;
}

} // namespace

std::ptrdiff_t readStandardInput(char* bytes, std::size_t size)
{
    const auto wanted = static_cast<DWORD>(std::min<std::size_t>(size, MAXDWORD));
    DWORD got = 0;
    if (ReadFile(GetStdHandle(STD_INPUT_HANDLE), bytes, wanted, &got, nullptr) != 0) {
        return static_cast<std::ptrdiff_t>(got);
    }
    // A pipe whose writer has closed it: the normal end of a pipe here.
    const DWORD error = GetLastError();
    return error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF ? 0 : -1;
}

// Standard output is text on Windows: each newline goes out as CR LF.
bool writeStandardOutput(const char* bytes, std::size_t size)
{
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    std::array<char, 4096> translated{};
    std::size_t used = 0;
    for (const char byte : std::string_view(bytes, size)) {
        if (used + 2 > translated.size()) {
            if (!writeAll(output, {translated.data(), used})) {
                return false;
            }
            used = 0;
        }
        if (byte == '\n') {
            translated[used++] = '\r';
        }
        translated[used++] = byte;
    }
    return writeAll(output, {translated.data(), used});
}

// The window is the program's own when no other process shares its console:
// no command prompt is waiting behind it to keep it open. Both standard
// streams must be that console, or the operator could not see the prompt or
// answer it.
bool ownsItsWindow()
{
    DWORD processes[2] = {};
    DWORD mode = 0;
    return GetConsoleProcessList(processes, 2) == 1 &&
           GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0 &&
           GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

void waitForKeyPress()
{
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    FlushConsoleInputBuffer(input); // keys typed before the prompt do not count
    INPUT_RECORD record{};
    DWORD count = 0;
    while (ReadConsoleInputW(input, &record, 1, &count) != 0 && count == 1) {
        if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown != 0 &&
            !isModifier(record.Event.KeyEvent.wVirtualKeyCode)) {
            return;
        }
    }
}

#else

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

#endif
