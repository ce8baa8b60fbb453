// The shared implementation of the ROM-hole processors: the secure-flash
// merge, the copy of image holes into the system ROM copy, the hole do-it
// list, the search by GUID and the payload bounds of a record.
#include <cstring>
#include "RomScan.h"
#include "TKXPhysMem.h"
#include "YozFlash.h"
#include "YozHoleProc.h"
#include "YozOptionStore.h"
#include "YozRomFile.h"
#include "YozSysRom.h"

static bool SameGuid(const EFI_GUID& a, const EFI_GUID& b) { return memcmp(&a, &b, sizeof(EFI_GUID)) == 0; }

UINT8 RHP_IsSlpGuid(const EFI_GUID* guid) {
    return memcmp(guid, kGuidSlpKey, sizeof(EFI_GUID)) == 0 || memcmp(guid, kGuidSlpMarker, sizeof(EFI_GUID)) == 0;
}

bool RHP_PayloadRoom(const _ROMHOLEREC* record, UINT32 headers, UINT32* room) {
    if (record == nullptr || record->Size < headers || !YOZ_RangeInside(record->RomOffset, record->Size, gRomSize))
        return false;
    *room = record->Size - headers;
    return true;
}

ENUM_ERR_ID RHP_CheckHoleData(UINT8* system, const UINT8* file, UINT32 fileSize, const _ROMHOLEREC& record) {
    if (system == nullptr || file == nullptr || !YOZ_RangeInside(record.RomOffset, record.Size, gRomSize) ||
        record.Size < YOZ_FFS_HEADER_SIZE || fileSize > record.Size - YOZ_FFS_HEADER_SIZE)
        return eEID_NOT_MATCH_HOLE;
    _FLASHITEM item;
    memset(&item, 0, sizeof(item));
    item.FlashAddr = record.RomOffset;
    item.ItemSize = record.Size;
    item.WriteOnce = 1;
    item.HasFfsHeader = 1;
    YOZ_FlashItem_WriteOnce_Check(system, &item);
    if (!(item.BlockAligned && item.WholeBlocks) && !item.TargetBlank) return YOZ_ERR_NOT_WRITE_ONCE;
    const UINT8* header = system + record.RomOffset;
    UINT8 attributes = YOZ_FfsHeader(header)->Attributes;
    if (!(attributes & YOZ_FFS_ATTRIB_CHECKSUM)) return eEID_NO_ERROR;
    if (attributes & YOZ_FFS_ATTRIB_TAIL) return YOZ_ERR_NOT_WRITE_ONCE;
    bool sumChanges = YOZ_CalCheckSum8(header + YOZ_FFS_HEADER_SIZE, fileSize) != YOZ_CalCheckSum8(file, fileSize);
    return sumChanges && YOZ_GetSecureFlashStatus() ? YOZ_ERR_NOT_WRITE_ONCE : eEID_NO_ERROR;
}

void RHP_PutHoleData(UINT8* system, const UINT8* file, UINT32 fileSize, const _ROMHOLEREC& record) {
    YOZ_RomFile_PutFileData(system, gRomSize, record.RomOffset, record.RomOffset + YOZ_FFS_HEADER_SIZE, file, fileSize);
}

ENUM_ERR_ID RHP_SecureMergeRHList(_ROMHOLEREC* system, _ROMHOLEREC* file, UINT8 layoutGuard) {
    // The whole BIOS goes anyway.
    if (YOZ_GetPBNCmdIsEnable()) return eEID_NO_ERROR;
    if (layoutGuard && (YOZ_GetMLAP_APL_isExist() || YOZ_GetMLAP_FTF_isExist()) && YOZ_GetPCmdIsEnable() &&
        YOZ_GetNCmdIsEnable())
        return eEID_NO_ERROR;
    UINT32 n = YOZ_HoleCount(YOZ_RomFile_GetRomHoleNumber());
    for (UINT32 i = 0; i < n; ++i) {
        if (!SameGuid(system[i].Guid, file[i].Guid) || system[i].Size != file[i].Size)
            return eEID_INVALID_HOLE_LAYOUT;
        // Read from where the image holds the hole, also when it moved.
        system[i].FileOffset = file[i].RomOffset;
    }
    return eEID_NO_ERROR;
}

bool RHP_AddHoleItem(const _ROMHOLEREC& hole) {
    _FLASHITEM* item = reinterpret_cast<_FLASHITEM*>(AllocMem(sizeof(_FLASHITEM)));
    if (item == nullptr) return false;
    item->FlashAddr = hole.RomOffset;
    item->ItemSize = hole.Size;
    item->WriteOnce = 1;
    item->HasFfsHeader = 1;
    item->CafEnabled = YOZ_bCAFFlag;
    YOZ_FlashItemList_Add(item);
    return true;
}

