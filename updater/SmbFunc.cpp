// Setup and SMBIOS preservation processors: the "BSA_" area search, the
// whole area (SMB_) and chosen structure types (SMBN_) saved from the flash
// copy and put into the image.
#include <cstring>
#include "RomScan.h"
#include "TKXPhysMem.h"
#include "YozFvLayout.h"
#include "YozRomFile.h"
#include "YozSmbProc.h"
#include "YozSysRom.h"

UINT8 gSMBF_ZOKTFlash = 0, gSMBF_FlashEnable = 0;
UINT8 gSPF_ZOKTFlash = 0, gSPF_FlashEnable = 0;

static const char kBsaSignature[] = "BSA_";

void SMB_FuncVar_Init() { gSMBF_ZOKTFlash = gSMBF_FlashEnable = 0; }
void SP_FuncVar_Init() { gSPF_ZOKTFlash = gSPF_FlashEnable = 0; }

void SMB_Proc_FreeDmiData(_DMIDATA* dmi) {
    if (dmi == nullptr) return;
    FreeMem(dmi->pData);
    *dmi = _DMIDATA{nullptr, SMB_DMI_EMPTY, 0, 0};
}

static UINT32 s_TargetBlocks = SMB_ANY_BLOCK;

void SMB_Proc_SetTargetBlocks(UINT32 typeMask) { s_TargetBlocks = typeMask; }

// DMI file i of the ROM's list (main-block files before boot-block files):
// its header offset and size.
static void DmiFile(UINT8 fromImage, UINT32 i, UINT32* start, UINT32* size) {
    *start = fromImage ? YOZ_RomFile_GetDMIRomOffset(i) : YOZ_SysRom_GetDMIRomOffset(i);
    *size = fromImage ? YOZ_RomFile_GetDMISize(i) : YOZ_SysRom_GetDMISize(i);
}

// The area in the DMI file at `start` of `size` bytes: its offset and L.
static SMB_AREA_STATE AreaInFile(UINT8* rom, UINT32 start, UINT32 size, UINT32* offset, UINT32* length) {
    UINT32 limit = RomScan_Limit(rom);
    if (start >= limit) return SMB_AREA_NONE;
    UINT32 end = size > limit - start ? limit : start + size;
    // The signature is looked for in the file's data, after its header.
    if (end - start < YOZ_FFS_HEADER_SIZE) return SMB_AREA_NONE;
    UINT32 at = RomScan_Find(rom, end, start + YOZ_FFS_HEADER_SIZE, kBsaSignature, 4);
    if (at == ROMSCAN_NONE) return SMB_AREA_NONE;
    *offset = at;
    if (end - at < SMB_AREA_HEADER) return SMB_AREA_BAD;
    *length = RomScan_Get32(rom + at + 4);
    return *length <= end - at - SMB_AREA_HEADER ? SMB_AREA_FOUND : SMB_AREA_BAD;
}

// The file lies in flash blocks of the types of typeMask only.
static bool InTargetBlocks(UINT32 start, UINT32 size, UINT32 typeMask) {
    if (typeMask == SMB_ANY_BLOCK) return true;
    UINT64 end = static_cast<UINT64>(start) + size;
    bool covered = false;
    for (UINT32 r = 0; r < YOZ_SysRom_GetRgNumber(); ++r) {
        UINT64 from = YOZ_SysRom_GetBlockStartAddress(r);
        if (from >= end || start >= from + YOZ_SysRom_GetBlockSize(r)) continue;
        UINT8 type = YOZ_SysRom_GetBlockType(r);
        if (type >= 32 || (typeMask & (1u << type)) == 0) return false;
        covered = true;
    }
    return covered;
}

// The image area a restore fills: of the DMI files in the target blocks, the
// one whose area lies where the system's lies, else the last with an area.
static SMB_AREA_STATE TargetArea(UINT8* image, const _DMIDATA* dmi, UINT32* offset, UINT32* length,
                                 UINT32* file) {
    YOZ_RomFile_SearchNCB(image);
    SMB_AREA_STATE chosen = SMB_AREA_NONE;
    for (UINT32 i = YOZ_RomFile_GetDMINumber(); i-- > 0;) {
        UINT32 start = 0, size = 0, at = 0, l = 0;
        DmiFile(1, i, &start, &size);
        if (!InTargetBlocks(start, size, s_TargetBlocks)) continue;
        SMB_AREA_STATE state = AreaInFile(image, start, size, &at, &l);
        if (state == SMB_AREA_NONE || (chosen != SMB_AREA_NONE && at != dmi->Offset)) continue;
        chosen = state;
        *offset = at;
        *length = l;
        *file = start;
        if (at == dmi->Offset) break;
    }
    return chosen;
}

// The area of the last DMI file.
SMB_AREA_STATE SMB_Proc_FindArea(UINT8* rom, UINT8 fromImage, UINT32* offset, UINT32* length) {
    if (rom == nullptr) return SMB_AREA_NONE;
    if (fromImage) YOZ_RomFile_SearchNCB(rom);
    UINT32 n = fromImage ? YOZ_RomFile_GetDMINumber() : YOZ_SysRom_GetDMINumber();
    if (n == 0) return SMB_AREA_NONE;
    UINT32 file = 0, size = 0, at = 0, l = 0;
    DmiFile(fromImage, n - 1, &file, &size);
    SMB_AREA_STATE state = AreaInFile(rom, file, size, &at, &l);
    if (offset != nullptr) *offset = at;
    if (length != nullptr) *length = l;
    return state;
}

