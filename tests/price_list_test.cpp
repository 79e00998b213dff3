#include "price_list.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <limits>
#include <ostream>
#include <vector>

namespace {

struct Sale {
    std::int32_t productNum;
    std::int32_t quantitySold;
};

struct BookingCase {
    const char* name;
    std::vector<Sale> sales;
    int repeat;     // the sales are booked this many times over
    float expected; // worked out apart from the program: tests/booking_model.py
};

// A failing case names itself, its sales and its total, not its bytes.
void PrintTo(const BookingCase& c, std::ostream* out)
{
    *out << c.name << ":";
    for (const Sale& sale : c.sales) {
        *out << " " << sale.productNum << " x " << sale.quantitySold;
    }
    *out << ", " << c.repeat << " times, expected " << std::hexfloat << c.expected;
}

class Booking : public testing::TestWithParam<BookingCase> {};

TEST_P(Booking, GivesTheSinglePrecisionTotal)
{
    const BookingCase& c = GetParam();
    float total = 0.0F;
    for (int i = 0; i < c.repeat; ++i) {
        for (const Sale& sale : c.sales) {
            total = addSale(total, sale.quantitySold, sale.productNum);
        }
    }
    EXPECT_EQ(total, c.expected) << std::hexfloat << total << " vs " << c.expected;
}

// The long and large runs are where float arithmetic, or a total kept in
// double, would print other cents.
INSTANTIATE_TEST_SUITE_P(
    Totals, Booking,
    testing::Values(BookingCase{"ThreeUnits", {{1, 3}}, 1, 0x1.1e147cp+3F},
                    BookingCase{"ThreeSingleUnits", {{1, 1}}, 3, 0x1.1e147cp+3F},
                    BookingCase{"OneUnitOfTheExactPrice", {{2, 1}}, 1, 4.5F},
                    BookingCase{"ZeroQuantities", {{1, 0}, {3, 0}, {5, 0}}, 1, 0.0F},
                    BookingCase{"SaleAndReturnOfOne", {{1, 1}, {1, -1}}, 1, 0.0F},
                    BookingCase{"FiveBackLeavesTinyNegative", {{1, 5}, {1, -5}}, 1, -0x1p-21F},
                    BookingCase{"ThreeBackLeavesTinyPositive", {{1, 3}, {1, -3}}, 1, 0x1p-21F},
                    BookingCase{"LongRunOfSingleUnits", {{1, 1}}, 100000, 0x1.230166p+18F},
                    BookingCase{"LongMixedRun",
                                {{1, 7}, {2, 3}, {3, 11}, {4, 5}, {5, 2}},
                                20000,
                                0x1.b8348cp+21F},
                    BookingCase{"LargeQuantities",
                                {{1, 936333},
                                 {5, 259469},
                                 {5, 2455939},
                                 {4, 207993},
                                 {2, 195382},
                                 {5, 558576},
                                 {3, 1757997},
                                 {2, 2267801}},
                                1,
                                0x1.a2703ep+25F},
                    BookingCase{"ExtremeQuantities",
                                {{3, std::numeric_limits<std::int32_t>::max()},
                                 {1, std::numeric_limits<std::int32_t>::min()}},
                                1,
                                0x1.bffffep+33F}),
    [](const testing::TestParamInfo<BookingCase>& param) { return param.param.name; });

struct PriceCase {
    std::int32_t productNum;
    float expected; // tests/booking_model.py --each-price 1048576
};

void PrintTo(const PriceCase& c, std::ostream* out)
{
    *out << "product " << c.productNum << ", expected " << std::hexfloat << c.expected;
}

class EachPrice : public testing::TestWithParam<PriceCase> {};

// 2^20 units come to exactly 2^20 times the stored price, so a price off by
// one unit in its last place changes the total by one unit in its last place.
TEST_P(EachPrice, ShowsWholeInALargeQuantity)
{
    const float total = addSale(0.0F, 1 << 20, GetParam().productNum);
    EXPECT_EQ(total, GetParam().expected) << std::hexfloat << total;
}

// The decimal products are 3124756.48, 4718592, 10464788.48, 4708106.24 and
// 7203717.12; the stored prices lie above (2.98) or below (9.98, 4.49, 6.87).
constexpr std::array eachPrice{PriceCase{1, 3124756.5F}, PriceCase{2, 4718592.0F},
                               PriceCase{3, 10464788.0F}, PriceCase{4, 4708106.0F},
                               PriceCase{5, 7203717.0F}};
INSTANTIATE_TEST_SUITE_P(OneMebiUnit, EachPrice, testing::ValuesIn(eachPrice));

TEST(PriceList, EveryPriceHasItsExpectation)
{
    EXPECT_EQ(eachPrice.size(), productPrices.size())
        << "tests/price_list_test.cpp: give eachPrice a row for every product "
           "(python3 tests/booking_model.py --each-price 1048576)";
}

TEST(PriceList, SaleTooSmallForTheTotalLeavesItUnchanged)
{
    // Neighbouring totals are 8192 apart here, far more than twice 2.98.
    const float total = 0x1.3f5c28p+36F;
    EXPECT_EQ(addSale(total, 1, 1), total);
}

} // namespace
