// ROM-ID check (type 0x53). The query answers romid_answer in the record's
// status (3: send romid_size bytes of the ROM file from romid_offset). The
// data request carries the bytes behind its terminator; the firmware
// compares them with its flash at the same offset (romid_verdict=compare),
// or answers `ok` or `mismatch` as told. A mismatch answers return status
// 0x08 (error out).
#include <cstring>
#include <string>
#include <vector>
#include "EmuMachine.h"
#include "EmuZokt.h"

bool EmuZokt_RomId(EmuZoktRequest& request) {
    if (EmuMachine_GetNum("romid_support", 1) == 0) return false;
    const UINT32 rec = EMU_ZOKT_RECORD;
    UINT8 function = request.U8(rec);
    UINT16 rs = EMU_ZOKT_RS_SUPPORT;
    if (function == 1) {
        UINT8 answer = static_cast<UINT8>(EmuMachine_GetNum("romid_answer", 0));
        UINT32 offset = static_cast<UINT32>(EmuMachine_GetNum("romid_offset", 0));
        UINT32 size = static_cast<UINT32>(EmuMachine_GetNum("romid_size", 0x10));
        request.Put8(rec + 1, answer);
        request.Put32(rec + 2, offset);
        request.Put32(rec + 10, size);
        EmuZokt_TraceAdd(request, " fn=0x01 answer=0x%02x off=0x%08x size=0x%08x", answer, offset, size);
        EmuZokt_Answer(request, rs);
        return true;
    }
    if (function != 2) {
        EmuZokt_TraceAdd(request, " fn=0x%02x", function);
        return false;
    }
    UINT32 offset = request.U32(rec + 2);
    UINT32 size = request.U32(rec + 10);
    UINT32 at = request.RunningSize;
    std::vector<UINT8> sent(size <= EMU_ZOKT_BUFFER_SIZE ? size : 0);
    std::vector<UINT8> flash(sent.size());
    bool match = sent.size() == size && static_cast<UINT64>(at) + size <= request.Buf.size() &&
                 EmuFlash_Read(offset, flash.data(), size);
    if (match && size != 0) {
        memcpy(sent.data(), request.Buf.data() + at, size);
        match = sent == flash;
    }
    std::string verdict = EmuMachine_Get("romid_verdict", "compare");
    if (verdict == "ok") match = true;
    if (verdict == "mismatch") match = false;
    if (!match) rs |= EMU_ZOKT_RS_ERR_OUT;
    request.Put8(rec + 1, match ? 0x10 : 0x00);
    EmuZokt_TraceAdd(request, " fn=0x02 off=0x%08x size=0x%08x verdict=%s", offset, size, match ? "match" : "mismatch");
    EmuZokt_Answer(request, rs);
    EmuZokt_AnswerText(request, EmuMachine_Get("romid_text", ""));
    return true;
}
