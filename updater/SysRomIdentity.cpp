// Identity of the running firmware: the "$FID" records of the flash copy
// and its version-4 record.
#include <cstring>
#include "RomInfo.h"
#include "RomScan.h"
#include "TKXPhysMem.h"
#include "YozSysRom.h"

#define FID_TAIL_ROOM 130u

UINT8 g_FwGuid[16];
char g_FwId[9];


static bool InBootBlock(UINT32 offset) {
    UINT32 n = YOZ_SysRom_GetBootBlockRgNumber();
    for (UINT32 r = 0; r < n; ++r) {
        UINT32 start = YOZ_SysRom_GetBootBlockStartAddress(r);
        UINT32 size = YOZ_SysRom_GetBootBlockSize(r);
        if (offset >= start && offset - start <= size) return true;
    }
    return false;
}

static void TakeIdentity(const YOZ_ROMID_ENTRY& e) {
    memcpy(g_FwGuid, e.FwGuid, 16);
    memset(g_FwId, 0, sizeof(g_FwId));
    memcpy(g_FwId, e.ProjectId, 8);
}

ENUM_ERR_ID YOZ_SysRom_GetRomID(UINT8* copy) {
    memset(g_FwGuid, 0, 16);
    memset(g_FwId, 0, 9);
    gROMIDCnt = 0;
    memset(RomIDDataList, 0, sizeof(RomIDDataList));
    if (copy != nullptr && gRomSize > FID_TAIL_ROOM) {
        UINT32 end = gRomSize - FID_TAIL_ROOM;
        UINT32 from = 0;
        while (from < end && gROMIDCnt < YOZ_MAX_ROMID) {
            UINT32 file = RomScan_Find(copy, end + 15, from, kGuidFidFile, 16);
            if (file == ROMSCAN_NONE || file >= end) break;
            from = file + 1;
            if (memcmp(copy + file + 28, kGuidFidSection, 16) != 0) continue;
            UINT32 fid = RomScan_Find(copy, end + 3, file, "$FID", 4);
            if (fid == ROMSCAN_NONE || fid >= end) continue;
            YOZ_ROMID_ENTRY& e = RomIDDataList[gROMIDCnt++];
            memcpy(e.FwGuid, copy + fid + 16, 16);
            memcpy(e.ProjectId, copy + fid + 7, 8);
            e.FidOffset = fid;
            e.Flag = 0;
        }
    }
    if (gROMIDCnt == 1) {
        TakeIdentity(RomIDDataList[0]);
    } else {
        for (UINT32 i = 0; i < gROMIDCnt; ++i) {
            YOZ_ROMID_ENTRY& e = RomIDDataList[i];
            e.Flag = InBootBlock(e.FidOffset) ? 0 : 0xFF;
            if (e.Flag == 0) TakeIdentity(e);
        }
    }
    static const UINT8 zero[16] = {0};
    if (memcmp(g_FwGuid, zero, 16) == 0 || memcmp(g_FwId, zero, 9) == 0) return eEID_INEXIST_SYSTEM_ROM_ID;
    return eEID_NO_ERROR;
}

UINT8* YOZ_SysRom_GetVer4Fid(UINT8* copy) {
    if (YOZ_pFIDVer4 != nullptr) return YOZ_pFIDVer4;
    if (copy == nullptr) return nullptr;
    UINT32 limit = RomScan_Limit(copy);
    UINT32 from = RomScan_FidFileOffset(copy, limit);
    UINT32 at = RomScan_Find(copy, limit, from, "$FID", 4);
    if (at == ROMSCAN_NONE) return nullptr;
    gYOZ_FidSystemOffset = at;
    // The first "$FID" ends the search whatever its version.
    if (limit - at < 5 || copy[at + 4] <= 3) return nullptr;
    UINT32 size = RomScan_FidRecordSize(copy + at, limit - at);
    if (size == 0) return nullptr;
    UINT8* record = AllocMem(size);
    if (record == nullptr) return nullptr;
    memcpy(record, copy + at, size);
    YOZ_pFIDVer4 = record;
    return record;
}
