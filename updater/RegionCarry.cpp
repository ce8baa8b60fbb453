// What a region flash carries from the system into the image: the system's
// ROM holes and SLP files, each paired with the image's file of the same
// GUID. A file of the system that lies in the blocks to be flashed and finds
// no place of its own in them would be lost, so the check below runs before
// any erase.
#include <cstring>
#include "RomInfo.h"
#include "RomScan.h"
#include "YozOakProc.h"
#include "YozOptionStore.h"
#include "YozRegionProc.h"
#include "YozRomFile.h"
#include "YozSysRom.h"

namespace {

const UINT32 kSlpKeyOffset = 0x1C;  // SLP key data after the FFS and section headers

// The blocks a flash writes: those of one type, or (with a do-it list)
// those the list marks.
struct Written {
    UINT8 Type;
    const UINT8* Map;
};

UINT64 BytesIn(UINT32 offset, UINT32 size, const Written& w) {
    if (gpFlashInfo == nullptr) return 0;
    UINT64 from = offset, to = static_cast<UINT64>(offset) + size, inside = 0;
    for (UINT32 i = 0; i < gpFlashInfo->BlockCount; ++i) {
        const sBlockInfo& b = gpFlashInfo->Blocks[i];
        if (w.Map != nullptr ? w.Map[i] == 0 : b.Type != w.Type) continue;
        UINT64 start = b.StartAddress, end = start + b.BlockSize;
        UINT64 low = from > start ? from : start, high = to < end ? to : end;
        if (high > low) inside += high - low;
    }
    return inside;
}

bool Touches(const _ROMHOLEREC& r, const Written& w) { return BytesIn(r.RomOffset, r.Size, w) != 0; }
bool Within(const _ROMHOLEREC& r, const Written& w) { return BytesIn(r.RomOffset, r.Size, w) == r.Size; }

// A pair can be carried when both files have one size and lie wholly in
// the blocks written.
bool Carriable(const _ROMHOLEREC& system, const _ROMHOLEREC& image, const Written& w) {
    return system.Size == image.Size && Within(system, w) && Within(image, w);
}

// The holes: a system hole in the blocks written needs its image hole; an
// image hole in them that the system holds too needs its system hole.
ENUM_ERR_ID CheckHoles(const Written& w) {
    UINT32 systemCount = YOZ_HoleCount(YOZ_SysRom_GetRomHoleNumber());
    UINT32 imageCount = YOZ_HoleCount(YOZ_RomFile_GetRomHoleNumber());
    for (UINT32 i = 0; i < systemCount; ++i) {
        const _ROMHOLEREC& s = YOZ_SysRHRECList[i];
        if (s.Size == 0 || RP_HoleReplaced(i) || !Touches(s, w)) continue;
        INT32 k = RP_PairOf(s.Guid, YOZ_RomFileRHRECList, imageCount);
        if (k == RP_PAIR_NONE) return eEID_INVALID_HOLE_LAYOUT;
        if (k == RP_PAIR_SEVERAL || RP_PairOf(s.Guid, YOZ_SysRHRECList, systemCount) == RP_PAIR_SEVERAL ||
            !Carriable(s, YOZ_RomFileRHRECList[k], w))
            return eEID_NOT_MATCH_NCB;
    }
    // More holes than the list holds: the ones past it cannot be paired.
    bool listed = YOZ_RomFile_GetRomHoleNumber() <= YOZ_MAX_ROMHOLE;
    for (UINT32 k = 0; k < imageCount; ++k) {
        const _ROMHOLEREC& f = YOZ_RomFileRHRECList[k];
        if (f.Size == 0 || !Touches(f, w)) continue;
        if (!listed) return eEID_NOT_MATCH_NCB;
        INT32 i = RP_PairOf(f.Guid, YOZ_SysRHRECList, systemCount);
        if (i == RP_PAIR_NONE || (i >= 0 && RP_HoleReplaced(static_cast<UINT32>(i)))) continue;  // the image's data
        if (i == RP_PAIR_SEVERAL || RP_PairOf(f.Guid, YOZ_RomFileRHRECList, imageCount) == RP_PAIR_SEVERAL ||
            !Carriable(YOZ_SysRHRECList[i], f, w))
            return eEID_NOT_MATCH_NCB;
    }
    return eEID_NO_ERROR;
}

// The SLP files that hold key data: each needs the image's file of its GUID.
ENUM_ERR_ID CheckSlp(const Written& w, const UINT8* system) {
    if (YOZ_GetNPSLPMode()) return eEID_NO_ERROR;
    if (YOZ_SysSLPCnt > YOZ_MAX_SLP || YOZ_RomFileSLPCnt > YOZ_MAX_SLP) return eEID_NOT_MATCH_NCB;
    for (UINT32 i = 0; i < YOZ_SysSLPCnt; ++i) {
        const _ROMHOLEREC& s = YOZ_SysSLPRHRECList[i];
        if (RP_SlpKeyBlank(system, s)) continue;
        INT32 k = RP_PairOf(s.Guid, YOZ_RomFileSLPRHRECList, YOZ_RomFileSLPCnt);
        bool touches = Touches(s, w) || (k >= 0 && Touches(YOZ_RomFileSLPRHRECList[k], w));
        if (!touches) continue;
        if (k < 0 || RP_PairOf(s.Guid, YOZ_SysSLPRHRECList, YOZ_SysSLPCnt) == RP_PAIR_SEVERAL ||
            !Carriable(s, YOZ_RomFileSLPRHRECList[k], w))
            return eEID_NOT_MATCH_NCB;
    }
    return eEID_NO_ERROR;
}

ENUM_ERR_ID CheckCarry(const Written& w) {
    if (!YOZ_GetLayOutChang()) {
        ENUM_ERR_ID holes = CheckHoles(w);
        if (holes != eEID_NO_ERROR) return holes;
    }
    return CheckSlp(w, YOZ_SysRom_GetBuffer());
}

}  // namespace

