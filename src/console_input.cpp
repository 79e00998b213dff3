#include "console_input.h"

#include "system_console.h"

#include <algorithm>
#include <limits>
#include <string>

namespace {

using Traits = std::char_traits<char>;

bool isSpace(int byte)
{
    return byte == ' ' || byte == '\t' || byte == '\n' || byte == '\r' || byte == '\v' ||
           byte == '\f';
}

bool isDigit(int byte)
{
    return byte >= '0' && byte <= '9';
}

// Stands for every character of UTF-16 input that is not ASCII: any byte
// that is no digit, sign or space makes its token unreadable, as a letter
// does, and one byte a character keeps the numbers after it in step.
constexpr char foreignCharacter = '\x80';
constexpr unsigned firstNonAscii = 0x80;
constexpr char ctrlZ = '\x1A';

constexpr std::string_view utf8Mark = "\xEF\xBB\xBF";
constexpr std::string_view utf16LittleEndianMark = "\xFF\xFE";
constexpr std::string_view utf16BigEndianMark = "\xFE\xFF";
constexpr std::array<std::string_view, 3> marks = {utf8Mark, utf16LittleEndianMark,
                                                   utf16BigEndianMark};

std::ptrdiff_t fromStandardInput(void* /*state*/, char* bytes, std::size_t size)
{
    return readStandardInput(bytes, size);
}

std::string_view unread(const ReadAhead& input)
{
    return {&input.bytes[input.next], input.end - input.next};
}

bool startsWith(std::string_view text, std::string_view start)
{
    return text.substr(0, start.size()) == start;
}

// Reads once more onto the end of the read-ahead; false when nothing came,
// which ends the input for good.
bool readMore(ReadAhead& input)
{
    const std::ptrdiff_t got = input.source.read(input.source.state, &input.bytes[input.end],
                                                 input.bytes.size() - input.end);
    if (got <= 0) {
        input.ended = true;
        input.failed = got < 0;
        return false;
    }
    input.end += static_cast<std::size_t>(got);
    return true;
}

// Turns the UTF-16 bytes read, bytes[next, end), into one byte a character
// in place at the start of the buffer. A read may end inside a character:
// its first byte waits for the next read.
void decodeUtf16(ReadAhead& input)
{
    const bool littleEndian = input.encoding == Encoding::utf16LittleEndian;
    std::size_t from = input.next;
    std::size_t decoded = 0;
    for (; from + 1 < input.end; from += 2) {
        const unsigned first = static_cast<unsigned char>(input.bytes[from]);
        const unsigned second = static_cast<unsigned char>(input.bytes[from + 1]);
        const unsigned unit = littleEndian ? (second << 8U) | first : (first << 8U) | second;
        input.bytes[decoded++] = unit < firstNonAscii ? static_cast<char>(unit) : foreignCharacter;
    }
    input.hasHalfUnit = from < input.end;
    if (input.hasHalfUnit) {
        input.halfUnit = input.bytes[from];
    }
    input.next = 0;
    input.end = decoded;
}

// Reads UTF-16 until at least one character has come or the input ends. A
// byte left over at the end is half a character: a character of its own,
// and not an ASCII one.
void readUtf16(ReadAhead& input)
{
    while (input.next == input.end && !input.ended) {
        input.next = 0;
        input.end = 0;
        if (input.hasHalfUnit) {
            input.bytes[input.end++] = input.halfUnit;
        }
        if (readMore(input)) {
            decodeUtf16(input);
        }
        else {
            input.end = 0; // the half stays in halfUnit
        }
    }
    if (input.ended && input.hasHalfUnit) {
        input.bytes[input.end++] = foreignCharacter;
        input.hasHalfUnit = false;
    }
}

// The input's first bytes decide, once, how all of it is read; a pipe may
// hand over a mark a byte at a time.
void decideEncoding(ReadAhead& input)
{
    const auto mayBecomeMark = [&input] {
        return std::any_of(marks.begin(), marks.end(), [&input](std::string_view mark) {
            return input.end < mark.size() && startsWith(mark, unread(input));
        });
    };
    while (mayBecomeMark() && readMore(input)) {
    }
    input.encoding = Encoding::eightBit;
    if (startsWith(unread(input), utf8Mark)) {
        input.next += utf8Mark.size();
    }
    else if (startsWith(unread(input), utf16LittleEndianMark)) {
        input.encoding = Encoding::utf16LittleEndian;
        input.next += utf16LittleEndianMark.size();
    }
    else if (startsWith(unread(input), utf16BigEndianMark)) {
        input.encoding = Encoding::utf16BigEndian;
        input.next += utf16BigEndianMark.size();
    }
    if (input.encoding != Encoding::eightBit) {
        decodeUtf16(input);
    }
}

// Refills the read-ahead with what one read of the input gives. The read
// may wait for the operator, so everything written so far is flushed first:
// every prompt is on the screen while the program waits. Kept out of
// line so that the per-byte path of nextByte stays small enough to inline.
SALES_TALLY_OUT_OF_LINE bool refill(ReadAhead& input, WriteBehind& output)
{
    if (input.ended) {
        return false;
    }
    flushOutput(output);
    input.next = 0;
    input.end = 0;
    if (input.encoding == Encoding::undecided) {
        decideEncoding(input);
    }
    if (input.encoding == Encoding::eightBit) {
        if (input.next == input.end && !input.ended) {
            readMore(input);
        }
    }
    else {
        readUtf16(input);
    }
    if constexpr (ctrlZEndsInput) {
        const std::string_view text = unread(input);
        const std::size_t stop = text.find(ctrlZ);
        if (stop != std::string_view::npos) {
            input.end = input.next + stop;
            input.ended = true;
        }
    }
    return input.next != input.end;
}

// The next byte of input as an unsigned char value, or eof.
int nextByte(ReadAhead& input, WriteBehind& output)
{
    if (input.next == input.end && !refill(input, output)) {
        return Traits::eof();
    }
    return Traits::to_int_type(input.bytes[input.next++]);
}

} // namespace

