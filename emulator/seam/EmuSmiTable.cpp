// The emulated firmware's SMI handlers by command byte.
#include "EmuSmi.h"

void EmuSmi_MemoryHole(EmuSmiRequest& request);
void EmuSmi_MailBox(EmuSmiRequest& request);

const EmuSmiHandlerEntry EmuSmiHandlers[] = {
    {0x7F, EmuSmi_MemoryHole},
    {0xD9, EmuSmi_MailBox},
    {0, nullptr},
};
