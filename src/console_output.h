#pragma once

#include <array>
#include <cstddef>
#include <string_view>

inline constexpr std::size_t outputBufferSize = std::size_t{64} * 1024;

// What the program has written but not yet handed to standard output. Texts
// are gathered here and written in large pieces: a file of sales piped in
// makes output of some hundred bytes per sale.
struct ConsoleOutput {
    std::array<char, outputBufferSize> bytes;
    std::size_t used;
};

void writeText(ConsoleOutput& output, std::string_view text);

// Writes out everything gathered and flushes standard output, so that it is
// on the screen before the program waits.
void flushOutput(ConsoleOutput& output);
