// Regions of the flash block table: runs of consecutive blocks of one type,
// the per-type region lists, the non-critical block records and the run finder.
#include <cstring>
#include "RomInfo.h"
#include "RomScan.h"
#include "YozSysRom.h"

#define BLOCK_TABLE_HEAD 16u
#define BLOCK_ENTRY_SIZE 9u

TKXRegionList gYOZ_SysRom_RGList, gYOZ_SysRom_BB_RGList, gYOZ_SysRom_MB_RGList, gYOZ_SysRom_NB_RGList,
    gYOZ_SysRom_NBK_RGList, gYOZ_SysRom_EC_RGList, gYOZ_SysRom_OA_RGList, gYOZ_SysRom_FT_RGList,
    gYOZ_SysRom_NCB_RGList;
UINT8 YOZ_SysRom_bIsGetBlockInfo = 0;
UINT32 gYOZ_SysRom_AllBlockSize = 0;
UINT8 gYOZ_SysRom_bECBInRom = 0, gYOZ_SysRom_bOABInRom = 0, YOZ_SysRom_bHaveFT_PHASE = 0;
YOZ_NCB_REC YOZ_SysNCBRecList[YOZ_MAX_NCB];
UINT32 YOZ_SysNCBCnt = 0;

static UINT32 BlockCount() {
    if (gpFlashInfo == nullptr) return 0;
    return RomScan_Get16(reinterpret_cast<const UINT8*>(gpFlashInfo) + 6);
}

static const UINT8* BlockEntry(UINT32 i) {
    return reinterpret_cast<const UINT8*>(gpFlashInfo) + BLOCK_TABLE_HEAD + i * BLOCK_ENTRY_SIZE;
}
static UINT32 BlockStart(UINT32 i) { return RomScan_Get32(BlockEntry(i)); }
static UINT32 BlockSize(UINT32 i) { return RomScan_Get32(BlockEntry(i) + 4); }
static UINT8 BlockType(UINT32 i) { return BlockEntry(i)[8]; }

static TKXRegionList* ListOfType(UINT8 type) {
    switch (type) {
        case YOZ_BLOCK_BOOT: return &gYOZ_SysRom_BB_RGList;
        case YOZ_BLOCK_MAIN: return &gYOZ_SysRom_MB_RGList;
        case YOZ_BLOCK_NVRAM: return &gYOZ_SysRom_NB_RGList;
        case YOZ_BLOCK_EC: return &gYOZ_SysRom_EC_RGList;
        case YOZ_BLOCK_NVRAM_BACKUP: return &gYOZ_SysRom_NBK_RGList;
        case YOZ_BLOCK_OA: return &gYOZ_SysRom_OA_RGList;
        case YOZ_BLOCK_FT: return &gYOZ_SysRom_FT_RGList;
        default: return type >= YOZ_BLOCK_NCB ? &gYOZ_SysRom_NCB_RGList : nullptr;
    }
}

static void CloseRegion(_RGINFO* region, UINT32 lastIndex) {
    if (region == nullptr) return;
    region->LastIndex = static_cast<UINT16>(lastIndex);
    TKXRegionList* list = ListOfType(region->Type);
    if (list != nullptr) list->push_back(region);
    gYOZ_SysRom_RGList.push_back(region);
}

static void FreeRegions() {
    // Every region is on the all-regions list; the type lists share the pointers.
    TKXRegionList* typed[] = {&gYOZ_SysRom_BB_RGList, &gYOZ_SysRom_MB_RGList, &gYOZ_SysRom_NB_RGList,
                              &gYOZ_SysRom_NBK_RGList, &gYOZ_SysRom_EC_RGList, &gYOZ_SysRom_OA_RGList,
                              &gYOZ_SysRom_FT_RGList, &gYOZ_SysRom_NCB_RGList};
    for (TKXRegionList* l : typed) l->clear();
    while (!gYOZ_SysRom_RGList.empty()) {
        delete gYOZ_SysRom_RGList[gYOZ_SysRom_RGList.size() - 1];
        gYOZ_SysRom_RGList.pop_back();
    }
}

void YOZ_SysRom_Regions_Release() {
    FreeRegions();
    YOZ_SysRom_bIsGetBlockInfo = 0;
}