InputSource standardInput()
{
    return {fromStandardInput, nullptr};
}

ReadOutcome readInteger(ReadAhead& input, WriteBehind& output, std::int32_t& value)
{
    const int eof = Traits::eof();

    int byte = nextByte(input, output);
    while (isSpace(byte)) {
        byte = nextByte(input, output);
    }
    if (byte == eof) {
        return ReadOutcome::endOfInput;
    }

    const bool negative = byte == '-';
    if (byte == '-' || byte == '+') {
        byte = nextByte(input, output);
    }

    // The magnitude stops growing once it is out of range, so a token of any
    // length (a gigabyte of zeros is still 0) is read through without overflow.
    const std::int64_t limit = negative ? -std::int64_t{std::numeric_limits<std::int32_t>::min()}
                                        : std::int64_t{std::numeric_limits<std::int32_t>::max()};
    constexpr std::int64_t base = 10;
    std::int64_t magnitude = 0;
    bool hasDigits = false;
    bool readable = true;
    for (; byte != eof && !isSpace(byte); byte = nextByte(input, output)) {
        if (readable && isDigit(byte)) {
            hasDigits = true;
            magnitude = magnitude * base + (byte - '0');
            readable = magnitude <= limit;
        }
        else {
            readable = false;
        }
    }
    if (byte == eof && input.failed) {
        return ReadOutcome::endOfInput; // cut off: 35 may have been read as 3
    }
    if (!readable || !hasDigits) {
        return ReadOutcome::unreadable;
    }
    value = static_cast<std::int32_t>(negative ? -magnitude : magnitude);
    return ReadOutcome::number;
}

bool inputFailed(const ReadAhead& input)
{
    return input.failed;
}
