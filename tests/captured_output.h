#pragma once

#include <cstddef>
#include <string>

#include "console_output.h"

// A sink that keeps what the console writes, in place of standard output.
inline OutputSink captureInto(std::string& captured)
{
    return {[](void* state, const char* bytes, std::size_t size) {
                static_cast<std::string*>(state)->append(bytes, size);
                return true;
            },
            &captured};
}
