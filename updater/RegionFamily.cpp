// The region-processor family: one implementation of the operations that
// the main-block and boot-block processors (and the later region
// processors) share, told apart by their descriptor.
#include <cstring>
#include "RomScan.h"
#include "TKXPhysMem.h"
#include "YozFlash.h"
#include "YozOptionStore.h"
#include "YozRegionProc.h"
#include "YozRomFile.h"
#include "YozSysRom.h"
#include "YozWorkCopy.h"

namespace {

bool (*const Inside)(UINT32, UINT32, UINT32) = YOZ_RangeInside;

UINT32 BlockCount() { return gpFlashInfo != nullptr ? gpFlashInfo->BlockCount : 0; }

const UINT32 kFidKeyLength = 0x43;   // OA key length in a version-4 "$FID" record
const UINT32 kFidKeyData = 0x47;

}  // namespace

void RP_FuncVar_Init(const YOZ_REGION_PROC* p) {
    *p->AllBlockSize = 0;
    *p->FlashEnable = 0;
    *p->FvType = 0;
}

UINT32 RP_MakeTypeDoItList(const YOZ_REGION_PROC* p, UINT8* map, char type) {
    *p->FvType = static_cast<UINT8>(type);
    UINT32 total = 0;
    for (UINT32 i = 0; i < BlockCount(); ++i) {
        const sBlockInfo& b = gpFlashInfo->Blocks[i];
        map[i] = 0;
        if (b.Type != static_cast<UINT8>(type)) continue;
        map[i] = 2;
        total += b.BlockSize;
    }
    return total;
}

void RP_GetFirstLastBlockNum(char type, UINT16& first, UINT16& last) {
    bool found = false;
    UINT32 low = 0, high = 0;
    for (UINT32 i = 0; i < BlockCount(); ++i) {
        const sBlockInfo& b = gpFlashInfo->Blocks[i];
        if (b.Type != static_cast<UINT8>(type)) continue;
        if (!found || b.StartAddress <= low) { low = b.StartAddress; first = static_cast<UINT16>(i); }
        if (!found || b.StartAddress >= high) { high = b.StartAddress; last = static_cast<UINT16>(i); }
        found = true;
    }
}

UINT8 RP_CheckFlashAddr(const sBlockInfo* block, const _ROMHOLEREC* hole) {
    UINT64 start = block->StartAddress;
    UINT64 end = start + block->BlockSize - 1;
    UINT64 h = hole->RomOffset;
    if (h >= start) return h <= end ? 1 : 0;
    return h + hole->Size - 1 >= start ? 1 : 0;
}

UINT32 RP_MakeCAFDoItList(const YOZ_REGION_PROC* p, UINT8* buffer, UINT8* map, UINT32 total) {
    YOZ_FlashWay = YOZ_FLASH_WAY_BLOCK_MAP;
    *p->AllBlockSize = total;
    UINT16 first = 0xFFFF, last = 0xFFFF;
    if (p->CafFirstLast) RP_GetFirstLastBlockNum(static_cast<char>(*p->FvType), first, last);
    UINT32 left = 0;
    for (UINT32 i = 0; i < BlockCount(); ++i) {
        if (map[i] == 0) continue;
        const sBlockInfo& b = gpFlashInfo->Blocks[i];
        if (!Inside(b.StartAddress, b.BlockSize, gRomSize)) continue;  // not in the buffer: left as marked
        UINT8* copy = AllocMem(b.BlockSize);
        if (copy == nullptr) {
            if (p->CafAllocCheck) {
                YOZ_FlashWay = YOZ_FLASH_WAY_IDLE;
                return YOZ_CAF_ALLOC_FAILED;
            }
            left += b.BlockSize;  // cannot be compared: flashed
            continue;
        }
        memcpy(copy, buffer + b.StartAddress, b.BlockSize);
        // Only the first compare reports progress: repeats of a differing
        // block would count it again and run the line past 100%.
        bool equal = false;
        for (int tryNo = 0; tryNo < 5 && !equal; ++tryNo)
            equal = VerifyBlk(b.StartAddress, b.BlockSize, copy, tryNo == 0 ? YOZ_CallBack_Verify : nullptr) != 0;
        FreeMem(copy);
        if (equal) {
            map[i] = 0;
            continue;
        }
        map[i] = 2;
        left += b.BlockSize;
        if (p->CafFirstLast && i == first && last != 0xFFFF && last < BlockCount()) map[last] = 2;
    }
    YOZ_CallBack_Verify(YOZ_PROGRESS_CLOSE, 0, 0);
    YOZ_FlashWay = YOZ_FLASH_WAY_IDLE;
    return left;
}

