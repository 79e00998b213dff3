#pragma once

#include <cstdint>

// What one read from standard input gave.
enum class ReadOutcome { number, unreadable, endOfInput };

// Reads the next whitespace-separated token from standard input. A token is a
// number when it is an optional sign followed by decimal digits and its value
// fits in 32 bits; it is then stored in value. Any other token is unreadable
// and is consumed whole, however long. On unreadable or end of input, value is
// left as it was.
//
// Standard output is flushed just before the read would have to wait for more
// input, so a prompt is always on the screen while the program waits.
ReadOutcome readInteger(std::int32_t& value);
