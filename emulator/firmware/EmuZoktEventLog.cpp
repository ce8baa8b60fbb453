// Event-log clearing (type 0x58): the record status comes from evlog_status;
// each cleared log is counted in state/evlog_cleared.
#include "EmuMachine.h"
#include "EmuZokt.h"

bool EmuZokt_EventLog(EmuZoktRequest& request) {
    if (EmuMachine_GetNum("evlog_support", 1) == 0) return false;
    const UINT32 rec = EMU_ZOKT_RECORD;
    UINT16 function = request.U16(rec);
    // A request other than the clear request is not supported.
    UINT16 status = function == 1 ? static_cast<UINT16>(EmuMachine_GetNum("evlog_status", 1)) : 4;
    if (status == 1) EmuState_SetNum("evlog_cleared", EmuState_GetNum("evlog_cleared", 0) + 1);
    request.Put16(rec + 2, status);
    EmuZokt_TraceAdd(request, " func=0x%04x status=0x%04x", function, status);
    EmuZokt_Answer(request, EMU_ZOKT_RS_SUPPORT);
    return true;
}
