#include "console_output.h"

#include "system_console.h"

namespace {

constexpr std::string_view closeWindowPrompt = "Press any key to close this window.";

bool toStandardOutput(void* /*state*/, const char* bytes, std::size_t size)
{
    return writeStandardOutput(bytes, size);
}

void handOver(WriteBehind& output, std::string_view bytes)
{
    if (!bytes.empty() && !output.failed) {
        output.failed = !output.sink.write(output.sink.state, bytes.data(), bytes.size());
    }
}

} // namespace

OutputSink standardOutput()
{
    return {toStandardOutput, nullptr};
}

void writeAround(WriteBehind& output, std::string_view text)
{
    flushOutput(output);
    if (text.size() > output.bytes.size()) {
        handOver(output, text);
        return;
    }
    std::copy(text.begin(), text.end(), output.bytes.begin());
    output.used = text.size();
}

void flushOutput(WriteBehind& output)
{
    handOver(output, {output.bytes.data(), output.used});
    output.used = 0;
}

bool outputFailed(const WriteBehind& output)
{
    return output.failed;
}

void holdOwnWindowOpen(WriteBehind& output)
{
    if (ownsItsWindow()) {
        writeText(output, closeWindowPrompt);
        flushOutput(output);
        waitForKeyPress();
    }
}
