#include "console.h"

#include <algorithm>
#include <iostream>
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

// Refills the read-ahead with what standard input already holds. Only when
// that is nothing does the program have to wait, and then it flushes its
// output first: deciding this per refill, not per token, keeps a newline left
// after a number from hiding that the next token will wait. Kept out of line
// so that the per-byte path of nextByte stays small enough to inline; each
// compiler has its own word for that.
#if defined(__GNUC__)
[[gnu::noinline]]
#elif defined(_MSC_VER)
__declspec(noinline)
#endif
bool refill(Console& console)
{
    ReadAhead& input = console.input;
    const auto size = static_cast<std::streamsize>(input.bytes.size());
    std::streamsize got = std::cin.readsome(input.bytes.data(), size);
    if (got <= 0) {
        flushConsole(console);
        const Traits::int_type first = std::cin.get(); // waits
        if (Traits::eq_int_type(first, Traits::eof())) {
            return false;
        }
        input.bytes[0] = Traits::to_char_type(first);
        got = 1 + std::cin.readsome(&input.bytes[1], size - 1);
    }
    input.next = 0;
    input.end = static_cast<std::size_t>(got);
    return true;
}

// The next byte of input as an unsigned char value, or eof.
int nextByte(Console& console)
{
    ReadAhead& input = console.input;
    if (input.next == input.end && !refill(console)) {
        return Traits::eof();
    }
    return Traits::to_int_type(input.bytes[input.next++]);
}

void handOver(WriteBehind& output)
{
    std::cout.write(output.bytes.data(), static_cast<std::streamsize>(output.used));
    output.used = 0;
}

} // namespace

Console openConsole()
{
    // Unsynchronised from C stdio, standard input can tell how much it already
    // holds (readsome). Synchronised, it never can: every byte would be a wait
    // of its own, with a flush of the output before it. Untied, because the
    // console flushes before each wait itself.
    std::ios::sync_with_stdio(false);
    std::cin.tie(nullptr);
    return Console{};
}

ReadOutcome readInteger(Console& console, std::int32_t& value)
{
    const int eof = Traits::eof();

    int byte = nextByte(console);
    while (isSpace(byte)) {
        byte = nextByte(console);
    }
    if (byte == eof) {
        return ReadOutcome::endOfInput;
    }

    const bool negative = byte == '-';
    if (byte == '-' || byte == '+') {
        byte = nextByte(console);
    }

    // The magnitude stops growing once it is out of range, so a token of any
    // length (a gigabyte of zeros is still 0) is read through without overflow.
    const std::int64_t limit = negative ? -std::int64_t{std::numeric_limits<std::int32_t>::min()}
                                        : std::int64_t{std::numeric_limits<std::int32_t>::max()};
    constexpr std::int64_t base = 10;
    std::int64_t magnitude = 0;
    bool hasDigits = false;
    bool readable = true;
    for (; byte != eof && !isSpace(byte); byte = nextByte(console)) {
        if (readable && isDigit(byte)) {
            hasDigits = true;
            magnitude = magnitude * base + (byte - '0');
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

void writeText(Console& console, std::string_view text)
{
    WriteBehind& output = console.output;
    if (text.size() > output.bytes.size() - output.used) {
        handOver(output);
    }
    std::copy(text.begin(), text.end(),
              output.bytes.begin() + static_cast<std::ptrdiff_t>(output.used));
    output.used += text.size();
}

void flushConsole(Console& console)
{
    handOver(console.output);
    std::cout.flush();
}
