// The "$ASF" shadow check of the emulated firmware: before a flash request
// the program stores the interface buffer's address in the "$ASF" body; the
// firmware takes it from there (and clears it, so each request shows whether
// it was stored just before). Only a machine with an "$ASF" port (setting
// asf_port) publishes the record; on the others there is nothing to read.
#include <cstring>
#include "EmuAcpi.h"
#include "EmuFlashPart.h"
#include "EmuMachine.h"

static const UINT32 kBiosAreaBase = 0xF0000;
static const UINT32 kBiosAreaSize = 0x10000;

std::string EmuFlashPart_AsfCheck(UINT32 ebx) {
    if (!EmuMachine_Has("asf_port")) return "";
    const UINT8* area = nullptr;
    UINT32 offset = 0;
    if (!EmuAsf_FindRecord(area, offset)) return "";
    UINT32 body = offset + area[offset + 4];
    if (body + 4 > kBiosAreaSize) return " asf=bad";
    UINT32 stored = 0;
    memcpy(&stored, &area[body], 4);
    UINT32 cleared = 0;
    EmuPhys_Write(kBiosAreaBase + body, &cleared, 4);
    return stored == ebx ? " asf=ok" : " asf=stale";
}
