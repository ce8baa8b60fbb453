// The emulated firmware's SMI handlers by command byte.
#include "EmuSmi.h"
#include "EmuFlashPart.h"
#include "EmuZokt.h"

void EmuSmi_MemoryHole(EmuSmiRequest& request);
void EmuSmi_MailBox(EmuSmiRequest& request);

const EmuSmiHandlerEntry EmuSmiHandlers[] = {
    {0x26, EmuZokt_Smi26},
    {0x7F, EmuSmi_MemoryHole},
    {0xD9, EmuSmi_MailBox},
    {0x20, EmuSmi_FlashOpen},
    {0x21, EmuSmi_FlashRead},
    {0x22, EmuSmi_FlashErase},
    {0x23, EmuSmi_FlashWrite},
    {0x24, EmuSmi_FlashClose},
    {0x25, EmuSmi_FlashInfo},
    {0, nullptr},
};
