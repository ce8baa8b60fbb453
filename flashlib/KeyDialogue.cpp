// The key dialogue bracket: the flash interface stays closed while the
// operator types.
#include "KeyDialogue.h"
#include "FlashBlock.h"
#include "TKXPortIo.h"

void YOZ_BeginKeyDialogue() {
    CleanFlashIfc();
    YozEnableInput(1);
}

// The keyboard is locked again for the flash work that follows; the driver
// unlocks it when the program closes its device, so no lock outlives the run.
void YOZ_EndKeyDialogue() {
    YozEnableInput(0);
    EnableFlashIfc();
}
