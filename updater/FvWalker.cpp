// The volume walker for protected files (ROM holes, SLP data, DMI data, the
// OEM activation 3.1 key file), shared by the image and system models.
#include <cstring>
#include "RomScan.h"
#include "TKXPhysMem.h"
#include "YozOptionStore.h"
#include "YozRomFile.h"
#include "YozFvLayout.h"
#include "YozSysRom.h"

#define FV_SCAN_WINDOW 0x10000u

UINT32 YOZ_SysRom_FV_FFS_GUIDRang(const UINT8* h) {
    // ROM hole n: the hole GUID with n (0..15) added to its first field.
    if (memcmp(h + 4, kGuidRomHole0 + 4, 12) == 0) {
        UINT32 n = RomScan_Get32(h) - RomScan_Get32(kGuidRomHole0);
        if (n < YOZ_MAX_ROMHOLE) return YOZ_RH_TYPE_ROMHOLE;
    }
    if (memcmp(h, kGuidSlpKey, 16) == 0 || memcmp(h, kGuidSlpMarker, 16) == 0) return YOZ_RH_TYPE_SLP;
    return 0;
}

UINT8 YOZ_SysRom_FV_FFS_DMIGUID(const UINT8* h) { return memcmp(h, kGuidDmi, 16) == 0 ? 1 : 0; }
UINT8 YOZ_SysRom_FV_FFS_OA31KEYGUID(const UINT8* h) { return memcmp(h, kGuidOa31, 16) == 0 ? 1 : 0; }
UINT32 YOZ_RomFile_FV_FFS_GUIDRang(const UINT8* h) { return YOZ_SysRom_FV_FFS_GUIDRang(h); }

void YOZ_FvWalk_ClearDmiList(TKXRomHoleList& list) {
    while (!list.empty()) {
        FreeMem(list[list.size() - 1]);
        list.pop_back();
    }
}

// Walks the files of one FFS volume [v, v + fvLength) from its header length.
static void WalkFiles(const UINT8* rom, UINT32 v, UINT32 fvLength, _ROMHOLEREC* records, UINT32 capacity,
                      UINT32& written, UINT32* found, TKXRomHoleList* dmiList, UINT8 systemWalk) {
    YOZ_FFS_CURSOR file;
    // A size below a header, or past the volume, ends the volume.
    for (bool more = YOZ_FfsFirstFile(rom + v, fvLength, &file); more && YOZ_FfsSizeFits(&file, 0);
         more = YOZ_FfsNextFile(&file)) {
        const UINT8* h = rom + v + file.Offset;
        UINT32 size = file.Size;
        UINT32 off = file.Offset;
        UINT32 kind = YOZ_SysRom_FV_FFS_GUIDRang(h);
        if (kind != 0) {
            if (kind == YOZ_RH_TYPE_SLP) YOZ_SetSLPKeyIsExist(1);
            if (written < capacity) {
                _ROMHOLEREC& r = records[written++];
                memset(&r, 0, sizeof(r));
                memcpy(&r.Guid, h, 16);
                r.RomOffset = v + off;
                r.Size = size;
                r.Type = kind;
            }
            ++found[kind == YOZ_RH_TYPE_ROMHOLE ? 0 : 1];
        } else if (YOZ_SysRom_FV_FFS_DMIGUID(h)) {
            if (dmiList != nullptr) {
                _ROMHOLEREC* r = reinterpret_cast<_ROMHOLEREC*>(AllocMem(sizeof(_ROMHOLEREC)));
                if (r != nullptr) {
                    memcpy(&r->Guid, h, 16);
                    r->RomOffset = v + off;
                    r->Size = size;
                    dmiList->push_back(r);
                }
            }
        } else if (systemWalk && YOZ_SysRom_FV_FFS_OA31KEYGUID(h)) {
            gYOZ_SysRom_bOA31GUIDInFind = 1;
        }
    }
}

