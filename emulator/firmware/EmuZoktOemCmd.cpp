// OEM commands (type 0x57): value form (codes 1-4) and text form (codes 5-8,
// the text at the offset the record names). The answered record status comes
// from oemcmd_status, or oemcmd_status_<code> for one code.
#include <string>
#include "EmuMachine.h"
#include "EmuZokt.h"

bool EmuZokt_OemCmd(EmuZoktRequest& request) {
    if (EmuMachine_GetNum("oemcmd_support", 1) == 0) return false;
    UINT32 rec = EMU_ZOKT_RECORD;
    UINT16 code = request.U16(rec);
    UINT32 value = request.U32(rec + 4);
    UINT32 length = request.U32(rec + 8);
    EmuZokt_TraceAdd(request, " code=0x%04x", code);
    UINT16 status;
    if (request.U16(rec + 2) != 0) {
        status = 2;  // a request carries status 0
    } else if (code >= 1 && code <= 4) {
        EmuZokt_TraceAdd(request, " value=0x%08x len=0x%08x", value, length);
        status = length == 0 ? 1 : 2;
    } else if (code >= 5 && code <= 8) {
        EmuZokt_TraceAdd(request, " value=0x%08x len=0x%08x", value, length);
        bool inside = value >= rec + 0x10 && static_cast<UINT64>(value) + length <= request.Buf.size();
        if (inside) request.Trace += " text=" + EmuZokt_Quote(request.Buf.data() + value, length);
        status = inside ? 1 : 2;
    } else {
        status = 2;
    }
    if (status == 1) {
        std::string perCode = "oemcmd_status_" + std::to_string(code);
        status = static_cast<UINT16>(EmuMachine_GetNum(perCode.c_str(), EmuMachine_GetNum("oemcmd_status", 1)));
    }
    request.Put16(rec + 2, status);
    EmuZokt_TraceAdd(request, " status=0x%04x", status);
    EmuZokt_Answer(request, EMU_ZOKT_RS_SUPPORT);
    EmuZokt_AnswerText(request, EmuMachine_Get("oemcmd_text", ""));
    return true;
}
