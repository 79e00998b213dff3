#include "closing_report.h"
#include "console.h"
#include "entry_dialogue.h"
#include "system_console.h"

#include <cstdint>
#include <cstdlib>
#include <iostream>

int main()
{
    std::int32_t productNum = 0;
    std::int32_t quantitySold = 0;
    float totalRetailValue = 0.0F;

    Console console = openConsole();
    totalRetailValue = runEntryDialogue(console, productNum, quantitySold, totalRetailValue);
    writeClosingReport(totalRetailValue);

    // The report shows what was booked, but a day whose input could not all
    // be read, or a report that never arrived (a full disk, say), is no
    // success.
    std::cout.flush();
    const bool succeeded = std::cout.good() && !inputFailed(console);
    holdOwnWindowOpen();
    return succeeded ? EXIT_SUCCESS : EXIT_FAILURE;
}
