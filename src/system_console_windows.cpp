// The console's system calls on Windows (system_console.h): the build
// compiles this file there and system_console_posix.cpp elsewhere.
#include "system_console.h"

#include <algorithm>
#include <array>
#include <string_view>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

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
    constexpr std::size_t translatedSize = 4096; // a page: a sale's output is far less
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    std::array<char, translatedSize> translated{};
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
    std::array<DWORD, 2> processes{};
    DWORD mode = 0;
    return GetConsoleProcessList(processes.data(), static_cast<DWORD>(processes.size())) == 1 &&
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
        // The event is a union, as the console hands it over; its type says
        // which member holds.
        const KEY_EVENT_RECORD& key = record.Event.KeyEvent; // NOLINT(*-union-access)
        if (record.EventType == KEY_EVENT && key.bKeyDown != 0 &&
            !isModifier(key.wVirtualKeyCode)) {
            return;
        }
    }
}
