#include "entry_dialogue.h"

#include "price_list.h"

#include <string_view>

namespace {

constexpr std::int32_t doneSentinel = -1;
// Left in productNum after an invalid product number: the next pass then asks
// with the short prompt only.
constexpr std::int32_t retryMarker = 99;

constexpr std::string_view longPrompt =
    "Please enter the product number, then the quantity of the product sold.";
constexpr std::string_view shortPrompt = "\nEnter a -1 if done submitting: ";
constexpr std::string_view invalidProductText =
    "\nInvalid product number. Please enter a number from 1 to 5.";
// A prompt of its own: the quantity for the same product is asked for again.
constexpr std::string_view invalidQuantityPrompt =
    "\nInvalid quantity. Please enter a whole number: ";
constexpr std::string_view saleBookedText = "\n";

} // namespace

float runEntryDialogue(Console& console, std::int32_t& productNum, std::int32_t& quantitySold,
                       float totalRetailValue)
{
    while (productNum != doneSentinel && quantitySold != doneSentinel) {
        if (productNum != retryMarker) {
            writeText(console, longPrompt);
        }
        writeText(console, shortPrompt);

        const ReadOutcome productRead = readInteger(console, productNum);
        if (productRead == ReadOutcome::endOfInput) {
            break;
        }
        if (productRead == ReadOutcome::unreadable ||
            (!isValidProduct(productNum) && productNum != doneSentinel)) {
            writeText(console, invalidProductText);
            productNum = retryMarker;
        }
        else if (isValidProduct(productNum)) {
            ReadOutcome quantityRead = readInteger(console, quantitySold);
            while (quantityRead == ReadOutcome::unreadable) {
                writeText(console, invalidQuantityPrompt);
                quantityRead = readInteger(console, quantitySold);
            }
            if (quantityRead == ReadOutcome::endOfInput) {
                break; // a product whose quantity never came is not booked
            }
            // A quantity of -1 is booked too; the guard ends the loop after.
            totalRetailValue = addSale(totalRetailValue, quantitySold, productNum);
            writeText(console, saleBookedText);
        }
        // -1 as the product number books nothing; the guard ends the loop.
    }
    flushConsole(console);
    return totalRetailValue;
}