UINT32 YOZ_FvWalk_FindProtected(const UINT8* rom, UINT32 romLimit, UINT32 start, UINT32 length,
                                _ROMHOLEREC* records, UINT32 capacity, UINT32* found, TKXRomHoleList* dmiList,
                                UINT8 systemWalk) {
    UINT32 written = 0;
    UINT32 count[2] = {0, 0};
    if (found != nullptr) found[0] = found[1] = 0;
    if (rom == nullptr || start >= romLimit) return 0;
    UINT32 end = (length > romLimit - start) ? romLimit : start + length;

    UINT32 window = start;
    while (window < end) {
        UINT32 windowEnd = (end - window > FV_SCAN_WINDOW) ? window + FV_SCAN_WINDOW : end;
        UINT32 next = windowEnd;   // a window without a volume is skipped whole
        UINT32 from = window;
        while (from < windowEnd) {
            UINT32 sig = RomScan_Find(rom, windowEnd + 3 < end ? windowEnd + 3 : end, from, "_FVH", 4);
            if (sig == ROMSCAN_NONE) break;
            from = sig + 4;   // a rejected candidate resumes after its signature
            if (sig - start < YOZ_FV_SIGNATURE_OFFSET) continue;
            UINT32 v = sig - YOZ_FV_SIGNATURE_OFFSET;
            if (end - v < YOZ_FV_HEADER_ROOM) break;
            if (YOZ_FvHeaderSum(rom + v, YOZ_FV_HEADER_ROOM / 2) != 0) continue;
            UINT64 fvLength64 = YOZ_FvHeader(rom + v)->FvLength;
            // The volume must lie inside the range and hold its header.
            if (fvLength64 < YOZ_FV_HEADER_ROOM || fvLength64 > end - v) continue;
            UINT32 fvLength = static_cast<UINT32>(fvLength64);
            if (YOZ_FvIsFfs(rom + v)) {
                if (!YOZ_FvLengthsFit(rom + v, fvLength)) continue;
                WalkFiles(rom, v, fvLength, records, capacity, written, count, dmiList, systemWalk);
            }
            // Resume behind the volume, so that it is never found twice.
            next = v + fvLength;
            break;
        }
        window = next;
    }
    if (found != nullptr) {
        found[0] = count[0];
        found[1] = count[1];
    }
    return written;
}

UINT32 YOZ_FvWalk_ProtectedPastRange(const UINT8* rom, UINT32 romLimit, UINT32 start, UINT32 length) {
    if (rom == nullptr || start >= romLimit) return 0;
    UINT32 end = (length > romLimit - start) ? romLimit : start + length;
    UINT32 protectedFiles = 0;
    for (UINT32 from = start; from < end;) {
        UINT32 sig = RomScan_Find(rom, end + 3 < romLimit ? end + 3 : romLimit, from, "_FVH", 4);
        if (sig == ROMSCAN_NONE || sig >= end + YOZ_FV_SIGNATURE_OFFSET) break;
        from = sig + 4;
        if (sig - start < YOZ_FV_SIGNATURE_OFFSET || romLimit - (sig - YOZ_FV_SIGNATURE_OFFSET) < YOZ_FV_HEADER_ROOM)
            continue;
        UINT32 v = sig - YOZ_FV_SIGNATURE_OFFSET;
        UINT64 fvLength64 = YOZ_FvHeader(rom + v)->FvLength;
        if (YOZ_FvHeaderSum(rom + v, YOZ_FV_HEADER_ROOM / 2) != 0 || (fvLength64 >> 32) != 0) continue;
        UINT32 fvLength = static_cast<UINT32>(fvLength64);
        if (fvLength <= end - v || fvLength > romLimit - v) continue;
        // A volume of the range that runs past it: its files, walked whole.
        _ROMHOLEREC found[YOZ_MAX_ROMHOLE];
        UINT32 counts[2] = {0, 0};
        YOZ_FvWalk_FindProtected(rom, romLimit, v, fvLength, found, YOZ_MAX_ROMHOLE, counts, nullptr, 0);
        protectedFiles += counts[0] + counts[1];
        from = end;
    }
    return protectedFiles;
}

UINT8 YOZ_SysRom_GetRomHole(UINT8* rom, UINT32 start, UINT32 length, _ROMHOLEREC* records) {
    TKXRomHoleList* dmi = (rom != nullptr && rom == YOZ_pSystembuff) ? &gYOZ_SysRom_DMIGuidList
                                                                     : &gYOZ_RomFile_DMIGuidList;
    UINT8 systemWalk = (rom != nullptr && rom == YOZ_pSystembuff) ? 1 : 0;
    return static_cast<UINT8>(YOZ_FvWalk_FindProtected(rom, RomScan_Limit(rom), start, length, records,
                                                       YOZ_MAX_ROMHOLE, nullptr, dmi, systemWalk));
}

UINT8 YOZ_RomFile_GetRomHole(UINT8* rom, UINT32 start, UINT32 length, _ROMHOLEREC* records) {
    return YOZ_SysRom_GetRomHole(rom, start, length, records);
}
