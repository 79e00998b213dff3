#pragma once

#include <cstdint>

// Prompts the operator for product numbers and quantities until -1 is entered
// as either or input ends, books every accepted sale into the total, and
// returns the final total. The state of the run is the caller's. It opens the
// console, so it comes before any other input or output.
float runEntryDialogue(std::int32_t& productNum, std::int32_t& quantitySold,
                       float totalRetailValue);
