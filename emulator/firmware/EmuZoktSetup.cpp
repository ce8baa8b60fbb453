// Setup and DMI preservation (type 0x56): the record status comes from
// setup_status, or setup_status_<function> for one function. A store the
// firmware accepted is kept in state/setup_stored or state/dmi_stored until
// its restore takes it; a restore without one is refused (0x08 setup, 0x20
// DMI), as the firmware has nothing to put back.
#include <string>
#include "EmuMachine.h"
#include "EmuZokt.h"

namespace {

const UINT8 kDone = 0x01;

struct StoredVariables {
    UINT8 Store, Restore;  // functions
    const char* State;
    UINT8 Refusal;         // a restore without a store
};
const StoredVariables kStored[] = {
    {0x02, 0x04, "setup_stored", 0x08},
    {0x08, 0x10, "dmi_stored", 0x20},
};

// Applies the stores the firmware holds to the configured answer.
UINT8 WithStoredState(UINT8 function, UINT8 status) {
    for (const StoredVariables& s : kStored) {
        if (function == s.Store && status == kDone) EmuState_SetNum(s.State, 1);
        if (function != s.Restore || status != kDone) continue;
        if (EmuState_GetNum(s.State, 0) == 0) return s.Refusal;
        EmuState_SetNum(s.State, 0);
    }
    return status;
}

}  // namespace

bool EmuZokt_Setup(EmuZoktRequest& request) {
    if (EmuMachine_GetNum("setup_support", 1) == 0) return false;
    const UINT32 rec = EMU_ZOKT_RECORD;
    UINT8 function = request.U8(rec);
    std::string perFunction = "setup_status_" + std::to_string(function);
    UINT8 status =
        static_cast<UINT8>(EmuMachine_GetNum(perFunction.c_str(), EmuMachine_GetNum("setup_status", 1)));
    status = WithStoredState(function, status);
    request.Put8(rec + 1, status);
    EmuZokt_TraceAdd(request, " fn=0x%02x status=0x%02x", function, status);
    EmuZokt_Answer(request, EMU_ZOKT_RS_SUPPORT);
    return true;
}
