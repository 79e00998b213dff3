#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <string_view>

#include "inlining.h"

// The size of each of the console's buffers, the input's and the output's.
inline constexpr std::size_t consoleBufferSize = std::size_t{64} * 1024;

// Where the output goes: write hands over all size bytes, or returns false;
// state is the sink's own, passed back to it. Standard output, written as
// writeStandardOutput writes it, needs none.
struct OutputSink {
    bool (*write)(void* state, const char* bytes, std::size_t size);
    void* state;
};
OutputSink standardOutput();

// What the program has written but not yet handed to its sink:
// bytes[0, used). A file of sales piped in makes some hundred bytes of output
// per sale, so it is written in large pieces.
struct WriteBehind {
    std::array<char, consoleBufferSize> bytes{};
    std::size_t used = 0;
    bool failed = false; // a write failed: nothing more is written
    OutputSink sink = standardOutput();
};

// Gathers a text for the sink; one longer than the buffer goes out at once.
// In the header, so that the dialogue's three texts a sale are copied in
// line; writeAround is the rare rest.
SALES_TALLY_OUT_OF_LINE void writeAround(WriteBehind& output, std::string_view text);
SALES_TALLY_ALWAYS_INLINE void writeText(WriteBehind& output, std::string_view text)
{
    if (text.size() > output.bytes.size() - output.used) {
        writeAround(output, text);
        return;
    }
    std::copy(text.begin(), text.end(),
              output.bytes.begin() + static_cast<std::ptrdiff_t>(output.used));
    output.used += text.size();
}

// Hands everything gathered to the sink.
void flushOutput(WriteBehind& output);

// True once a write has failed: what was written may not all have arrived.
bool outputFailed(const WriteBehind& output);

// Where the program has a window of its own (on Windows, started from
// Explorer or a shortcut), asks for a key press and waits for it, so that the
// operator can read the total before the window closes. Call it last.
void holdOwnWindowOpen(WriteBehind& output);