UINT8 RP_RomFileData2SysBuff(UINT8* destination, UINT8* source, UINT8 type) {
    if (destination == nullptr || source == nullptr) return 0;
    UINT32 count = 0;
    UINT32 (*startOf)(UINT32) = nullptr;
    UINT32 (*sizeOf)(UINT32) = nullptr;
    if (type == YOZ_BLOCK_BOOT) {
        count = YOZ_SysRom_GetBootBlockRgNumber();
        startOf = YOZ_SysRom_GetBootBlockStartAddress;
        sizeOf = YOZ_SysRom_GetBootBlockSize;
    } else if (type == YOZ_BLOCK_MAIN) {
        count = YOZ_SysRom_GetMainBlockRgNumber();
        startOf = YOZ_SysRom_GetMainBlockStartAddress;
        sizeOf = YOZ_SysRom_GetMainBlockSize;
    }
    for (UINT32 i = 0; i < count; ++i) {
        UINT32 start = startOf(i), size = sizeOf(i);
        if (Inside(start, size, gRomSize)) memmove(destination + start, source + start, size);
    }
    return 1;
}

// The hole commands' strict form pairs by index: every image hole must
// meet the system's hole of its GUID and size at the same place of the
// list. The region processors pair by GUID: a system hole takes the place
// of the image's hole of its GUID and size; one without such a hole stays
// unpaired (FileOffset 0) and is not restored (RP_CheckCarryOver has stopped
// the run when that would lose it). Under a changed layout the image's
// holes are taken as they are.
UINT8 RP_MergeRHList(const YOZ_REGION_PROC* p, _ROMHOLEREC* system, _ROMHOLEREC* file) {
    UINT32 fileCount = YOZ_HoleCount(YOZ_RomFile_GetRomHoleNumber());
    UINT8 layoutChanged = YOZ_GetLayOutChang();
    if (p->MergeFileHoles || layoutChanged) {
        for (UINT32 i = 0; i < fileCount; ++i) {
            if (layoutChanged) {
                system[i].Size = file[i].Size;
                system[i].RomOffset = file[i].RomOffset;
            } else if (memcmp(&system[i].Guid, &file[i].Guid, sizeof(EFI_GUID)) != 0 || system[i].Size != file[i].Size) {
                return 0;
            }
            system[i].FileOffset = file[i].RomOffset;
        }
        return 1;
    }
    UINT32 systemCount = YOZ_HoleCount(YOZ_SysRom_GetRomHoleNumber());
    for (UINT32 i = 0; i < systemCount; ++i) {
        system[i].FileOffset = 0;
        if (system[i].Size == 0 || RP_PairOf(system[i].Guid, system, systemCount) < 0) continue;
        INT32 k = RP_PairOf(system[i].Guid, file, fileCount);
        if (k >= 0 && file[k].Size == system[i].Size) system[i].FileOffset = file[k].RomOffset;
    }
    return 1;
}

// Every paired system hole goes to its new place, but those the hole
// options replace with the image's.
UINT8 RP_FileLoadOldRHToFlashBuff(const YOZ_REGION_PROC*, UINT8* destination, UINT8* source, UINT32 size,
                                  _ROMHOLEREC* system) {
    if (source == nullptr || destination == nullptr) return 1;
    UINT32 n = YOZ_HoleCount(YOZ_SysRom_GetRomHoleNumber());
    for (UINT32 i = 0; i < n; ++i) {
        if (RP_HoleReplaced(i)) continue;
        const _ROMHOLEREC& h = system[i];
        if (h.FileOffset == 0) continue;
        if (!Inside(h.RomOffset, h.Size, gRomSize) || !Inside(h.FileOffset, h.Size, size)) continue;
        YOZ_WorkCopy_Save(destination, h.FileOffset, h.Size);
        memmove(destination + h.FileOffset, source + h.RomOffset, h.Size);
    }
    return 1;
}

