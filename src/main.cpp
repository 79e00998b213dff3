#include "closing_report.h"
#include "console_window.h"
#include "entry_dialogue.h"

#include <cstdint>
#include <cstdlib>
#include <iostream>

int main()
{
    std::int32_t productNum = 0;
    std::int32_t quantitySold = 0;
    float totalRetailValue = 0.0F;

    totalRetailValue = runEntryDialogue(productNum, quantitySold, totalRetailValue);
    writeClosingReport(totalRetailValue);

    // A report that never arrived (a full disk, say) is no success.
    std::cout.flush();
    const bool reported = std::cout.good();
    holdOwnWindowOpen();
    return reported ? EXIT_SUCCESS : EXIT_FAILURE;
}
