// Manufacturing option names (type 0x71): with mfg=1 the answer carries the
// table of mfg_table at mfg_offset behind the record; otherwise status 2.
#include <cstring>
#include <string>
#include <vector>
#include "EmuMachine.h"
#include "EmuZokt.h"

namespace {

const UINT32 kEntrySize = 273;

// "ID|WORD|HELP" entries joined by ";"; words and help texts are cut to
// their fields (16 and 256 bytes) without a terminator when they fill them.
std::vector<std::vector<UINT8>> ParseTable(const std::string& spec) {
    std::vector<std::vector<UINT8>> entries;
    size_t start = 0;
    while (start < spec.size()) {
        size_t end = spec.find(';', start);
        if (end == std::string::npos) end = spec.size();
        std::string item = spec.substr(start, end - start);
        start = end + 1;
        size_t bar1 = item.find('|');
        if (bar1 == std::string::npos) continue;
        size_t bar2 = item.find('|', bar1 + 1);
        UINT64 id = 0;
        if (!EmuParseNum(item.substr(0, bar1), id)) continue;
        std::string word = item.substr(bar1 + 1, bar2 == std::string::npos ? std::string::npos : bar2 - bar1 - 1);
        std::string help = bar2 == std::string::npos ? "" : item.substr(bar2 + 1);
        std::vector<UINT8> entry(kEntrySize, 0);
        entry[0] = static_cast<UINT8>(id);
        memcpy(entry.data() + 1, word.data(), word.size() < 16 ? word.size() : 16);
        memcpy(entry.data() + 17, help.data(), help.size() < 256 ? help.size() : 256);
        entries.push_back(entry);
    }
    return entries;
}

}  // namespace

bool EmuZokt_Mfg(EmuZoktRequest& request) {
    const UINT32 rec = EMU_ZOKT_RECORD;
    if (EmuMachine_GetNum("mfg", 0) == 0) {
        request.Put8(rec + 2, 2);
        EmuZokt_TraceAdd(request, " size=0x%02x mfg=0x02", request.RecordSize);
        EmuZokt_Answer(request, EMU_ZOKT_RS_SUPPORT);
        return true;
    }
    std::vector<std::vector<UINT8>> table = ParseTable(EmuMachine_Get("mfg_table", ""));
    UINT8 offset = static_cast<UINT8>(EmuMachine_GetNum("mfg_offset", 0x10));
    UINT16 count = static_cast<UINT16>(EmuMachine_GetNum("mfg_count", table.size()));
    UINT32 at = rec + offset;
    UINT32 written = 0;
    for (const std::vector<UINT8>& entry : table) {
        if (static_cast<UINT64>(at) + kEntrySize > request.Buf.size()) break;
        memcpy(request.Buf.data() + at, entry.data(), kEntrySize);
        at += kEntrySize;
        ++written;
    }
    request.Put8(rec + 1, offset);
    request.Put8(rec + 2, 1);
    request.Put16(rec + 3, count);
    EmuZokt_TraceAdd(request, " size=0x%02x mfg=0x01 offset=0x%02x count=0x%04x entries=0x%04x", request.RecordSize,
                     offset, count, written);
    EmuZokt_Answer(request, EMU_ZOKT_RS_SUPPORT);
    return true;
}
