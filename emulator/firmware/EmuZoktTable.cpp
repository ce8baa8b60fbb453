// The emulated firmware's ZOKT handlers by record type, one line per type.
#include "EmuZokt.h"

bool EmuZokt_Handshake(EmuZoktRequest& request);
bool EmuZokt_OemCmd(EmuZoktRequest& request);
bool EmuZokt_SecureFlash(EmuZoktRequest& request);

const EmuZoktHandlerEntry EmuZoktHandlers[] = {
    {0x00, 1, EmuZokt_Handshake},
    {0x57, 1, EmuZokt_OemCmd},
    {0x70, 1, EmuZokt_SecureFlash},
    {0, 0, nullptr},
};
