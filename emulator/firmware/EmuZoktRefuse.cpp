// Transient refusals of the ZOKT handlers: "POSITION:COUNT" rules joined by
// commas, each refusing the request at POSITION COUNT times, counted since
// the machine was made.
#include <string>
#include "EmuMachine.h"
#include "EmuZokt.h"

bool EmuZokt_Refused(const char* setting, const char* counter, UINT32 position) {
    std::string rules = EmuMachine_Get(setting, "");
    size_t start = 0;
    while (start < rules.size()) {
        size_t comma = rules.find(',', start);
        if (comma == std::string::npos) comma = rules.size();
        std::string rule = rules.substr(start, comma - start);
        start = comma + 1;
        size_t colon = rule.find(':');
        UINT64 at = 0, count = 0;
        if (colon == std::string::npos || !EmuParseNum(rule.substr(0, colon), at) ||
            !EmuParseNum(rule.substr(colon + 1), count) || at != position)
            continue;
        std::string key = std::string(counter) + std::to_string(position);
        UINT64 done = EmuState_GetNum(key.c_str(), 0);
        if (done >= count) return false;
        EmuState_SetNum(key.c_str(), done + 1);
        return true;
    }
    return false;
}
