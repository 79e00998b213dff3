#pragma once

#include "console.h"

// Writes the closing report: the final total in dollars with two decimals,
// through the console, which main flushes.
void writeClosingReport(Console& console, float totalRetailValue);
