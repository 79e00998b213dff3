#include "system_console.h"

#include <algorithm>
#include <iostream>
#include <string_view>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <cerrno>
#include <poll.h>
#include <unistd.h>
#endif

namespace {

constexpr std::string_view closeWindowPrompt = "Press any key to close this window.";

#ifdef _WIN32

std::ptrdiff_t readInput(char* bytes, std::size_t size)
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

// Shift, Ctrl and Alt alone do not count: they are pressed on the way to
// switching windows.
bool isModifier(WORD virtualKey)
{
    return virtualKey == VK_SHIFT || virtualKey == VK_CONTROL || virtualKey == VK_MENU;
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

std::ptrdiff_t readInput(char* bytes, std::size_t size)
{
    for (;;) {
        const ssize_t got = read(STDIN_FILENO, bytes, size);
        if (got >= 0) {
            return got;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            // Left non-blocking by whoever opened it: wait for input instead.
            pollfd input{STDIN_FILENO, POLLIN, 0};
            poll(&input, 1, -1);
        }
        else if (errno != EINTR) {
            return -1;
        }
    }
}

// A terminal outlives the programs run in it: there is nothing to hold open.
bool ownsItsWindow()
{
    return false;
}
void waitForKeyPress() {}

#endif

} // namespace

std::ptrdiff_t readStandardInput(char* bytes, std::size_t size)
{
    return readInput(bytes, size);
}

void holdOwnWindowOpen()
{
    if (ownsItsWindow()) {
        std::cout << closeWindowPrompt << std::flush;
        waitForKeyPress();
    }
}
