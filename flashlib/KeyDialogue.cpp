// The key dialogue bracket: the flash interface stays closed while the
// operator types.
#include "KeyDialogue.h"
#include "FlashBlock.h"
#include "TKXPortIo.h"

void YOZ_BeginKeyDialogue() {
    CleanFlashIfc();
    YozEnableInput(1);
}

// The keyboard is left unlocked, as it was before the dialogue: nothing
// else in the program locks it, and a lock left behind would outlive the
// process while the driver is loaded.
void YOZ_EndKeyDialogue() { EnableFlashIfc(); }
