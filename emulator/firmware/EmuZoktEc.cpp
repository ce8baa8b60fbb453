// EC flash requests (type 0x54) over the EC ROM file ec.bin, and the EC
// battery check (type 0x5B). EC requests carry no address: the controller
// keeps its position in state/ec_pos, back to 0 only on START and RETRY,
// advanced by every piece it takes (an answer lost on the way included),
// wrapping at the EC size. state/ec_pieces counts the pieces (page, erase,
// verify) that reached it in flash mode since the START that entered it.
#include <cstdio>
#include <string>
#include <vector>
#include "EmuMachine.h"
#include "EmuZokt.h"

namespace {

const UINT32 kRec = EMU_ZOKT_RECORD;

UINT32 EcSize() { return static_cast<UINT32>(EmuMachine_GetNum("ec_size_kb", 128)) * 1024u; }

// The EC ROM, 0xFF-filled when it does not exist yet or has another size.
std::vector<UINT8> LoadEcRom() {
    std::vector<UINT8> rom(EcSize(), 0xFF);
    FILE* f = fopen(EmuMachine_File("ec.bin").c_str(), "rb");
    if (f == nullptr) return rom;
    std::vector<UINT8> old(rom.size() + 1);
    size_t n = fread(old.data(), 1, old.size(), f);
    fclose(f);
    if (n == rom.size()) old.resize(n), rom.swap(old);
    return rom;
}

void SaveEcRom(const std::vector<UINT8>& rom) {
    FILE* f = fopen(EmuMachine_File("ec.bin").c_str(), "wb");
    if (f == nullptr) return;
    fwrite(rom.data(), 1, rom.size(), f);
    fclose(f);
}

UINT32 CheckSum(const std::vector<UINT8>& data) {
    UINT32 sum = 0;
    for (size_t i = 0; i + 4 <= data.size(); i += 4) {
        sum += static_cast<UINT32>(data[i]) | (static_cast<UINT32>(data[i + 1]) << 8) |
               (static_cast<UINT32>(data[i + 2]) << 16) | (static_cast<UINT32>(data[i + 3]) << 24);
    }
    return data.empty() ? 0 : ~sum;
}

// A data piece (FLASH, VERIFY): read from the physical address over the terminator.
bool ReadData(EmuZoktRequest& request, UINT32 length, std::vector<UINT8>& data) {
    UINT64 address = request.U64(0x21);
    EmuZokt_TraceAdd(request, " data=0x%08llx", static_cast<unsigned long long>(address));
    if (address == 0 || length == 0 || length > 0x10000) return false;
    data.resize(length);
    return EmuPhys_Read(address, data.data(), length);
}

UINT16 Piece(EmuZoktRequest& request, UINT8 sub, UINT32 length, UINT32& pos) {
    if (EmuState_GetNum("ec_mode", 0) == 0) return 0x10;  // no START yet
    std::vector<UINT8> rom = LoadEcRom();
    std::vector<UINT8> data;
    if (sub != 0x10) {
        if (!ReadData(request, length, data)) return 0x40;
        if (CheckSum(data) != request.U32(kRec + 3)) return 0x02;
    } else if (length == 0) {
        return 0x08;
    }
    if (EmuZokt_Refused("ec_refuse", "ec_refused_", pos)) return static_cast<UINT16>(EmuMachine_GetNum("ec_refuse_status", 0x40));
    UINT32 size = static_cast<UINT32>(rom.size());
    for (UINT32 i = 0; i < length; ++i) {
        UINT32 at = (pos + i) % size;
        if (sub == 0x02) rom[at] = data[i];
        if (sub == 0x10) rom[at] = 0xFF;
        if (sub == 0x20 && rom[at] != data[i]) return 0x40;
    }
    if (sub != 0x20) SaveEcRom(rom);
    pos = (pos + length) % size;
    return 0x01;
}

}  // namespace

bool EmuZokt_Ec(EmuZoktRequest& request) {
    if (EmuMachine_GetNum("ec_support", 1) == 0) return false;
    UINT8 sub = request.U8(kRec);
    UINT32 length = request.U32(kRec + 7);
    EmuZokt_TraceAdd(request, " sub=0x%02x len=0x%08x", sub, length);
    UINT32 pos = static_cast<UINT32>(EmuState_GetNum("ec_pos", 0));
    UINT16 status = 0;
    if (request.U16(kRec + 1) != 0) {
        status = 0x8000;  // a request carries status 0
    } else if (sub == 0x01) {
        UINT32 chip = request.U32(0x25);
        EmuZokt_TraceAdd(request, " chip=0x%04x", chip);
        pos = 0;
        bool wrongChip = EmuMachine_Has("ec_chip_id") && chip != 0 && chip != EmuMachine_GetNum("ec_chip_id", 0);
        status = wrongChip ? 0x100 : 0x01;
    } else if (sub == 0x04) {
        status = EmuState_GetNum("ec_mode", 0) != 0 ? 0x01 : 0x80;
    } else if (sub == 0x08) {
        request.Put32(kRec + 7, EcSize() / 1024);
        request.Put32(kRec + 3, static_cast<UINT32>(EmuMachine_GetNum("ec_page_size", 0x1000)));
        status = 0x01;
    } else if (sub == 0x40) {
        pos = 0;
        status = 0x01;
    } else if (sub == 0x02 || sub == 0x10 || sub == 0x20) {
        EmuZokt_TraceAdd(request, " pos=0x%08x", pos);
        if (EmuState_GetNum("ec_mode", 0) != 0) EmuState_SetNum("ec_pieces", EmuState_GetNum("ec_pieces", 0) + 1);
        status = Piece(request, sub, length, pos);
    }
    std::string perSub = "ec_status_" + std::to_string(sub);
    if (EmuMachine_Has(perSub.c_str())) status = static_cast<UINT16>(EmuMachine_GetNum(perSub.c_str(), status));
    if (status == 0x01 && (sub == 0x01 || sub == 0x04)) EmuState_SetNum("ec_mode", sub == 0x01 ? 1 : 0);
    if (status == 0x01 && sub == 0x01) EmuState_SetNum("ec_pieces", 0);
    EmuState_SetNum("ec_pos", pos);
    request.Put16(kRec + 1, status);
    EmuZokt_TraceAdd(request, " status=0x%04x", status);
    EmuZokt_Answer(request, EMU_ZOKT_RS_SUPPORT);
    EmuZokt_AnswerText(request, EmuMachine_Get("ec_text", ""));
    return true;
}

bool EmuZokt_Battery(EmuZoktRequest& request) {
    std::string answer = EmuMachine_Get("ec_battery", "1");
    if (answer == "none") return false;
    UINT64 status = 1;
    EmuParseNum(answer, status);
    EmuZokt_TraceAdd(request, " func=0x%02x status=0x%02x", request.U8(kRec), static_cast<UINT8>(status));
    request.Put8(kRec + 1, static_cast<UINT8>(status));
    EmuZokt_Answer(request, EMU_ZOKT_RS_SUPPORT);
    EmuZokt_AnswerText(request, EmuMachine_Get("ec_battery_text", ""));
    return true;
}
