#pragma once

#include <array>
#include <cstdint>

// Retail prices in dollars, indexed by product number - 1. Each is the
// single-precision value nearest to its decimal price, so only 4.50 is exact.
inline constexpr std::array<float, 5> productPrices = {2.98F, 4.50F, 9.98F, 4.49F, 6.87F};

// True for the product numbers the price list has, 1 to its size.
bool isValidProduct(std::int32_t productNum);

// The price of a valid product number; callers pass no other.
float priceOf(std::int32_t productNum);

// Books quantitySold units of a valid product into the running total and
// returns the new total. Any quantity is booked, zero and negative included.
float addSale(float totalRetailValue, std::int32_t quantitySold, std::int32_t productNum);
