#include "closing_report.h"
#include "console.h"
#include "entry_dialogue.h"

#include <cstdint>
#include <cstdlib>

int main()
{
    std::int32_t productNum = 0;
    std::int32_t quantitySold = 0;
    float totalRetailValue = 0.0F;

    Console console;
    totalRetailValue = runEntryDialogue(console, productNum, quantitySold, totalRetailValue);
    writeClosingReport(console, totalRetailValue);
    flushConsole(console);

    // The report shows what was booked, but a day whose input could not all
    // be read, or a report that never arrived (a full disk, say), is no
    // success.
    const bool succeeded = !outputFailed(console) && !inputFailed(console);
    holdOwnWindowOpen(console);
    return succeeded ? EXIT_SUCCESS : EXIT_FAILURE;
}
