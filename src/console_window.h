#pragma once

// On Windows, a console program started from Explorer or a shortcut gets a
// window of its own that closes the moment the program ends. There, this asks
// for a key press and waits for it, so the operator can read the total; in
// every other setting it does nothing. Call it after the closing report.
void holdOwnWindowOpen();
