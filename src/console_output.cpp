#include "console_output.h"

#include <algorithm>
#include <iostream>

namespace {

void write(std::string_view bytes)
{
    std::cout.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void handOver(ConsoleOutput& output)
{
    write({output.bytes.data(), output.used});
    output.used = 0;
}

} // namespace

void writeText(ConsoleOutput& output, std::string_view text)
{
    if (text.size() > output.bytes.size() - output.used) {
        handOver(output);
    }
    if (text.size() > output.bytes.size()) {
        write(text);
        return;
    }
    std::copy(text.begin(), text.end(),
              output.bytes.begin() + static_cast<std::ptrdiff_t>(output.used));
    output.used += text.size();
}

void flushOutput(ConsoleOutput& output)
{
    handOver(output);
    std::cout.flush();
}
