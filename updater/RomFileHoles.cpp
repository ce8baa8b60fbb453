// Protected files of the image (ROM holes, SLP data, DMI data), walked over
// the offsets of the system's main-block and boot-block runs.
#include <cstring>
#include "RomScan.h"
#include "YozRomFile.h"
#include "YozSysRom.h"

#define WALK_CAPACITY 64u

// Walks every run of one block type over `rom` and appends its records to
// the hole and SLP lists (writes capped, counts kept). Shared by both models.
void YOZ_Holes_WalkRuns(const UINT8* rom, UINT32 limit, UINT8 type, _ROMHOLEREC* holes, UINT32& holeCount,
                        _ROMHOLEREC* slps, UINT32& slpCount, TKXRomHoleList* dmiList, UINT8 systemWalk) {
    UINT16 index = 0;
    UINT32 start = 0, size = 0;
    while (YOZ_SysRom_GetFVRang(type, &start, &size, &index)) {
        _ROMHOLEREC found[WALK_CAPACITY];
        UINT32 counts[2];
        UINT32 n = YOZ_FvWalk_FindProtected(rom, limit, start, size, found, WALK_CAPACITY, counts, dmiList, systemWalk);
        for (UINT32 i = 0; i < n; ++i) {
            if (found[i].Type == YOZ_RH_TYPE_ROMHOLE) {
                if (holeCount < YOZ_MAX_ROMHOLE) holes[holeCount] = found[i];
                ++holeCount;
            } else {
                if (slpCount < YOZ_MAX_SLP) slps[slpCount] = found[i];
                ++slpCount;
            }
        }
        // Records past the walk's capacity still count.
        UINT32 written[2] = {0, 0};
        for (UINT32 i = 0; i < n; ++i) ++written[found[i].Type == YOZ_RH_TYPE_ROMHOLE ? 0 : 1];
        holeCount += counts[0] - written[0];
        slpCount += counts[1] - written[1];
        ++index;
    }
}

static UINT8 Clamp8(UINT32 v) { return static_cast<UINT8>(v > 0xFF ? 0xFF : v); }

UINT8 YOZ_RomFile_SearchNCB(UINT8* image) {
    memset(YOZ_RomFileRHRECList, 0, sizeof(YOZ_RomFileRHRECList));
    memset(YOZ_RomFileSLPRHRECList, 0, sizeof(YOZ_RomFileSLPRHRECList));
    YOZ_FileRHCnt = 0;
    YOZ_RomFileSLPCnt = 0;
    YOZ_RomFile_bHaveSLP20 = 0;
    YOZ_FvWalk_ClearDmiList(gYOZ_RomFile_DMIGuidList);
    if (image == nullptr) return 0;

    UINT32 limit = RomScan_Limit(image);
    UINT32 holes = 0, slps = 0;
    YOZ_Holes_WalkRuns(image, limit, YOZ_BLOCK_MAIN, YOZ_RomFileRHRECList, holes, YOZ_RomFileSLPRHRECList, slps,
                       &gYOZ_RomFile_DMIGuidList, 0);
    YOZ_Holes_WalkRuns(image, limit, YOZ_BLOCK_BOOT, YOZ_RomFileRHRECList, holes, YOZ_RomFileSLPRHRECList, slps,
                       &gYOZ_RomFile_DMIGuidList, 0);
    YOZ_FileRHCnt = Clamp8(holes);
    YOZ_RomFileSLPCnt = Clamp8(slps);
    YOZ_FileNCBCnt = YOZ_SysRom_GetNCBNumber();
    if (holes + YOZ_FileNCBCnt > YOZ_MAX_ROMHOLE) return 0;
    if (slps >= YOZ_MAX_SLP) YOZ_RomFile_bHaveSLP20 = 1;
    return (holes != 0 || YOZ_FileNCBCnt != 0) ? 1 : 0;
}

UINT8 YOZ_RomFile_GetRomHoleNumber() { return YOZ_FileRHCnt; }

UINT8 YOZ_RomFile_GetNCBNumber() {
    YOZ_FileNCBCnt = YOZ_SysRom_GetNCBNumber();
    return YOZ_FileNCBCnt;
}

UINT8 YOZ_RomFile_HaveSLP20() { return YOZ_RomFile_bHaveSLP20; }

UINT8 YOZ_RomFile_GetFVRang(UINT8 type, UINT32* start, UINT32* size, UINT16* index) {
    return YOZ_SysRom_GetFVRang(type, start, size, index);
}

static _ROMHOLEREC* DmiAt(TKXRomHoleList& list, UINT32 i) { return list.empty() ? nullptr : list[i]; }

UINT32 YOZ_RomFile_GetDMINumber() { return static_cast<UINT32>(gYOZ_RomFile_DMIGuidList.size()); }
UINT32 YOZ_RomFile_GetDMIRomOffset(UINT32 i) {
    _ROMHOLEREC* r = DmiAt(gYOZ_RomFile_DMIGuidList, i);
    return r ? r->RomOffset : 0;
}
UINT32 YOZ_RomFile_GetDMISize(UINT32 i) {
    _ROMHOLEREC* r = DmiAt(gYOZ_RomFile_DMIGuidList, i);
    return r ? r->Size : 0;
}
