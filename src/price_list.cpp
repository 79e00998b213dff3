#include "price_list.h"

#include <cstddef>

bool isValidProduct(std::int32_t productNum)
{
    return productNum >= 1 && static_cast<std::size_t>(productNum) <= productPrices.size();
}

float priceOf(std::int32_t productNum)
{
    return productPrices[static_cast<std::size_t>(productNum - 1)];
}

float addSale(float totalRetailValue, std::int32_t quantitySold, std::int32_t productNum)
{
    // The line value and the sum are formed in double precision, but the total
    // itself is single precision and is rounded back after every sale. Keeping
    // the total in double, or multiplying in float, prints other cents on long
    // runs, so each conversion is spelled out.
    const double quantity = static_cast<double>(quantitySold); // exact for 32 bits
    const double price = static_cast<double>(priceOf(productNum));
    const double lineValue = quantity * price;
    const double sum = static_cast<double>(totalRetailValue) + lineValue;
    return static_cast<float>(sum);
}
