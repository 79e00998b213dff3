#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

inline constexpr std::size_t consoleBufferSize = std::size_t{64} * 1024;

// Standard input read ahead: whatever was already available when the buffer
// last ran empty. bytes[next, end) is still to be read.
struct ReadAhead {
    std::array<char, consoleBufferSize> bytes{};
    std::size_t next = 0;
    std::size_t end = 0;
};

// What the program has written but not yet handed to standard output:
// bytes[0, used). A file of sales piped in makes some hundred bytes of output
// per sale, so it is written in large pieces.
struct WriteBehind {
    std::array<char, consoleBufferSize> bytes{};
    std::size_t used = 0;
};

// The operator's console: both buffers, flushed just before the program has
// to wait for input, so a prompt is on the screen whenever it waits, and
// never flushed otherwise.
struct Console {
    ReadAhead input;
    WriteBehind output;
};

// Takes over the standard streams for the console and returns it empty. Call
// it before any other input or output.
Console openConsole();

// What one read from standard input gave.
enum class ReadOutcome { number, unreadable, endOfInput };

// Reads the next whitespace-separated token from standard input. A token is a
// number when it is an optional sign followed by decimal digits and its value
// fits in 32 bits; it is then stored in value. Any other token is unreadable
// and is consumed whole, however long. On unreadable or end of input, value is
// left as it was.
ReadOutcome readInteger(Console& console, std::int32_t& value);

// Gathers a text for standard output. No text may be longer than the buffer;
// the program's own are a few dozen bytes.
void writeText(Console& console, std::string_view text);

// Writes out everything gathered and flushes standard output.
void flushConsole(Console& console);
