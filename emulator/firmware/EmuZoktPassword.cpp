// Firmware password (type 0x52). The presence query answers the length
// (password_length, else the length of `password`) with status 0x1, or 0 when
// the machine has no password; the compare reads that many bytes where the
// terminator was and accepts them when they equal the password (padded with
// zeros). Refusals are counted in state/password_fails; from password_tries
// on, status bit 0x4 ends the attempts.
#include <cstring>
#include <string>
#include <vector>
#include "EmuMachine.h"
#include "EmuZokt.h"

bool EmuZokt_Password(EmuZoktRequest& request) {
    if (EmuMachine_GetNum("password_support", 1) == 0) return false;
    const UINT32 rec = EMU_ZOKT_RECORD;
    std::string password = EmuMachine_Get("password", "");
    UINT16 length = static_cast<UINT16>(EmuMachine_GetNum("password_length", password.size()));
    UINT64 tries = EmuMachine_GetNum("password_tries", 3);
    UINT64 fails = EmuState_GetNum("password_fails", 0);
    UINT8 function = request.U8(rec + 2);
    UINT8 status = 0;
    std::string text;
    if (function == 1) {
        if (length != 0) status = static_cast<UINT8>(0x1 | (fails >= tries ? 0x4 : 0));
        request.Put16(rec, length);
        EmuZokt_TraceAdd(request, " fn=0x01 len=0x%04x", length);
        text = EmuMachine_Get("password_text", "");
    } else if (function == 2) {
        UINT16 sent = request.U16(rec);
        UINT32 at = request.RunningSize;
        std::vector<UINT8> typed(sent);
        if (static_cast<UINT64>(at) + sent <= request.Buf.size()) memcpy(typed.data(), request.Buf.data() + at, sent);
        std::vector<UINT8> expected(length, 0);
        memcpy(expected.data(), password.data(), password.size() < length ? password.size() : length);
        EmuZokt_TraceAdd(request, " fn=0x02 len=0x%04x pwd=%s", sent, EmuZokt_Quote(typed.data(), typed.size()).c_str());
        if (fails < tries && length != 0 && typed == expected) {
            status = 0x2;
            EmuState_SetNum("password_fails", 0);
        } else {
            ++fails;
            EmuState_SetNum("password_fails", fails);
            status = static_cast<UINT8>(0x1 | (fails >= tries ? 0x4 : 0));
        }
        text = EmuMachine_Get("password_check_text", "");
    } else {
        EmuZokt_TraceAdd(request, " fn=0x%02x", function);
        return false;
    }
    request.Put8(rec + 3, status);
    EmuZokt_TraceAdd(request, " status=0x%02x", status);
    EmuZokt_Answer(request, EMU_ZOKT_RS_SUPPORT);
    EmuZokt_AnswerText(request, text);
    return true;
}
