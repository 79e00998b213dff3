#include "closing_report.h"

#include <iomanip>
#include <iostream>

void writeClosingReport(float totalRetailValue)
{
    std::cout << "\n\nFinal retail value of all products sold: $";
    // The single-precision total is widened to double and rounded to cents
    // only here, by the stream's fixed-point formatting; that keeps -0.00 for
    // a tiny negative total.
    std::cout << std::fixed << std::setprecision(2) << static_cast<double>(totalRetailValue);
    std::cout << "\n\n";
}
