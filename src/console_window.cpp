#include "console_window.h"

#include <iostream>
#include <string_view>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif

namespace {

constexpr std::string_view closeWindowPrompt = "Press any key to close this window.";

#ifdef _WIN32

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

// A terminal outlives the programs run in it: there is nothing to hold open.
bool ownsItsWindow()
{
    return false;
}
void waitForKeyPress() {}

#endif

} // namespace

void holdOwnWindowOpen()
{
    if (ownsItsWindow()) {
        std::cout << closeWindowPrompt << std::flush;
        waitForKeyPress();
    }
}
