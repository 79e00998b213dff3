#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "console_output.h"

// Where the input comes from: read gives up to size bytes, as they come, 0
// at the end and -1 when the read failed; state is the source's own, passed
// back to it. Standard input, read as readStandardInput reads it, needs
// none.
struct InputSource {
    std::ptrdiff_t (*read)(void* state, char* bytes, std::size_t size);
    void* state;
};
InputSource standardInput();

// How the input's first bytes say it was saved. A UTF-8 byte-order mark is
// skipped and the rest read as 8-bit text; UTF-16 is read a character at a
// time, each ASCII character as its byte and any other as one byte that is
// no digit, sign or space.
enum class Encoding { undecided, eightBit, utf16LittleEndian, utf16BigEndian };

// The input read ahead: whatever one read gave when the buffer last ran
// empty, as 8-bit text. bytes[next, end) is still to be read.
struct ReadAhead {
    std::array<char, consoleBufferSize> bytes{};
    std::size_t next = 0;
    std::size_t end = 0;
    Encoding encoding = Encoding::undecided;
    bool hasHalfUnit = false; // a UTF-16 read ended inside a character
    char halfUnit = 0;
    bool ended = false;  // nothing more will be read
    bool failed = false; // because a read failed
    InputSource source = standardInput();
};

// What one read of the input gave.
enum class ReadOutcome { number, unreadable, endOfInput };

// Reads the next whitespace-separated token. A token is a number when it is
// an optional sign followed by decimal digits and its value fits in 32 bits;
// it is then stored in value. Any other token is unreadable and is consumed
// whole, however long. On unreadable or end of input, value is left as it
// was. A failed read ends the input too, and is remembered; the token it cut
// off may not be whole, so it counts for nothing. A read may wait for the
// operator, so all of output is flushed before it: every prompt is on the
// screen while the program waits.
ReadOutcome readInteger(ReadAhead& input, WriteBehind& output, std::int32_t& value);

// True once a read has failed: the input ended early, and what was booked
// may not be the whole day.
bool inputFailed(const ReadAhead& input);
