#pragma once

#include <cstddef>

// What the program asks of the operating system itself, in this one place;
// everything else goes through the standard library.

// On Windows, standard input is text, in which Ctrl-Z (byte 0x1A) ends it:
// at the console as Ctrl-Z then Enter, and in a file or pipe wherever it
// stands. Elsewhere it is an ordinary byte.
#ifdef _WIN32
inline constexpr bool ctrlZEndsInput = true;
#else
inline constexpr bool ctrlZEndsInput = false;
#endif

// Reads up to size bytes of standard input, as they come, with no
// translation. Waits until there is at least one, also when standard input
// was left non-blocking, and retries an interrupted read. Returns how many
// bytes it read, 0 at the end of input, -1 when the read failed (a device
// error, a directory, no standard input at all, a terminal that hung up).
// The standard streams cannot tell the last two apart.
std::ptrdiff_t readStandardInput(char* bytes, std::size_t size);

// Writes all size bytes to standard output, on Windows each newline as CR LF.
// Waits when standard output was left non-blocking and is full, and retries
// an interrupted write. False when a write failed (a full disk, say).
bool writeStandardOutput(const char* bytes, std::size_t size);

// On Windows, a console program started from Explorer or a shortcut gets a
// window of its own that closes the moment the program ends: then this is
// true, and waitForKeyPress waits for a key. In every other setting it is
// false.
bool ownsItsWindow();
void waitForKeyPress();
