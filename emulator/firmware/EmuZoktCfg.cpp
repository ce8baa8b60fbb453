// Configuration commands (type 0x51): the request's masks, and the K and L
// selection entries in place of the terminator; answered by cfg_answer.
#include <string>
#include "EmuMachine.h"
#include "EmuZokt.h"

namespace {

// "BITS,MASK" of cfg_k / cfg_l as an answered entry at offset at.
void PutEntry(EmuZoktRequest& request, UINT32 at, UINT32 type, const char* key) {
    std::string value = EmuMachine_Get(key, "");
    size_t comma = value.find(',');
    UINT64 bits = 0, mask = 0;
    if (comma == std::string::npos || !EmuParseNum(value.substr(0, comma), bits) ||
        !EmuParseNum(value.substr(comma + 1), mask))
        return;
    request.Put32(at, type);
    request.Put16(at + 4, static_cast<UINT16>(bits));
    request.Put16(at + 6, static_cast<UINT16>(mask));
}

}  // namespace

bool EmuZokt_Cfg(EmuZoktRequest& request) {
    std::string mode = EmuMachine_Get("cfg_answer", "echo");
    if (mode == "none") return false;
    const UINT32 rec = EMU_ZOKT_RECORD;
    EmuZokt_TraceAdd(request, " disable=0x%08x enable=0x%08x", request.U32(rec), request.U32(rec + 4));
    UINT32 end = rec + 8;
    bool entries = request.U32(end) != EMU_ZOKT_TERMINATOR;
    if (entries) {
        EmuZokt_TraceAdd(request, " k=0x%08x,0x%04x,0x%04x l=0x%08x,0x%04x,0x%04x", request.U32(end),
                         request.U16(end + 4), request.U16(end + 6), request.U32(end + 8), request.U16(end + 12),
                         request.U16(end + 14));
    }
    EmuZokt_TraceAdd(request, " answer=%s", mode.c_str());
    UINT16 status = EMU_ZOKT_RS_SUPPORT;
    if (mode == "error") status |= EMU_ZOKT_RS_ERR_OUT;
    if (mode == "masks") {
        request.Put32(rec, static_cast<UINT32>(EmuMachine_GetNum("cfg_disable", 0)));
        request.Put32(rec + 4, static_cast<UINT32>(EmuMachine_GetNum("cfg_enable", 0xFFFFFFFFu)));
    }
    EmuZokt_Answer(request, status);
    // Entries are answered at the running size - 4, a text at the running
    // size: the two would overlap, so entries win.
    UINT32 at = request.RunningSize - 4u;
    bool answeredEntries = EmuMachine_Has("cfg_k") || EmuMachine_Has("cfg_l");
    if (EmuMachine_Has("cfg_k")) PutEntry(request, at, 0x40000, "cfg_k");
    if (EmuMachine_Has("cfg_l")) PutEntry(request, at + 8, 0x100000, "cfg_l");
    if (!answeredEntries) EmuZokt_AnswerText(request, EmuMachine_Get("cfg_text", ""));
    return true;
}
