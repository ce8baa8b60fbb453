// The version handshake (type 0): the firmware's version, its greeting text
// and its error-out flag.
#include "EmuMachine.h"
#include "EmuZokt.h"

bool EmuZokt_Handshake(EmuZoktRequest& request) {
    request.Put16(0x04, EmuZokt_FirmwareVersion());
    UINT16 status = EMU_ZOKT_RS_SUPPORT;
    if (EmuMachine_GetNum("zokt_error_out", 0) != 0) status |= EMU_ZOKT_RS_ERR_OUT;
    EmuZokt_Answer(request, status);
    EmuZokt_AnswerText(request, EmuMachine_Get("zokt_greeting", ""));
    return true;
}
