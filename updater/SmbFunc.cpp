// Setup and SMBIOS preservation processors: the "BSA_" area search, the
// whole area (SMB_) and chosen structure types (SMBN_) saved from the flash
// copy and put into the image.
#include <cstring>
#include "RomScan.h"
#include "TKXPhysMem.h"
#include "YozRomFile.h"
#include "YozSmbProc.h"
#include "YozSysRom.h"

UINT8 gSMBF_ZOKTFlash = 0, gSMBF_FlashEnable = 0;
UINT8 gSPF_ZOKTFlash = 0, gSPF_FlashEnable = 0;

static const UINT32 kFfsHeader = 24;
static const char kBsaSignature[] = "BSA_";

void SMB_FuncVar_Init() { gSMBF_ZOKTFlash = gSMBF_FlashEnable = 0; }
void SP_FuncVar_Init() { gSPF_ZOKTFlash = gSPF_FlashEnable = 0; }

void SMB_Proc_FreeDmiData(_DMIDATA* dmi) {
    if (dmi == nullptr) return;
    FreeMem(dmi->pData);
    *dmi = _DMIDATA{nullptr, SMB_DMI_EMPTY, 0, 0};
}

// The last DMI file of the ROM's list: its header offset and size.
static bool LastDmiFile(UINT8 fromImage, UINT32* start, UINT32* size) {
    UINT32 n = fromImage ? YOZ_RomFile_GetDMINumber() : YOZ_SysRom_GetDMINumber();
    if (n == 0) return false;
    *start = fromImage ? YOZ_RomFile_GetDMIRomOffset(n - 1) : YOZ_SysRom_GetDMIRomOffset(n - 1);
    *size = fromImage ? YOZ_RomFile_GetDMISize(n - 1) : YOZ_SysRom_GetDMISize(n - 1);
    return true;
}

// The area with the header of its DMI file (for the image's checksum).
static SMB_AREA_STATE FindArea(UINT8* rom, UINT8 fromImage, UINT32* offset, UINT32* length, UINT32* file) {
    if (rom == nullptr) return SMB_AREA_NONE;
    if (fromImage) YOZ_RomFile_SearchNCB(rom);
    UINT32 start = 0, size = 0;
    if (!LastDmiFile(fromImage, &start, &size)) return SMB_AREA_NONE;
    UINT32 limit = RomScan_Limit(rom);
    if (start >= limit) return SMB_AREA_NONE;
    UINT32 end = size > limit - start ? limit : start + size;
    // The signature is looked for in the file's data, after its header.
    if (end - start < kFfsHeader) return SMB_AREA_NONE;
    UINT32 at = RomScan_Find(rom, end, start + kFfsHeader, kBsaSignature, 4);
    if (at == ROMSCAN_NONE) return SMB_AREA_NONE;
    *file = start;
    *offset = at;
    if (end - at < SMB_AREA_HEADER) return SMB_AREA_BAD;
    *length = RomScan_Get32(rom + at + 4);
    return *length <= end - at - SMB_AREA_HEADER ? SMB_AREA_FOUND : SMB_AREA_BAD;
}

SMB_AREA_STATE SMB_Proc_FindArea(UINT8* rom, UINT8 fromImage, UINT32* offset, UINT32* length) {
    UINT32 at = 0, l = 0, file = 0;
    SMB_AREA_STATE state = FindArea(rom, fromImage, &at, &l, &file);
    if (offset != nullptr) *offset = at;
    if (length != nullptr) *length = l;
    return state;
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

// Puts the saved bytes from `skip` on over the image's area; the image's
// area must hold the saved data.
static UINT8 Restore(UINT8* image, _DMIDATA* dmi, UINT32 skip) {
    if (image == nullptr || dmi == nullptr || dmi->State == SMB_DMI_EMPTY || dmi->pData == nullptr) return 0;
    if (dmi->Size < SMB_AREA_HEADER) return 0;
    UINT32 at = 0, length = 0, file = 0;
    if (FindArea(image, 1, &at, &length, &file) != SMB_AREA_FOUND) return 0;
    if (length < dmi->Size - SMB_AREA_HEADER) return 0;
    return YOZ_RomFile_PutFileData(image, RomScan_Limit(image), file, at + skip, dmi->pData + skip, dmi->Size - skip);
}

UINT8 SMB_Proc_ReStoreDmiData(UINT8* image, _DMIDATA* dmi) { return Restore(image, dmi, 0); }
UINT8 SMBN_Proc_ReStoreDmiData(UINT8* image, _DMIDATA* dmi) { return Restore(image, dmi, SMB_AREA_HEADER); }

// Appends the structures of one type from data[0, length) to out at *used;
// false when there is none.
static bool StoreType(const UINT8* data, UINT32 length, UINT8 type, UINT8* out, UINT32* used) {
    if (length < 4) return false;
    UINT32 header = (data[3] & 0x80) != 0 ? 9 : 4;
    bool found = false;
    for (UINT32 at = 0; header <= length - at;) {
        UINT32 size = header + (header == 9 ? RomScan_Get16(data + at + 5) : data[at + 2]);
        if (size > length - at) break;  // runs past L: the walk ends
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
    bool seen[256] = {false};
    for (unsigned long i = 0; i < types.size(); ++i) {
        UINT8 type = types[i];
        if (seen[type]) continue;
        seen[type] = true;
        if (!StoreType(data, length, type, copy + SMB_AREA_HEADER, &used))
            WriteOut(" - Warning: System doesn't have Type-%d structure to preserve\n", type);
    }
    dmi->State = SMB_DMI_STORED;
    return 1;
}
