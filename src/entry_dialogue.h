#pragma once

#include "console.h"

#include <cstdint>

// Prompts the operator at the console for product numbers and quantities
// until -1 is entered as either or input ends, books every accepted sale into
// the total, and returns the final total, with everything it wrote flushed.
// The state of the run is the caller's.
float runEntryDialogue(Console& console, std::int32_t& productNum, std::int32_t& quantitySold,
                       float totalRetailValue);