UINT8 RP_HoleReplaced(UINT32 i) {
    if (YOZ_GetRHFullCmdIsEnable()) return 1;
    return YOZ_pInputLnList != nullptr && i < YOZ_MAX_ROMHOLE && YOZ_pInputLnList[i] ? 1 : 0;
}

// 1 when the system has no SLP key data to keep: no SLP record holds any.
UINT8 RP_CheckSLPDataisNull(UINT8* image) {
    for (UINT32 i = 0; i < YOZ_MAX_SLP && i < YOZ_SysSLPCnt; ++i)
        if (!RP_SlpKeyBlank(image, YOZ_SysSLPRHRECList[i])) return 0;
    return 1;
}

// Each system SLP file that holds key data goes over the image's file of
// its GUID and size.
UINT8 RP_Preserve_SLPData(UINT8* destination, UINT8* source) {
    UINT32 systemCount = YOZ_SysSLPCnt < YOZ_MAX_SLP ? YOZ_SysSLPCnt : YOZ_MAX_SLP;
    UINT32 fileCount = YOZ_RomFileSLPCnt < YOZ_MAX_SLP ? YOZ_RomFileSLPCnt : YOZ_MAX_SLP;
    for (UINT32 i = 0; i < systemCount; ++i) {
        const _ROMHOLEREC& s = YOZ_SysSLPRHRECList[i];
        if (RP_SlpKeyBlank(source, s)) continue;
        INT32 k = RP_PairOf(s.Guid, YOZ_RomFileSLPRHRECList, fileCount);
        if (k < 0) continue;
        const _ROMHOLEREC& f = YOZ_RomFileSLPRHRECList[k];
        if (s.Size != f.Size || !Inside(s.RomOffset, s.Size, gRomSize) || !Inside(f.RomOffset, f.Size, gRomSize))
            continue;
        YOZ_WorkCopy_Save(destination, f.RomOffset, f.Size);
        memmove(destination + f.RomOffset, source + s.RomOffset, f.Size);
    }
    return 1;
}

UINT8 RP_UpdateOemActKey(UINT8* systemImage, UINT8* fileImage) {
    if (systemImage == nullptr || fileImage == nullptr) return 0;
    if (YOZ_SysRom_GetVer4Fid(systemImage) == nullptr || YOZ_RomFile_GetVer4Fid(fileImage) == nullptr) return 0;
    UINT32 fileAt = YOZ_RomFile_FindImageFidOffset(fileImage);
    UINT32 sysAt = gYOZ_FidSystemOffset;
    if (fileAt == 0 || fileAt >= YOZ_OpenFileSize || sysAt >= gRomSize) return 0;
    UINT32 fileRecord = RomScan_FidRecordSize(fileImage + fileAt, YOZ_OpenFileSize - fileAt);
    UINT32 sysRecord = RomScan_FidRecordSize(systemImage + sysAt, gRomSize - sysAt);
    if (fileRecord < kFidKeyData || sysRecord < kFidKeyData) return 0;
    UINT32 n, fileLength;
    memcpy(&n, systemImage + sysAt + kFidKeyLength, 4);
    memcpy(&fileLength, fileImage + fileAt + kFidKeyLength, 4);
    if (n > fileLength) return 0;
    if (n > sysRecord - kFidKeyData || n > fileRecord - kFidKeyData) return 0;
    // The image's file that takes the key keeps its sums (the region's checks found it).
    UINT32 header = YOZ_RomFile_FileHolding(fileImage, YOZ_OpenFileSize, fileAt, kFidKeyData + n);
    return YOZ_RomFile_PutFileData(fileImage, YOZ_OpenFileSize, header, fileAt + kFidKeyData,
                                   systemImage + sysAt + kFidKeyData, n);
}
