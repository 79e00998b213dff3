// The entry dialogue written the plain way, for the benchmark to compare
// against: formatted extraction from std::cin (tied to std::cout, so every
// read flushes) and every text written with <<, the total too. Same price
// list as the program, so for readable input the output is the same.
#include "price_list.h"

#include <cstdint>
#include <iomanip>
#include <iostream>

int main()
{
    std::int32_t productNum = 0;
    std::int32_t quantitySold = 0;
    float totalRetailValue = 0.0F;
    while (productNum != -1 && quantitySold != -1) {
        if (productNum != 99) {
            std::cout << "Please enter the product number, then the quantity of the product sold.";
        }
        std::cout << "\nEnter a -1 if done submitting: ";
        if (!(std::cin >> productNum)) {
            break;
        }
        if (isValidProduct(productNum)) {
            if (!(std::cin >> quantitySold)) {
                break;
            }
            totalRetailValue = addSale(totalRetailValue, quantitySold, productNum);
            std::cout << "\n" << std::flush;
        }
        else if (productNum != -1) {
            std::cout << "\nInvalid product number. Please enter a number from 1 to 5.";
            productNum = 99;
        }
    }
    std::cout << "\n\nFinal retail value of all products sold: $" << std::fixed
              << std::setprecision(2) << static_cast<double>(totalRetailValue) << "\n\n";
    return 0;
}
