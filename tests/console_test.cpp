#include "console.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <iostream>
#include <sstream>
#include <string>

namespace {

// A text whose every byte tells where it stood, so a byte lost, doubled or
// moved shows in the output.
std::string patterned(std::size_t size, char first)
{
    std::string text(size, ' ');
    for (std::size_t i = 0; i < size; ++i) {
        text[i] = static_cast<char>(first + static_cast<char>(i % 23));
    }
    return text;
}

struct Writes {
    std::size_t gathered; // bytes already in the buffer
    std::size_t next;     // the length of the text written after them
};

std::ostream& operator<<(std::ostream& out, const Writes& writes)
{
    return out << writes.gathered << " bytes gathered, then " << writes.next;
}

class WriteBehindBoundary : public testing::TestWithParam<Writes> {};

TEST_P(WriteBehindBoundary, HandsOverEveryByteInOrder)
{
    const std::string gathered = patterned(GetParam().gathered, 'a');
    const std::string next = patterned(GetParam().next, 'A');

    std::ostringstream captured;
    std::streambuf* const console_out = std::cout.rdbuf(captured.rdbuf());
    Console console;
    writeText(console, gathered);
    writeText(console, next);
    writeText(console, "!");
    flushConsole(console);
    std::cout.rdbuf(console_out);

    EXPECT_TRUE(captured.str() == gathered + next + "!")
        << "output of " << captured.str().size() << " bytes differs";
}

constexpr std::size_t size = consoleBufferSize;

// The next text ends one byte short of the buffer's end, on it, and one and
// two bytes past it; then texts as long as the buffer itself.
INSTANTIATE_TEST_SUITE_P(AroundTheEnd, WriteBehindBoundary,
                         testing::Values(Writes{size - 4, 3}, Writes{size - 3, 3},
                                         Writes{size - 2, 3}, Writes{size - 1, 3}, Writes{0, size},
                                         Writes{1, size}, Writes{size, size}));

} // namespace