UINT64 RP_BytesInType(UINT32 offset, UINT32 size, UINT8 type) { return BytesIn(offset, size, Written{type, nullptr}); }

INT32 RP_PairOf(const EFI_GUID& guid, const _ROMHOLEREC* list, UINT32 n) {
    INT32 found = RP_PAIR_NONE;
    for (UINT32 i = 0; i < n; ++i) {
        if (list[i].Size == 0 || memcmp(&list[i].Guid, &guid, sizeof(EFI_GUID)) != 0) continue;
        if (found != RP_PAIR_NONE) return RP_PAIR_SEVERAL;
        found = static_cast<INT32>(i);
    }
    return found;
}

UINT8 RP_SlpKeyBlank(const UINT8* image, const _ROMHOLEREC& record) {
    if (image == nullptr || record.Size <= kSlpKeyOffset || !YOZ_RangeInside(record.RomOffset, record.Size, gRomSize))
        return 1;
    const UINT8* data = image + record.RomOffset + kSlpKeyOffset;
    UINT32 length = record.Size - kSlpKeyOffset;
    bool allFF = true, all00 = true;
    for (UINT32 k = 0; k < length && (allFF || all00); ++k) {
        allFF = allFF && data[k] == 0xFF;
        all00 = all00 && data[k] == 0x00;
    }
    return allFF || all00 ? 1 : 0;
}

// A volume that starts in a run of the type and runs past it is not walked
// for its protected files: one that holds any, on either side, stops the run.
static ENUM_ERR_ID CheckVolumesInRuns(UINT8 type) {
    const UINT8* sides[] = {YOZ_SysRom_GetBuffer(), YOZ_RomFile_GetBuffer()};
    for (const UINT8* rom : sides) {
        UINT16 index = 0;
        UINT32 start = 0, size = 0;
        while (rom != nullptr && YOZ_SysRom_GetFVRang(type, &start, &size, &index)) {
            if (YOZ_FvWalk_ProtectedPastRange(rom, RomScan_Limit(rom), start, size) != 0) return eEID_INVALID_HOLE_LAYOUT;
            ++index;
        }
    }
    return eEID_NO_ERROR;
}

ENUM_ERR_ID RP_CheckCarryOver(UINT8 type) {
    ENUM_ERR_ID status = CheckVolumesInRuns(type);
    return status != eEID_NO_ERROR ? status : CheckCarry(Written{type, nullptr});
}

ENUM_ERR_ID RP_CheckCarryOverMarked(const UINT8* map) {
    return map != nullptr ? CheckCarry(Written{0, map}) : eEID_MEM_ALLOC;
}

void RP_CarrySystemData(const YOZ_REGION_PROC* p, UINT8* work, UINT8* system, UINT32 size) {
    if (!YOZ_GetNPSLPMode() && !RP_CheckSLPDataisNull(system)) RP_Preserve_SLPData(work, system);
    if (!YOZ_GetLayOutChang() && RP_MergeRHList(p, YOZ_SysRHRECList, YOZ_RomFileRHRECList))
        RP_FileLoadOldRHToFlashBuff(p, work, system, size, YOZ_SysRHRECList);
}