void YOZ_SysRom_GetBlockInfo() {
    if (YOZ_SysRom_bIsGetBlockInfo) return;
    FreeRegions();
    gYOZ_SysRom_AllBlockSize = 0;
    gYOZ_SysRom_bECBInRom = 0;
    gYOZ_SysRom_bOABInRom = 0;
    YOZ_SysNCBCnt = 0;
    for (YOZ_NCB_REC& r : YOZ_SysNCBRecList) {
        r.Type = 0;
        r.Start = 0xFFFFFFFF;
        r.Size = 0;
    }

    UINT32 count = BlockCount();
    UINT8 previous = 0xFF;
    _RGINFO* open = nullptr;
    for (UINT32 i = 0; i < count; ++i) {
        UINT8 type = BlockType(i);
        UINT32 size = BlockSize(i);
        gYOZ_SysRom_AllBlockSize += size;
        bool newRun = (i == 0 || type != previous);
        if (newRun) {
            CloseRegion(open, i == 0 ? 0 : i - 1);
            open = new _RGINFO{type, static_cast<UINT16>(i), static_cast<UINT16>(i), BlockStart(i), 0};
        }
        open->Size += size;
        if (type >= YOZ_BLOCK_NCB) {
            // A run of blocks of one non-critical type is one record; the
            // count goes on past the last record so that too many are seen.
            if (newRun) {
                if (YOZ_SysNCBCnt < YOZ_MAX_NCB) {
                    YOZ_NCB_REC& r = YOZ_SysNCBRecList[YOZ_SysNCBCnt];
                    r.Type = type;
                    r.Start = BlockStart(i);
                    r.Size = size;
                }
                ++YOZ_SysNCBCnt;
            } else if (YOZ_SysNCBCnt <= YOZ_MAX_NCB) {
                YOZ_SysNCBRecList[YOZ_SysNCBCnt - 1].Size += size;
            }
        }
        if (type == YOZ_BLOCK_EC) gYOZ_SysRom_bECBInRom = 1;
        if (type == YOZ_BLOCK_OA) gYOZ_SysRom_bOABInRom = 1;
        if (type == YOZ_BLOCK_FT) YOZ_SysRom_bHaveFT_PHASE = 1;
        previous = type;
    }
    if (count != 0) CloseRegion(open, count - 1);
    YOZ_SysRom_bIsGetBlockInfo = 1;
}

UINT8 YOZ_SysRom_GetFVRang(UINT8 type, UINT32* start, UINT32* size, UINT16* index) {
    UINT32 count = BlockCount();
    UINT32 i = *index;
    while (i < count && BlockType(i) != type) ++i;
    if (i >= count) {
        *index = static_cast<UINT16>(count);
        return 0;
    }
    *start = BlockStart(i);
    UINT32 total = BlockSize(i);
    while (i + 1 < count && BlockType(i + 1) == type) total += BlockSize(++i);
    *size = total;
    *index = static_cast<UINT16>(i);
    return 1;
}

UINT8 YOZ_SysRom_GetShareECBlockInfo(UINT32& start, UINT32& size) {
    UINT32 count = BlockCount();
    UINT8 found = 0;
    size = 0;
    for (UINT32 i = 0; i < count; ++i) {
        if (BlockType(i) != YOZ_BLOCK_EC) continue;
        if (!found) start = BlockStart(i);
        found = 1;
        size += BlockSize(i);
    }
    return found;
}

// ---- Region accessors ----

static _RGINFO* RegionAt(TKXRegionList& list, UINT32 i) {
    YOZ_SysRom_GetBlockInfo();
    return list.empty() ? nullptr : list[i];
}
static UINT32 Count(TKXRegionList& list) {
    YOZ_SysRom_GetBlockInfo();
    return static_cast<UINT32>(list.size());
}
static UINT32 StartOf(TKXRegionList& list, UINT32 i) {
    _RGINFO* r = RegionAt(list, i);
    return r ? r->StartAddress : 0;
}
static UINT32 SizeOf(TKXRegionList& list, UINT32 i) {
    _RGINFO* r = RegionAt(list, i);
    return r ? r->Size : 0;
}
static UINT16 FirstOf(TKXRegionList& list, UINT32 i) {
    _RGINFO* r = RegionAt(list, i);
    return r ? r->FirstIndex : 0;
}

