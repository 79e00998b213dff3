#pragma once

#include <cstdint>
#include <string_view>

#include "console_input.h"
#include "console_output.h"

// The operator's console: its input read ahead and its output written
// behind, flushed just before the program has to wait for input, so a
// prompt is on the screen whenever it waits, and never flushed otherwise.
// All the program reads and writes goes through it.
struct Console {
    ReadAhead input;
    WriteBehind output;
};

inline ReadOutcome readInteger(Console& console, std::int32_t& value)
{
    return readInteger(console.input, console.output, value);
}

SALES_TALLY_ALWAYS_INLINE void writeText(Console& console, std::string_view text)
{
    writeText(console.output, text);
}

inline void flushConsole(Console& console)
{
    flushOutput(console.output);
}

inline bool inputFailed(const Console& console)
{
    return inputFailed(console.input);
}

inline bool outputFailed(const Console& console)
{
    return outputFailed(console.output);
}

inline void holdOwnWindowOpen(Console& console)
{
    holdOwnWindowOpen(console.output);
}
