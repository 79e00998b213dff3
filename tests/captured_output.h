#pragma once

#include <cstddef>
#include <string>

// What a console given captureOutput as its sink has written, in place of
// standard output.
inline std::string capturedOutput;

inline bool captureOutput(const char* bytes, std::size_t size)
{
    capturedOutput.append(bytes, size);
    return true;
}
