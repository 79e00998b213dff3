#include "console.h"

#include "captured_output.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

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

    std::string captured;
    Console console;
    console.output.sink = captureInto(captured);
    writeText(console, gathered);
    writeText(console, next);
    writeText(console, "!");
    flushConsole(console);

    EXPECT_TRUE(captured == gathered + next + "!")
        << "output of " << captured.size() << " bytes differs";
}

constexpr std::size_t size = consoleBufferSize;

// The next text ends one byte short of the buffer's end, on it, and one and
// two bytes past it; then texts as long as the buffer itself, and longer.
INSTANTIATE_TEST_SUITE_P(AroundTheEnd, WriteBehindBoundary,
                         testing::Values(Writes{size - 4, 3}, Writes{size - 3, 3},
                                         Writes{size - 2, 3}, Writes{size - 1, 3}, Writes{0, size},
                                         Writes{1, size}, Writes{size, size},
                                         Writes{5, 2 * size + 7}));

// Standard input handed over `piece` bytes a read, as a pipe may, so reads
// end inside marks and UTF-16 characters; then the end, or a failed read.
struct Pieces {
    std::string_view bytes;
    std::size_t piece = 1;
    bool fails = false;
    std::size_t next = 0;
};
std::ptrdiff_t readPieces(void* state, char* bytes, std::size_t room)
{
    Pieces& pieces = *static_cast<Pieces*>(state);
    const std::size_t count = std::min({pieces.piece, room, pieces.bytes.size() - pieces.next});
    if (count == 0 && pieces.fails) {
        return -1;
    }
    std::copy_n(pieces.bytes.begin() + static_cast<std::ptrdiff_t>(pieces.next), count, bytes);
    pieces.next += count;
    return static_cast<std::ptrdiff_t>(count);
}

// What readInteger makes of the input, token by token: the number, or ? for
// an unreadable token; ! at the end when a read failed.
std::string tokensOf(const Pieces& input)
{
    Pieces pieces = input;
    Console console;
    console.input.source = {readPieces, &pieces};
    std::string tokens;
    std::int32_t value = 0;
    for (ReadOutcome outcome = readInteger(console, value); outcome != ReadOutcome::endOfInput;
         outcome = readInteger(console, value)) {
        tokens += outcome == ReadOutcome::number ? std::to_string(value) + " " : "? ";
    }
    return inputFailed(console) ? tokens + "!" : tokens;
}

struct Reading {
    const char* name;
    std::string_view input;
    std::string_view tokens;
};

std::ostream& operator<<(std::ostream& out, const Reading& reading)
{
    return out << reading.name;
}

class ReadInPieces : public testing::TestWithParam<Reading> {};

TEST_P(ReadInPieces, GivesTheSameTokensHoweverTheReadsFall)
{
    for (std::size_t piece = 1; piece <= 7; ++piece) {
        EXPECT_EQ(tokensOf({GetParam().input, piece}), GetParam().tokens)
            << GetParam().input.size() << " bytes read " << piece << " at a time";
    }
}

using namespace std::string_view_literals;
INSTANTIATE_TEST_SUITE_P(Encodings, ReadInPieces,
                         testing::Values(Reading{"EightBit", "1 3\r\n-1", "1 3 -1 "},
                                         Reading{"Utf8Mark",
                                                 "\xEF\xBB\xBF"
                                                 "1 3\r\n-1",
                                                 "1 3 -1 "},
                                         Reading{"StartLikeAMark",
                                                 "\xEF\xBB"
                                                 "7 1",
                                                 "? 1 "},
                                         Reading{"Utf16LittleEndian",
                                                 "\xFF\xFE"
                                                 "1\0 \0"
                                                 "3\0\r\0\n\0-\0"
                                                 "1\0"sv,
                                                 "1 3 -1 "},
                                         Reading{"Utf16BigEndian",
                                                 "\xFE\xFF\0"
                                                 "1\0 \0"
                                                 "3\0\n\0-\0"
                                                 "1"sv,
                                                 "1 3 -1 "},
                                         // e acute, a surrogate pair, U+0A0D (its bytes a CR LF), 4
                                         Reading{"Utf16Foreign",
                                                 "\xFF\xFE\xE9\0 \0=\xD8\0\xDE \0\r\n \0"
                                                 "4\0"sv,
                                                 "? ? ? 4 "},
                                         Reading{"Utf16OddByteAtTheEnd",
                                                 "\xFF\xFE"
                                                 "2\0 \0"
                                                 "5"sv,
                                                 "2 ? "}));

// A write that fails once is a failure for good, though the sink would take
// the next: what came after it would reach the screen with a hole before it.
TEST(WriteFailure, EndsTheOutputAndIsRemembered)
{
    struct OnceFailing {
        std::string kept;
        std::size_t writes = 0;
    } sink;
    Console console;
    console.output.sink = {[](void* state, const char* bytes, std::size_t count) {
                               auto& once = *static_cast<OnceFailing*>(state);
                               if (once.writes++ == 0) {
                                   return false;
                               }
                               once.kept.append(bytes, count);
                               return true;
                           },
                           &sink};
    writeText(console, "lost");
    flushConsole(console);
    writeText(console, "after");
    flushConsole(console);
    writeText(console, patterned(consoleBufferSize + 1, 'a'));
    EXPECT_TRUE(outputFailed(console));
    EXPECT_EQ(sink.writes, 1U) << "written after the failure: " << sink.kept;
}

// A failed read ends the input, and the token it cut off counts for nothing:
// 35 cut after its 3 is not 3. A token ended by white space is whole.
TEST(ReadFailure, EndsTheInputAndIsRemembered)
{
    EXPECT_EQ(tokensOf({"1 3 4", 2, true}), "1 3 !");
    EXPECT_EQ(tokensOf({"1 3 4 ", 2, true}), "1 3 4 !");
    EXPECT_EQ(tokensOf({"1 3", 7, true}), "1 !");
    EXPECT_EQ(tokensOf({"\xFF\xFE"
                        "1\0 \0"sv,
                        3, true}),
              "1 !");
    EXPECT_EQ(tokensOf({"\xFF\xFE"
                        "3\0 \0-\0"
                        "1\0"
                        "8\0"sv,
                        3, true}),
              "3 !");
    EXPECT_EQ(tokensOf({"1 3 4", 2, false}), "1 3 4 ");
}

} // namespace