UINT32 YOZ_SysRom_GetRgNumber() { return Count(gYOZ_SysRom_RGList); }
UINT32 YOZ_SysRom_GetBlockStartAddress(UINT32 i) { return StartOf(gYOZ_SysRom_RGList, i); }
UINT32 YOZ_SysRom_GetBlockSize(UINT32 i) { return SizeOf(gYOZ_SysRom_RGList, i); }
UINT8 YOZ_SysRom_GetBlockType(UINT32 i) {
    _RGINFO* r = RegionAt(gYOZ_SysRom_RGList, i);
    return r ? r->Type : 0xFF;
}
UINT32 YOZ_SysRom_GetBootBlockRgNumber() { return Count(gYOZ_SysRom_BB_RGList); }
UINT32 YOZ_SysRom_GetMainBlockRgNumber() { return Count(gYOZ_SysRom_MB_RGList); }
UINT32 YOZ_SysRom_GetNVRamBlockRgNumber() { return Count(gYOZ_SysRom_NB_RGList); }
UINT32 YOZ_SysRom_GetNVRamBackupBlockRgNumber() { return Count(gYOZ_SysRom_NBK_RGList); }
UINT32 YOZ_SysRom_GetOABlockRgNumber() { return Count(gYOZ_SysRom_OA_RGList); }
UINT32 YOZ_SysRom_GetECBlockRgNumber() { return Count(gYOZ_SysRom_EC_RGList); }
UINT32 YOZ_SysRom_GetBootBlockStartAddress(UINT32 i) { return StartOf(gYOZ_SysRom_BB_RGList, i); }
UINT32 YOZ_SysRom_GetBootBlockSize(UINT32 i) { return SizeOf(gYOZ_SysRom_BB_RGList, i); }
UINT16 YOZ_SysRom_GetBBFirstBlockIndex(UINT32 i) { return FirstOf(gYOZ_SysRom_BB_RGList, i); }
UINT32 YOZ_SysRom_GetMainBlockStartAddress(UINT32 i) { return StartOf(gYOZ_SysRom_MB_RGList, i); }
UINT32 YOZ_SysRom_GetMainBlockSize(UINT32 i) { return SizeOf(gYOZ_SysRom_MB_RGList, i); }
UINT16 YOZ_SysRom_GetMBFirstBlockIndex(UINT32 i) { return FirstOf(gYOZ_SysRom_MB_RGList, i); }
UINT32 YOZ_SysRom_GetNVRamBlockStartAddress(UINT32 i) { return StartOf(gYOZ_SysRom_NB_RGList, i); }
UINT32 YOZ_SysRom_GetNVRamBlockSize(UINT32 i) { return SizeOf(gYOZ_SysRom_NB_RGList, i); }
UINT16 YOZ_SysRom_GetNVFirstBlockIndex(UINT32 i) { return FirstOf(gYOZ_SysRom_NB_RGList, i); }
UINT32 YOZ_SysRom_GetNVRamBackupBlockStartAddress(UINT32 i) { return StartOf(gYOZ_SysRom_NBK_RGList, i); }
UINT32 YOZ_SysRom_GetNVRamBackupBlockSize(UINT32 i) { return SizeOf(gYOZ_SysRom_NBK_RGList, i); }
UINT32 YOZ_SysRom_GetOAKeyStartAddress(UINT32 i) { return StartOf(gYOZ_SysRom_OA_RGList, i); }
UINT32 YOZ_SysRom_GetOAKeyBlockSize(UINT32 i) { return SizeOf(gYOZ_SysRom_OA_RGList, i); }
UINT32 YOZ_SysRom_GetECBlockStartAddress(UINT32 i) { return StartOf(gYOZ_SysRom_EC_RGList, i); }
UINT32 YOZ_SysRom_ECBlockSize(UINT32 i) { return SizeOf(gYOZ_SysRom_EC_RGList, i); }
UINT32 YOZ_SysRom_GetAllSize() {
    YOZ_SysRom_GetBlockInfo();
    return gYOZ_SysRom_AllBlockSize;
}
UINT8 YOZ_SysRom_HaveOAKeyBlock() {
    YOZ_SysRom_GetBlockInfo();
    return gYOZ_SysRom_bOABInRom;
}
UINT8 YOZ_SysRom_HaveECBlock() {
    YOZ_SysRom_GetBlockInfo();
    return gYOZ_SysRom_bECBInRom;
}
UINT8 YOZ_SysRom_HaveFTBlock() { return YOZ_SysRom_bHaveFT_PHASE; }

UINT8 YOZ_SysRom_GetNCBNumber() { return static_cast<UINT8>(YOZ_SysNCBCnt > 0xFF ? 0xFF : YOZ_SysNCBCnt); }
static const YOZ_NCB_REC* NcbAt(UINT32 i) {
    UINT32 n = YOZ_SysNCBCnt < YOZ_MAX_NCB ? YOZ_SysNCBCnt : YOZ_MAX_NCB;
    if (n == 0) return nullptr;
    return &YOZ_SysNCBRecList[i < n ? i : n - 1];
}
UINT8 YOZ_SysRom_GetNCBType(UINT32 i) {
    const YOZ_NCB_REC* r = NcbAt(i);
    return r ? r->Type : 0;
}
UINT32 YOZ_SysRom_GetNCBOffset(UINT32 i) {
    const YOZ_NCB_REC* r = NcbAt(i);
    return r ? r->Start : 0xFFFFFFFF;
}
UINT32 YOZ_SysRom_GetNCBSize(UINT32 i) {
    const YOZ_NCB_REC* r = NcbAt(i);
    return r ? r->Size : 0;
}