UINT8 RHP_RegionWritten(UINT32 offset) {
    UINT32 blocks = gpFlashInfo != nullptr ? gpFlashInfo->BlockCount : 0;
    for (UINT32 b = 0; b < blocks; ++b) {
        const sBlockInfo& block = gpFlashInfo->Blocks[b];
        if (offset < block.StartAddress || offset - block.StartAddress >= block.BlockSize) continue;
        if (block.Type == YOZ_BLOCK_BOOT) return YOZ_GetBCmdIsEnable() || YOZ_GetB2CmdIsEnable();
        if (block.Type == YOZ_BLOCK_MAIN) return YOZ_GetPCmdIsEnable();
        return 0;
    }
    return 0;
}

ENUM_ERR_ID RHP_PairHoles(_ROMHOLEREC* system, const _ROMHOLEREC* file, const UINT8* chosen, UINT8* write) {
    UINT32 systemCount = YOZ_HoleCount(YOZ_SysRom_GetRomHoleNumber());
    UINT32 fileCount = YOZ_HoleCount(YOZ_RomFile_GetRomHoleNumber());
    memset(write, 0, YOZ_MAX_ROMHOLE);
    for (UINT32 i = 0; i < YOZ_MAX_ROMHOLE; ++i) {
        if (chosen != nullptr && !chosen[i]) continue;
        if (i >= systemCount || system[i].Size == 0) {
            if (chosen != nullptr) return eEID_ROMHOLE_NOT_EXIST;
            continue;
        }
        INT32 k = RP_PairOf(system[i].Guid, file, fileCount);
        if (k == RP_PAIR_SEVERAL || RP_PairOf(system[i].Guid, system, systemCount) == RP_PAIR_SEVERAL)
            return eEID_EXIST_SAME_HOLE_GUID;
        if (k == RP_PAIR_NONE) return chosen != nullptr ? eEID_ROMHOLE_NOT_EXIST : eEID_NOT_MATCH_NCB;
        // The region's own flash writes the image's hole where the image has it.
        if (RHP_RegionWritten(system[i].RomOffset)) continue;
        if (file[k].Size != system[i].Size) return eEID_NOT_MATCH_NCB;
        system[i].FileOffset = file[k].RomOffset;
        write[i] = 1;
    }
    return eEID_NO_ERROR;
}

ENUM_ERR_ID RHP_FileRHToFlashBuff(UINT8* destination, UINT8* source, UINT32 size, _ROMHOLEREC* system,
                                  const UINT8* write) {
    if (destination == nullptr || source == nullptr) return eEID_MEM_MGR_INIT;
    for (UINT32 i = 0; i < YOZ_MAX_ROMHOLE; ++i) {
        if (!write[i]) continue;
        const _ROMHOLEREC& h = system[i];
        if (!YOZ_RangeInside(h.FileOffset, h.Size, size) || !YOZ_RangeInside(h.RomOffset, h.Size, gRomSize))
            return eEID_NOT_MATCH_HOLE;
        if (!RHP_AddHoleItem(h)) return eEID_MEM_ALLOC;
        memmove(destination + h.RomOffset, source + h.FileOffset, h.Size);
    }
    return eEID_NO_ERROR;
}

UINT32 RHP_MakeDoItList(UINT8* map, const _ROMHOLEREC* holes, UINT32 count, const UINT8* chosen,
                        const _ROMHOLEREC* sizes, UINT8* bootEnable, UINT8* mainEnable) {
    if (bootEnable != nullptr) *bootEnable = 0;
    if (mainEnable != nullptr) *mainEnable = 0;
    UINT32 blocks = gpFlashInfo != nullptr ? gpFlashInfo->BlockCount : 0;
    for (UINT32 b = 0; b < blocks; ++b) map[b] = 0;
    if (chosen != nullptr && sizes != nullptr) {
        for (UINT32 i = 0; i < count; ++i)
            if (chosen[i] && sizes[i].Size == 0) return 0;  // a chosen hole that is not there
    }
    UINT32 total = 0;
    for (UINT32 b = 0; b < blocks; ++b) {
        sBlockInfo& block = gpFlashInfo->Blocks[b];
        for (UINT32 i = 0; i < count && map[b] == 0; ++i) {
            if ((chosen != nullptr && !chosen[i]) || holes[i].Size == 0) continue;
            if (!RP_CheckFlashAddr(&block, &holes[i])) continue;
            map[b] = 1;
            total += block.BlockSize;
            if (block.Type == YOZ_BLOCK_BOOT && bootEnable != nullptr) *bootEnable = 1;
            if (block.Type == YOZ_BLOCK_MAIN && mainEnable != nullptr) *mainEnable = 1;
        }
    }
    return total;
}

_ROMHOLEREC* RHP_FindHole(const EFI_GUID* guid, _ROMHOLEREC* list, UINT32 n, UINT8* twice) {
    _ROMHOLEREC* first = nullptr;
    for (UINT32 i = 0; i < n; ++i) {
        if (list[i].Size == 0 || !SameGuid(list[i].Guid, *guid)) continue;
        if (first == nullptr) {
            first = &list[i];
        } else if (twice != nullptr) {
            *twice = 1;
            return nullptr;
        }
    }
    return first;
}
