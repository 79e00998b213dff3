#pragma once

#include "console_output.h"

#include <array>
#include <cstddef>
#include <cstdint>

inline constexpr std::size_t inputBufferSize = std::size_t{64} * 1024;

// Standard input read ahead: whatever was already available when the
// buffer last ran empty. bytes[next, end) is still to be read.
struct ConsoleInput {
    std::array<char, inputBufferSize> bytes;
    std::size_t next;
    std::size_t end;
};

// What one read from standard input gave.
enum class ReadOutcome { number, unreadable, endOfInput };

// Reads the next whitespace-separated token from standard input. A token is a
// number when it is an optional sign followed by decimal digits and its value
// fits in 32 bits; it is then stored in value. Any other token is unreadable
// and is consumed whole, however long. On unreadable or end of input, value is
// left as it was.
//
// The output is flushed just before the read would have to wait for more
// input, so a prompt is always on the screen while the program waits, and
// never otherwise.
ReadOutcome readInteger(ConsoleInput& input, ConsoleOutput& output, std::int32_t& value);
