// Setup and DMI preservation (type 0x56): the record status comes from
// setup_status, or setup_status_<function> for one function.
#include <string>
#include "EmuMachine.h"
#include "EmuZokt.h"

bool EmuZokt_Setup(EmuZoktRequest& request) {
    if (EmuMachine_GetNum("setup_support", 1) == 0) return false;
    const UINT32 rec = EMU_ZOKT_RECORD;
    UINT8 function = request.U8(rec);
    std::string perFunction = "setup_status_" + std::to_string(function);
    UINT8 status =
        static_cast<UINT8>(EmuMachine_GetNum(perFunction.c_str(), EmuMachine_GetNum("setup_status", 1)));
    request.Put8(rec + 1, status);
    EmuZokt_TraceAdd(request, " fn=0x%02x status=0x%02x", function, status);
    EmuZokt_Answer(request, EMU_ZOKT_RS_SUPPORT);
    return true;
}
