#include "console_input.h"

#include <iostream>
#include <limits>
#include <streambuf>
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

// The next byte of input, or eof. in_avail() counts what is buffered and what
// the operating system holds ready, so flushing only when it finds nothing
// keeps the prompt on screen for an operator without flushing per value when
// a file is piped in. Checked per byte, not per token: a newline left in the
// buffer after a number must not hide that the next token will wait.
int nextByte(std::streambuf& input)
{
    if (input.in_avail() <= 0) {
        std::cout.flush();
    }
    return input.sbumpc();
}

} // namespace

ReadOutcome readInteger(std::int32_t& value)
{
    std::streambuf& input = *std::cin.rdbuf();
    const int eof = Traits::eof();

    int byte = nextByte(input);
    while (isSpace(byte)) {
        byte = nextByte(input);
    }
    if (byte == eof) {
        return ReadOutcome::endOfInput;
    }

    const bool negative = byte == '-';
    if (byte == '-' || byte == '+') {
        byte = nextByte(input);
    }

    // The magnitude stops growing once it is out of range, so a token of any
    // length (a gigabyte of zeros is still 0) is read through without overflow.
    const std::int64_t limit = negative ? -std::int64_t{std::numeric_limits<std::int32_t>::min()}
                                        : std::int64_t{std::numeric_limits<std::int32_t>::max()};
    std::int64_t magnitude = 0;
    bool hasDigits = false;
    bool readable = true;
    for (; byte != eof && !isSpace(byte); byte = nextByte(input)) {
        if (readable && isDigit(byte)) {
            hasDigits = true;
            magnitude = magnitude * 10 + (byte - '0');
            readable = magnitude <= limit;
        }
        else {
            readable = false;
        }
    }
    if (!readable || !hasDigits) {
        return ReadOutcome::unreadable;
    }
    value = static_cast<std::int32_t>(negative ? -magnitude : magnitude);
    return ReadOutcome::number;
}
