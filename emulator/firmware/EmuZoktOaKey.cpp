// OEM activation data check (type 0x5A): the firmware reads the data at the
// physical address of the record (kept in state/oa_data) and answers the
// status of oa_status; with bit 0x2 it writes oa_new_data over the data.
#include <algorithm>
#include <string>
#include <vector>
#include "EmuMachine.h"
#include "EmuZokt.h"

bool EmuZokt_OaKey(EmuZoktRequest& request) {
    if (EmuMachine_GetNum("oa_support", 1) == 0) return false;
    const UINT32 rec = EMU_ZOKT_RECORD;
    UINT32 flash = request.U32(rec + 4);
    UINT64 address = request.U64(rec + 8);
    UINT32 size = request.U32(rec + 0x10);
    std::vector<UINT8> data(size <= EMU_ZOKT_BUFFER_SIZE ? size : 0);
    bool read = !data.empty() && EmuPhys_Read(address, data.data(), size);
    EmuZokt_TraceAdd(request, " oa=0x%02x flash=0x%08x addr=0x%08llx size=0x%08x", request.U8(rec), flash,
                     static_cast<unsigned long long>(address), size);
    if (read) EmuState_Set("oa_data", std::string(data.begin(), data.end()));

    UINT16 status = static_cast<UINT16>(EmuMachine_GetNum("oa_status", 0));
    if ((status & 0x2) != 0 && read) {
        std::string change = EmuMachine_Get("oa_new_data", "MODIFIED");
        for (size_t i = 0; i < change.size() && i < data.size(); ++i) data[i] = static_cast<UINT8>(change[i]);
        // Data inside the interface buffer changes in the answer written back.
        if (address >= request.Address && address - request.Address + size <= request.Buf.size()) {
            std::copy(data.begin(), data.end(), request.Buf.begin() + (address - request.Address));
        } else {
            EmuPhys_Write(address, data.data(), size);
        }
    }
    request.Put8(rec + 1, static_cast<UINT8>(EmuMachine_GetNum("oa_error_id", 0)));
    request.Put16(rec + 2, status);
    EmuZokt_TraceAdd(request, " status=0x%04x", status);
    EmuZokt_Answer(request, EMU_ZOKT_RS_SUPPORT);
    EmuZokt_AnswerText(request, EmuMachine_Get("oa_text", ""));
    return true;
}
