// The emulated firmware's ZOKT handlers by record type, one line per type.
#include "EmuZokt.h"

bool EmuZokt_Handshake(EmuZoktRequest& request);
bool EmuZokt_OemCmd(EmuZoktRequest& request);
bool EmuZokt_SecureFlash(EmuZoktRequest& request);
bool EmuZokt_Ec(EmuZoktRequest& request);
bool EmuZokt_Battery(EmuZoktRequest& request);
bool EmuZokt_Me(EmuZoktRequest& request);
bool EmuZokt_Cfg(EmuZoktRequest& request);
bool EmuZokt_Password(EmuZoktRequest& request);
bool EmuZokt_RomId(EmuZoktRequest& request);
bool EmuZokt_Setup(EmuZoktRequest& request);
bool EmuZokt_EventLog(EmuZoktRequest& request);
bool EmuZokt_OaKey(EmuZoktRequest& request);
bool EmuZokt_Pattern(EmuZoktRequest& request);
bool EmuZokt_Mfg(EmuZoktRequest& request);

const EmuZoktHandlerEntry EmuZoktHandlers[] = {
    {0x00, 1, EmuZokt_Handshake},
    {0x51, 0, EmuZokt_Cfg},
    {0x54, 0, EmuZokt_Ec},
    {0x55, 1, EmuZokt_Me},
    {0x57, 1, EmuZokt_OemCmd},
    {0x5B, 1, EmuZokt_Battery},
    {0x70, 1, EmuZokt_SecureFlash},
    {0x52, 0, EmuZokt_Password},   // the compare sends the password over the terminator
    {0x53, 1, EmuZokt_RomId},
    {0x56, 1, EmuZokt_Setup},
    {0x58, 1, EmuZokt_EventLog},
    {0x5A, 1, EmuZokt_OaKey},
    {0x5C, 0, EmuZokt_Pattern},    // the check's data address replaces the terminator
    {0x71, 1, EmuZokt_Mfg},
    {0, 0, nullptr},
};
