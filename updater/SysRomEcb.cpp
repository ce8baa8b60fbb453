// The firmware's EC/battery status block "$ECB" in the E0000h segment.
#include <cstring>
#include "RomScan.h"
#include "TKXPhysMem.h"
#include "YozSysRom.h"

#define ECB_SEGMENT 0xE0000u
#define ECB_MAP_SIZE 0xFFFFu
#define ECB_HEADER_SIZE 31u
#define ECB_STATUS_AT 4
#define ECB_MESSAGE_OFFSETS_AT 23

static UINT8 sEcbStatus = 0;

// Prints the NUL-terminated message at `offset` of the segment, never
// reading past the segment.
static void PrintMessage(const UINT8* segment, UINT32 size, UINT32 offset) {
    if (offset >= size) {
        WriteOut("%s\n", "");
        return;
    }
    const UINT8* text = segment + offset;
    const void* nul = memchr(text, 0, size - offset);
    int length = static_cast<int>(nul ? static_cast<const UINT8*>(nul) - text : size - offset);
    WriteOut("%.*s\n", length, reinterpret_cast<const char*>(text));
}

UINT8 YOZ_SysRom_EC_ScanSegment(const UINT8* segment, UINT32 size) {
    sEcbStatus = 0;
    UINT32 from = 0;
    UINT32 at = ROMSCAN_NONE;
    while (true) {
        at = RomScan_Find(segment, size, from, "$ECB", 4);
        if (at == ROMSCAN_NONE || at >= 0xFFFB) return 1;
        // Only a whole header counts.
        if (size - at >= ECB_HEADER_SIZE) break;
        from = at + 1;
    }
    FreeMem(YOZ_pEcbHdr);
    YOZ_pEcbHdr = AllocMem(ECB_HEADER_SIZE);
    if (YOZ_pEcbHdr != nullptr) memcpy(YOZ_pEcbHdr, segment + at, ECB_HEADER_SIZE);
    const UINT8* hdr = segment + at;
    sEcbStatus = hdr[ECB_STATUS_AT];
    static const UINT8 bits[4] = {0x10, 0x20, 0x40, 0x80};
    for (UINT32 k = 0; k < 4; ++k) {
        if (sEcbStatus & bits[k]) {
            PrintMessage(segment, size, RomScan_Get16(hdr + ECB_MESSAGE_OFFSETS_AT + 2 * k));
            return 0;
        }
    }
    return 1;
}

UINT8 YOZ_SysRom_EC_CheckStatus() {
    YOZ_SysRom_bECB_Is_Get = 1;
    sEcbStatus = 0;
    UINT8* segment = MapPhyMem(ECB_SEGMENT, ECB_MAP_SIZE);
    if (segment == nullptr) return 0;
    UINT8 result = YOZ_SysRom_EC_ScanSegment(segment, ECB_MAP_SIZE);
    UnMapPhyMem(segment, ECB_MAP_SIZE);
    return result;
}

UINT8 YOZ_SysRom_EC_ECBIDFlag() {
    if (!YOZ_SysRom_bECB_Is_Get) YOZ_SysRom_EC_CheckStatus();
    return sEcbStatus;
}
