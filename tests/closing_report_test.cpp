#include "closing_report.h"

#include "captured_output.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace {

std::string reportFor(float totalRetailValue)
{
    std::string captured;
    Console console;
    console.output.sink = captureInto(captured);
    writeClosingReport(console, totalRetailValue);
    flushConsole(console);
    return captured;
}

struct ReportCase {
    float total;
    const char* written;
};

void PrintTo(const ReportCase& c, std::ostream* out)
{
    *out << std::hexfloat << c.total << " written as " << c.written;
}

class ClosingReport : public testing::TestWithParam<ReportCase> {};

TEST_P(ClosingReport, WritesTheTotalWithTwoDecimals)
{
    EXPECT_EQ(reportFor(GetParam().total),
              std::string("\n\nFinal retail value of all products sold: $") + GetParam().written +
                  "\n\n");
}

INSTANTIATE_TEST_SUITE_P(
    Totals, ClosingReport,
    testing::Values(ReportCase{0.0F, "0.00"}, ReportCase{4.5F, "4.50"},
                    // Three units of product 1 (tests/booking_model.py "1:3"): slightly above 8.94.
                    ReportCase{0x1.1e147cp+3F, "8.94"}, ReportCase{-2.98F, "-2.98"},
                    ReportCase{-0x1p-21F, "-0.00"}, ReportCase{0x1p-21F, "0.00"},
                    ReportCase{0x1.3f5c28p+36F, "85727543296.00"},
                    // Halfway between two cents, as a double: to even.
                    ReportCase{0.125F, "0.12"}, ReportCase{0.375F, "0.38"},
                    // The largest total a float holds.
                    ReportCase{0x1.fffffep+127F, "34028234663852885981170418348451692544"
                                                 "0.00"},
                    // Never an exponent, however large.
                    ReportCase{1e20F, "100000002004087734272.00"}));

} // namespace