UINT8 SMB_Proc_AreaInBlocks(UINT8* rom, UINT8 fromImage, UINT32 typeMask) {
    if (rom == nullptr) return 0;
    if (fromImage) YOZ_RomFile_SearchNCB(rom);
    UINT32 n = fromImage ? YOZ_RomFile_GetDMINumber() : YOZ_SysRom_GetDMINumber();
    bool found = false;
    for (UINT32 i = fromImage || n == 0 ? 0 : n - 1; i < n && !found; ++i) {
        UINT32 start = 0, size = 0, at = 0, length = 0;
        DmiFile(fromImage, i, &start, &size);
        found = InTargetBlocks(start, size, typeMask) &&
                AreaInFile(rom, start, size, &at, &length) != SMB_AREA_NONE;
    }
    return found ? 1 : 0;
}

// A new copy of the system's area for the record: the area's header, then
// its data (withData) or 0xFF.
static UINT8* NewCopy(UINT8* systemImage, _DMIDATA* dmi, bool withData, UINT32* length) {
    if (dmi == nullptr) return nullptr;
    SMB_Proc_FreeDmiData(dmi);
    UINT32 at = 0;
    if (SMB_Proc_FindArea(systemImage, 0, &at, length) != SMB_AREA_FOUND) return nullptr;
    UINT32 size = *length + SMB_AREA_HEADER;
    UINT8* copy = AllocMem(size);
    if (copy == nullptr) return nullptr;
    if (withData) {
        memcpy(copy, systemImage + at, size);
    } else {
        memset(copy, 0xFF, size);
        memcpy(copy, systemImage + at, SMB_AREA_HEADER);
    }
    dmi->pData = copy;
    dmi->Offset = at;
    dmi->Size = size;
    return copy;
}

UINT8 SMB_Proc_StoreDmiData(UINT8* systemImage, _DMIDATA* dmi) {
    UINT32 length = 0;
    if (NewCopy(systemImage, dmi, true, &length) == nullptr) return 0;
    dmi->State = SMB_DMI_STORED;
    return 1;
}

// The image area a restore of the record fills, when it can take the saved
// data: its offset, L and DMI file.
static bool Fits(UINT8* image, const _DMIDATA* dmi, UINT32* at, UINT32* length, UINT32* file) {
    if (image == nullptr || dmi == nullptr || dmi->State != SMB_DMI_STORED || dmi->pData == nullptr) return false;
    if (dmi->Size < SMB_AREA_HEADER) return false;
    if (TargetArea(image, dmi, at, length, file) != SMB_AREA_FOUND) return false;
    return *length >= dmi->Size - SMB_AREA_HEADER;
}

UINT8 SMB_Proc_DmiDataFits(UINT8* image, const _DMIDATA* dmi) {
    UINT32 at = 0, length = 0, file = 0;
    return Fits(image, dmi, &at, &length, &file) ? 1 : 0;
}

UINT8 SMB_Proc_ReStoreDmiData(UINT8* image, _DMIDATA* dmi) {
    UINT32 at = 0, length = 0, file = 0;
    if (!Fits(image, dmi, &at, &length, &file)) return 0;
    return YOZ_RomFile_PutFileData(image, RomScan_Limit(image), file, at, dmi->pData, dmi->Size);
}

// The kept structures, then erased bytes up to the image header's L: nothing
// of the image's own structures stays behind them.
UINT8 SMBN_Proc_ReStoreDmiData(UINT8* image, _DMIDATA* dmi) {
    UINT32 at = 0, length = 0, file = 0;
    if (!Fits(image, dmi, &at, &length, &file)) return 0;
    if (length == 0) return 1;
    UINT8* data = AllocMem(length);
    if (data == nullptr) return 0;
    memset(data, 0xFF, length);
    memcpy(data, dmi->pData + SMB_AREA_HEADER, dmi->Size - SMB_AREA_HEADER);
    UINT8 done = YOZ_RomFile_PutFileData(image, RomScan_Limit(image), file, at + SMB_AREA_HEADER, data, length);
    FreeMem(data);
    return done;
}

// Appends the structures of one type from data[0, length) to out at *used;
// false when there is none. A structure that runs past L marks the area
// damaged.
static bool StoreType(const UINT8* data, UINT32 length, UINT8 type, UINT8* out, UINT32* used, bool* damaged) {
    if (length < 4) {
        if (length != 0) *damaged = true;
        return false;
    }
    UINT32 header = (data[3] & 0x80) != 0 ? 9 : 4;
    bool found = false;
    for (UINT32 at = 0; header <= length - at;) {
        UINT32 size = header + (header == 9 ? RomScan_Get16(data + at + 5) : data[at + 2]);
        if (size > length - at) {  // runs past L: the walk ends
            *damaged = true;
            break;
        }
        if (data[at] == type) {
            // Each type is stored once, so what is stored never exceeds L.
            memcpy(out + *used, data + at, size);
            *used += size;
            found = true;
        }
        at += size;
    }
    return found;
}

UINT8 SMBN_Proc_StoreDmiNData(UINT8* systemImage, TKXList<UINT8>& types, _DMIDATA* dmi) {
    UINT32 length = 0;
    UINT8* copy = NewCopy(systemImage, dmi, false, &length);
    if (copy == nullptr) return 0;
    const UINT8* data = systemImage + dmi->Offset + SMB_AREA_HEADER;
    UINT32 used = 0;
    bool seen[256] = {false}, damaged = false;
    for (unsigned long i = 0; i < types.size(); ++i) {
        UINT8 type = types[i];
        if (seen[type]) continue;
        seen[type] = true;
        if (!StoreType(data, length, type, copy + SMB_AREA_HEADER, &used, &damaged))
            WriteOut(" - Warning: System doesn't have Type-%d structure to preserve\n", type);
    }
    // Nothing found in a damaged area says nothing of the system: the
    // image's area is left as it is.
    dmi->State = used != 0 || !damaged ? SMB_DMI_STORED : SMB_DMI_EMPTY;
    return 1;
}
