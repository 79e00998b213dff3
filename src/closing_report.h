#pragma once

// Writes the final retail value of all products sold to standard output, in
// dollars with exactly two decimals.
void writeClosingReport(float totalRetailValue);
