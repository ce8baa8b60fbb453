// The emulated firmware's ZOKT handlers by record type, one line per type.
#include "EmuZokt.h"

bool EmuZokt_Handshake(EmuZoktRequest& request);
bool EmuZokt_OemCmd(EmuZoktRequest& request);
bool EmuZokt_SecureFlash(EmuZoktRequest& request);
bool EmuZokt_Ec(EmuZoktRequest& request);
bool EmuZokt_Battery(EmuZoktRequest& request);
bool EmuZokt_Me(EmuZoktRequest& request);
bool EmuZokt_Cfg(EmuZoktRequest& request);

const EmuZoktHandlerEntry EmuZoktHandlers[] = {
    {0x00, 1, EmuZokt_Handshake},
    {0x51, 0, EmuZokt_Cfg},
    {0x54, 0, EmuZokt_Ec},
    {0x55, 0, EmuZokt_Me},
    {0x57, 1, EmuZokt_OemCmd},
    {0x5B, 1, EmuZokt_Battery},
    {0x70, 1, EmuZokt_SecureFlash},
    {0, 0, nullptr},
};
