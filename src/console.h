#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "system_console.h"

// The per-byte and per-text paths are copied in line wherever they are
// called, the rare paths kept out of them; compilers choose otherwise for a
// function called from several places, and each has its own word for it.
#if defined(__GNUC__)
#define alwaysInline [[gnu::always_inline]] inline
#define outOfLine [[gnu::noinline]]
#elif defined(_MSC_VER)
#define alwaysInline __forceinline
#define outOfLine __declspec(noinline)
#else
#define alwaysInline inline
#define outOfLine
#endif

inline constexpr std::size_t consoleBufferSize = std::size_t{64} * 1024;

// How the input's first bytes say it was saved. A UTF-8 byte-order mark is
// skipped and the rest read as 8-bit text; UTF-16 is read a character at a
// time, each ASCII character as its byte and any other as one byte that is
// no digit, sign or space.
enum class Encoding { undecided, eightBit, utf16LittleEndian, utf16BigEndian };

// Standard input read ahead: whatever one read gave when the buffer last ran
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
};

// Where the console's input comes from, read as readStandardInput reads it,
// and where its output goes, written as writeStandardOutput writes it.
using InputSource = std::ptrdiff_t (*)(char* bytes, std::size_t size);
using OutputSink = bool (*)(const char* bytes, std::size_t size);

// What the program has written but not yet handed to standard output:
// bytes[0, used). A file of sales piped in makes some hundred bytes of output
// per sale, so it is written in large pieces.
struct WriteBehind {
    std::array<char, consoleBufferSize> bytes{};
    std::size_t used = 0;
    bool failed = false; // a write failed: nothing more is written
};

// The operator's console: both buffers, flushed just before the program has
// to wait for input, so a prompt is on the screen whenever it waits, and
// never flushed otherwise. All the program writes goes through it.
struct Console {
    ReadAhead input;
    WriteBehind output;
    InputSource source = readStandardInput;
    OutputSink sink = writeStandardOutput;
};

// What one read from standard input gave.
enum class ReadOutcome { number, unreadable, endOfInput };

// Reads the next whitespace-separated token from standard input. A token is a
// number when it is an optional sign followed by decimal digits and its value
// fits in 32 bits; it is then stored in value. Any other token is unreadable
// and is consumed whole, however long. On unreadable or end of input, value is
// left as it was. A failed read ends the input too, and is remembered; the
// token it cut off may not be whole, so it counts for nothing.
ReadOutcome readInteger(Console& console, std::int32_t& value);

// True once a read of standard input has failed: the input ended early, and
// what was booked may not be the whole day.
bool inputFailed(const Console& console);

// Gathers a text for standard output; one longer than the buffer goes out
// at once. In the header, so that the dialogue's three texts a sale are
// copied in line; writeAround is the rare rest.
outOfLine void writeAround(Console& console, std::string_view text);
alwaysInline void writeText(Console& console, std::string_view text)
{
    WriteBehind& output = console.output;
    if (text.size() > output.bytes.size() - output.used) {
        writeAround(console, text);
        return;
    }
    std::copy(text.begin(), text.end(),
              output.bytes.begin() + static_cast<std::ptrdiff_t>(output.used));
    output.used += text.size();
}

// Writes out everything gathered.
void flushConsole(Console& console);

// True once a write to standard output has failed: what was written may not
// all have arrived.
bool outputFailed(const Console& console);

// Where the program has a window of its own (on Windows, started from
// Explorer or a shortcut), asks for a key press and waits for it, so that the
// operator can read the total before the window closes. Call it last.
void holdOwnWindowOpen(Console& console);
