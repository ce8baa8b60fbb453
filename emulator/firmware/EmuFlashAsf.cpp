// The "$ASF" shadow check of the emulated firmware: before a flash request
// the program stores the interface buffer's address in the "$ASF" body; the
// firmware takes it from there (and clears it, so each request shows whether
// it was stored just before). Only a machine with an "$ASF" port (setting
// asf_port) publishes the record; on the others there is nothing to read.
#include <cstring>
#include "EmuFlashPart.h"
#include "EmuMachine.h"

static const UINT32 kBiosAreaBase = 0xF0000;
static const UINT32 kBiosAreaSize = 0x10000;

std::string EmuFlashPart_AsfCheck(UINT32 ebx) {
    if (!EmuMachine_Has("asf_port")) return "";
    // Searched by its first byte: this runs before every flash request.
    static UINT8 area[kBiosAreaSize];
    if (!EmuPhys_Read(kBiosAreaBase, area, kBiosAreaSize)) return "";
    for (UINT32 offset = 0; offset + 0x0E <= kBiosAreaSize; ++offset) {
        const void* dollar = memchr(&area[offset], '$', kBiosAreaSize - 0x0E + 1 - offset);
        if (dollar == nullptr) break;
        offset = static_cast<UINT32>(static_cast<const UINT8*>(dollar) - area);
        if (memcmp(&area[offset], "$ASF", 4) != 0) continue;
        UINT32 body = offset + area[offset + 4];
        if (body + 4 > kBiosAreaSize) return " asf=bad";
        UINT32 stored = 0;
        memcpy(&stored, &area[body], 4);
        UINT32 cleared = 0;
        EmuPhys_Write(kBiosAreaBase + body, &cleared, 4);
        return stored == ebx ? " asf=ok" : " asf=stale";
    }
    return "";
}
