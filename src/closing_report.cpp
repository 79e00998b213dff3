#include "closing_report.h"

#include <array>
#include <charconv>
#include <string_view>

void writeClosingReport(Console& console, float totalRetailValue)
{
    writeText(console, "\n\nFinal retail value of all products sold: $");
    // The single-precision total is widened to double and rounded to cents
    // only here, in fixed notation: no exponent however large, and -0.00 for
    // a tiny negative total.
    const double total = static_cast<double>(totalRetailValue);
    constexpr std::size_t roomForTheLargestFloat = 64; // 39 digits, sign, point, cents
    std::array<char, roomForTheLargestFloat> amount{};
    const std::to_chars_result written = std::to_chars(amount.data(), amount.data() + amount.size(),
                                                       total, std::chars_format::fixed, 2);
    writeText(console, std::string_view(amount.data(),
                                        static_cast<std::size_t>(written.ptr - amount.data())));
    writeText(console, "\n\n");
}