UINT8 RP_RunWritesType(UINT8 type, UINT8 region) {
    if (type == region) return 1;
    if (type == YOZ_BLOCK_BOOT && (YOZ_GetBCmdIsEnable() == 1 || YOZ_GetB2CmdIsEnable() == 1)) return 1;
    if (type == YOZ_BLOCK_MAIN && YOZ_GetPCmdIsEnable() == 1) return 1;
    if (type == YOZ_BLOCK_NVRAM && YOZ_GetNCmdIsEnable() == 1) return 1;
    // Under secure flash "/L" and "/L" with numbers write the regions of their holes.
    bool all = YOZ_GetRHFullCmdIsEnable() == 1, chosen = YOZ_GetRHLnCmdIsEnable() == 1;
    if (!YOZ_GetSecureFlashStatus() || !(all || chosen) || (type != YOZ_BLOCK_BOOT && type != YOZ_BLOCK_MAIN)) return 0;
    UINT32 n = YOZ_HoleCount(YOZ_SysRom_GetRomHoleNumber());
    for (UINT32 i = 0; i < n; ++i) {
        const _ROMHOLEREC& h = YOZ_SysRHRECList[i];
        if (h.Size == 0 || (!all && (YOZ_pInputLnList == nullptr || !YOZ_pInputLnList[i]))) continue;
        if (RP_BytesInType(h.RomOffset, h.Size, type) != 0) return 1;
    }
    return 0;
}

// Bytes of [offset, offset + size) in the blocks the run writes.
static UINT64 BytesWritten(UINT32 offset, UINT32 size, UINT8 region) {
    UINT64 inside = 0;
    static const UINT8 kTypes[] = {YOZ_BLOCK_BOOT, YOZ_BLOCK_MAIN, YOZ_BLOCK_NVRAM};
    for (UINT8 t : kTypes)
        if (RP_RunWritesType(t, region)) inside += RP_BytesInType(offset, size, t);
    return inside;
}

ENUM_ERR_ID RP_CheckOAKeyCarry(UINT8 type) {
    if (YOZ_SysRom_HaveOAKeyBlock() || YOZ_GetOAKeyForced()) return eEID_NO_ERROR;
    UINT8* system = YOZ_SysRom_GetBuffer();
    const UINT8* fid = YOZ_SysRom_GetVer4Fid(system);
    if (fid == nullptr) return eEID_NO_ERROR;
    UINT32 length = RomScan_Get32(fid + YOZ_FID_KEY_LENGTH);
    UINT64 span = static_cast<UINT64>(YOZ_FID_KEY_DATA) + length;
    if (length == 0 || !YOZ_RangeInside(gYOZ_FidSystemOffset, static_cast<UINT32>(span), gRomSize)) return eEID_NO_ERROR;
    // A key area that holds no key has nothing to carry.
    if (OAK_Proc_CheckOldOAData(system + gYOZ_FidSystemOffset + YOZ_FID_KEY_DATA, length) == eEID_NO_ERROR)
        return eEID_NO_ERROR;
    UINT8* image = YOZ_RomFile_GetBuffer();
    UINT32 limit = RomScan_Limit(image);
    UINT32 at = image != nullptr ? YOZ_RomFile_FindImageFidOffset(image) : 0;
    bool imageRecord = at != 0 && RomScan_FidRecordSize(image + at, limit - at) != 0;
    bool systemInType = RP_BytesInType(gYOZ_FidSystemOffset, static_cast<UINT32>(span), type) != 0;
    // After the run the record that counts is the one in the boot block: an
    // image record written there replaces the system's, kept elsewhere.
    bool imageCounts = imageRecord && RP_BytesInType(at, static_cast<UINT32>(span), type) != 0 &&
                       RP_BytesInType(at, static_cast<UINT32>(span), YOZ_BLOCK_BOOT) != 0 &&
                       RP_BytesInType(gYOZ_FidSystemOffset, static_cast<UINT32>(span), YOZ_BLOCK_BOOT) == 0;
    if (!systemInType && !imageCounts) return eEID_NO_ERROR;
    // The image's version-4 record, with room for the key, in the blocks the run writes.
    if (!imageRecord || RomScan_Get32(image + at + YOZ_FID_KEY_LENGTH) < length) return eEID_OAK_REGION_ERROR;
    // The file that takes the key must be found for its sums to follow it.
    if (YOZ_RomFile_FileHolding(image, limit, at, static_cast<UINT32>(span)) == 0) return eEID_OAK_REGION_ERROR;
    return BytesWritten(at, static_cast<UINT32>(span), type) == span ? eEID_NO_ERROR : eEID_OAK_REGION_ERROR;
}
