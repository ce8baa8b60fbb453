// ROM-file pattern query and check (type 0x5C). The query answer names the
// pattern of `pattern` (or the bytes of `pattern_hex`); the check request
// carries the bytes behind the match at the physical address that replaces
// its terminator; they are kept in state/pattern_data.
#include <cstring>
#include <string>
#include <vector>
#include "EmuMachine.h"
#include "EmuZokt.h"

namespace {

const UINT32 kPatternField = 64;

std::vector<UINT8> PatternField() {
    std::vector<UINT8> field;
    if (EmuMachine_Has("pattern_hex")) {
        std::string hex = EmuHexBytes(EmuMachine_Get("pattern_hex", ""));
        field.assign(hex.begin(), hex.end());
    } else {
        std::string text = EmuMachine_Get("pattern", "");
        field.assign(text.begin(), text.end());
    }
    if (field.size() > kPatternField) field.resize(kPatternField);
    return field;
}

void Query(EmuZoktRequest& request) {
    const UINT32 rec = EMU_ZOKT_RECORD;
    std::vector<UINT8> field = PatternField();
    UINT8 status = static_cast<UINT8>(EmuMachine_GetNum("pattern_status", field.empty() ? 0 : 1));
    UINT8 form = static_cast<UINT8>(EmuMachine_GetNum("pattern_form", 0));
    UINT16 send = static_cast<UINT16>(EmuMachine_GetNum("pattern_send", 0));
    request.Put8(rec, form);
    request.Put8(rec + 1, status);
    request.Put16(rec + 2, send);
    for (UINT32 i = 0; i < kPatternField; ++i) request.Put8(rec + 4 + i, i < field.size() ? field[i] : 0);
    EmuZokt_TraceAdd(request, " pat=0x01 form=0x%02x status=0x%02x send=0x%04x pattern=%s", form, status, send,
                     EmuZokt_Quote(field.data(), field.size()).c_str());
    UINT16 rs = EMU_ZOKT_RS_SUPPORT;
    if (EmuMachine_GetNum("pattern_error_out", 0) != 0) rs |= EMU_ZOKT_RS_ERR_OUT;
    EmuZokt_Answer(request, rs);
}

void Check(EmuZoktRequest& request, UINT8 what) {
    const UINT32 rec = EMU_ZOKT_RECORD;
    UINT8 status = 2;  // not found: the file is refused
    if (what == 2) {
        UINT16 n = request.U16(rec + 2);
        UINT64 address = request.U64(request.RunningSize - 4);
        std::vector<UINT8> data(n);
        bool read = n != 0 && EmuPhys_Read(address, data.data(), n);
        EmuZokt_TraceAdd(request, " pat=0x02 n=0x%04x addr=0x%08llx data=%s", n,
                         static_cast<unsigned long long>(address),
                         EmuZokt_Quote(data.data(), data.size() < 16 ? data.size() : 16).c_str());
        EmuState_Set("pattern_data", std::string(data.begin(), data.end()));
        status = read ? 1 : 2;
    } else {
        EmuZokt_TraceAdd(request, " pat=0x%02x", what);
    }
    status = static_cast<UINT8>(EmuMachine_GetNum("pattern_check_status", status));
    request.Put8(rec + 1, status);
    EmuZokt_TraceAdd(request, " status=0x%02x", status);
    EmuZokt_Answer(request, EMU_ZOKT_RS_SUPPORT);
}

}  // namespace

bool EmuZokt_Pattern(EmuZoktRequest& request) {
    if (EmuMachine_GetNum("pattern_support", 1) == 0) return false;
    UINT8 what = request.U8(EMU_ZOKT_RECORD);
    if (what == 1) {
        Query(request);
    } else if (what == 2 || what == 4) {
        Check(request, what);
    } else {
        EmuZokt_TraceAdd(request, " pat=0x%02x", what);
        return false;
    }
    EmuZokt_AnswerText(request, EmuMachine_Get("pattern_text", ""));
    return true;
}
