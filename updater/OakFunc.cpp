// OEM activation key processors: a new key from a key file (OAK_) and the
// key cleared (OAD_), in the system's "$FID" record and the image's.
#include <cstring>
#include "RomScan.h"
#include "TKXPhysMem.h"
#include "YozFlash.h"
#include "YozHoleProc.h"
#include "YozOakProc.h"
#include "YozOptionStore.h"
#include "YozRomFile.h"
#include "YozSysRom.h"

UINT32 gOAKF_AllBlockSize = 0;
UINT8 gOAKF_FvType = 0xFF;
UINT32 gOAKF_FidFileOffset = 0, gOAKF_FidSystemOffset = 0;
char gOAKF_BinFilePath[128] = {0};
UINT8* gOAKF_pBinFile = nullptr;
UINT32 gOAKF_BinFileSize = 0;
UINT32 gOADF_AllBlockSize = 0;
UINT8 gOADF_FvType = 0xFF;
UINT32 gOADF_FidSystemOffset = 0;

// Nothing arms these processors: their modules flash on their own.
static UINT8 s_OAKUnarmed = 0, s_OADUnarmed = 0;
const YOZ_REGION_PROC YOZ_OAKProc = {&gOAKF_AllBlockSize, &s_OAKUnarmed, &gOAKF_FvType, 0, 1, 0};
const YOZ_REGION_PROC YOZ_OADProc = {&gOADF_AllBlockSize, &s_OADUnarmed, &gOADF_FvType, 0, 0, 0};


void OAK_FuncVar_Init() {
    RP_FuncVar_Init(&YOZ_OAKProc);
    gOAKF_FvType = 0xFF;
    gOAKF_FidFileOffset = gOAKF_FidSystemOffset = 0;
    memset(gOAKF_BinFilePath, 0, sizeof(gOAKF_BinFilePath));
    gOAKF_pBinFile = nullptr;
    gOAKF_BinFileSize = 0;
}
YOZ_REGION_PROC_COMMON_DEFINE(OAK, YOZ_OAKProc)
UINT32 OAK_Proc_MakeTypeDoItList(UINT8* map, char type) { return RP_MakeTypeDoItList(&YOZ_OAKProc, map, type); }

void OAD_FuncVar_Init() {
    RP_FuncVar_Init(&YOZ_OADProc);
    gOADF_FvType = 0xFF;
    gOADF_FidSystemOffset = 0;
}
UINT32 OAD_Proc_MakeTypeDoItList(UINT8* map, char type) { return RP_MakeTypeDoItList(&YOZ_OADProc, map, type); }

UINT32 OAK_MarkBlocksOf(UINT8* map, UINT32 address, UINT32 size) {
    UINT32 added = 0;
    if (map == nullptr || gpFlashInfo == nullptr || size == 0) return 0;
    for (UINT32 i = 0; i < gpFlashInfo->BlockCount; ++i) {
        const sBlockInfo& b = gpFlashInfo->Blocks[i];
        UINT64 end = static_cast<UINT64>(b.StartAddress) + b.BlockSize;
        if (map[i] != 0 || address >= end || static_cast<UINT64>(address) + size <= b.StartAddress) continue;
        map[i] = 2;
        added += b.BlockSize;
    }
    return added;
}

UINT8 OAK_BlocksMarked(const UINT8* map, UINT32 address, UINT32 size) {
    if (map == nullptr || gpFlashInfo == nullptr || size == 0) return 0;
    UINT64 from = address, to = from + size, covered = 0;
    for (UINT32 i = 0; i < gpFlashInfo->BlockCount; ++i) {
        const sBlockInfo& b = gpFlashInfo->Blocks[i];
        UINT64 start = b.StartAddress, end = start + b.BlockSize;
        UINT64 low = from > start ? from : start, high = to < end ? to : end;
        if (high <= low) continue;
        if (map[i] == 0) return 0;
        covered += high - low;
    }
    return covered == size ? 1 : 0;
}

// The FFS file that holds the record at fidAt and its key of n bytes; 0 when
// it cannot be found.
static UINT32 KeyFile(const UINT8* image, UINT32 limit, UINT32 fidAt, UINT32 n) {
    return YOZ_RomFile_FileHolding(image, limit, fidAt, YOZ_FID_KEY_DATA + n);
}

static bool BlankKey(const UINT8* key, UINT32 length) {
    bool allFF = true, all00 = true;
    for (UINT32 i = 0; i < length && (allFF || all00); ++i) {
        allFF = allFF && key[i] == 0xFF;
        all00 = all00 && key[i] == 0x00;
    }
    return allFF || all00;
}

ENUM_ERR_ID OAK_Proc_CheckOldOAData(UINT8* key, UINT32 length) {
    if (key == nullptr) return eEID_MEM_ALLOC;
    if (BlankKey(key, length)) return eEID_NO_ERROR;
    // Equal only when the key file holds that many bytes.
    bool same = gOAKF_pBinFile != nullptr && length <= gOAKF_BinFileSize && memcmp(key, gOAKF_pBinFile, length) == 0;
    return same ? eEID_OAK_DATA_THE_SAME_ERROR : eEID_OAK_DATA_ERROR;
}

ENUM_ERR_ID OAD_Proc_CheckOldOAData(UINT8* key, UINT32 length) {
    if (key == nullptr) return eEID_MEM_ALLOC;
    return BlankKey(key, length) ? eEID_OAD_NULL_DATA_ERROR : eEID_NO_ERROR;
}

// The key length of a "$FID" record at `at` of a buffer of `limit` bytes, 0
// (and no record) when the record or its key does not lie in the buffer.
static bool FidKey(const UINT8* buffer, UINT32 limit, UINT32 at, UINT32* length) {
    if (buffer == nullptr || at >= limit) return false;
    if (RomScan_FidRecordSize(buffer + at, limit - at) == 0) return false;
    *length = RomScan_Get32(buffer + at + YOZ_FID_KEY_LENGTH);
    return true;
}

static bool KeyItemForced() { return YOZ_GetBCmdIsEnable() && YOZ_GetPCmdIsEnable() && YOZ_GetNCmdIsEnable(); }

// The write-once item of the system's key area, checked against the flash
// contents the key is written over.
static ENUM_ERR_ID AddKeyItem(UINT8* systemImage, UINT32 length) {
    _FLASHITEM* item = reinterpret_cast<_FLASHITEM*>(AllocMem(sizeof(_FLASHITEM)));
    if (item == nullptr) return eEID_MEM_ALLOC;
    item->FlashAddr = gYOZ_FidSystemOffset + YOZ_FID_KEY_DATA;
    item->ItemSize = length;
    item->WriteOnce = 1;
    item->CafEnabled = YOZ_bCAFFlag;
    YOZ_FlashItemList_Add(item);
    if (!KeyItemForced() && !YOZ_FlashItemList_WriteOnce_Check(systemImage)) return YOZ_ERR_NOT_WRITE_ONCE;
    return eEID_NO_ERROR;
}

// The records of both sides and the checks of a key update; *n and *m:
// the system's key length and the length written into the image; *header:
// the image's file that takes the key, which must be found for its sums to
// follow the key.
static ENUM_ERR_ID CheckKeyUpdate(UINT8* systemImage, UINT8* fileImage, UINT8* keyFile, UINT32 keyLength, UINT32* n,
                                  UINT32* m, UINT32* header) {
    if (systemImage == nullptr || fileImage == nullptr || (keyFile == nullptr && keyLength != 0)) return eEID_MEM_ALLOC;
    if (YOZ_SysRom_GetVer4Fid(systemImage) == nullptr) return eEID_OAK_NO_SUPPORT_ERROR;
    UINT32 fileLimit = RomScan_Limit(fileImage);
    UINT32 fileAt = YOZ_RomFile_FindImageFidOffset(fileImage);
    UINT32 imageLength = 0;
    if (fileAt == 0 || !FidKey(systemImage, gRomSize, gYOZ_FidSystemOffset, n) ||
        !FidKey(fileImage, fileLimit, fileAt, &imageLength))
        return eEID_OAK_REGION_ERROR;
    // The old key is read only inside the system's key area.
    UINT8* sysKey = systemImage + gYOZ_FidSystemOffset + YOZ_FID_KEY_DATA;
    ENUM_ERR_ID old = OAK_Proc_CheckOldOAData(sysKey, keyLength < *n ? keyLength : *n);
    if (old != eEID_NO_ERROR) return old;
    // The key must fit the image's key area and the system's.
    if (imageLength < keyLength || *n < keyLength) return eEID_OAK_FILE_SIZE_ERROR;
    *m = *n < imageLength ? *n : imageLength;
    *header = KeyFile(fileImage, fileLimit, fileAt, *m);
    return *header != 0 ? eEID_NO_ERROR : eEID_OAK_REGION_ERROR;
}

// A file without a data checksum takes the key as a flash item of its own.
static bool ItemNeeded(const UINT8* image, UINT32 header) {
    return (YOZ_FfsHeader(image + header)->Attributes & YOZ_FFS_ATTRIB_CHECKSUM) == 0;
}

ENUM_ERR_ID OAK_Proc_CheckUpdate(UINT8* systemImage, UINT8* fileImage, UINT8* keyFile, UINT32 keyLength) {
    UINT32 n = 0, m = 0, header = 0;
    ENUM_ERR_ID status = CheckKeyUpdate(systemImage, fileImage, keyFile, keyLength, &n, &m, &header);
    if (status != eEID_NO_ERROR || !ItemNeeded(fileImage, header) || KeyItemForced()) return status;
    _FLASHITEM item;
    memset(&item, 0, sizeof(item));
    item.FlashAddr = gYOZ_FidSystemOffset + YOZ_FID_KEY_DATA;
    item.ItemSize = n;
    item.WriteOnce = 1;
    YOZ_FlashItem_WriteOnce_Check(systemImage, &item);
    return (item.BlockAligned && item.WholeBlocks) || item.TargetBlank ? eEID_NO_ERROR : YOZ_ERR_NOT_WRITE_ONCE;
}

ENUM_ERR_ID OAK_Proc_UpdateOemActKey(UINT8* systemImage, UINT8* fileImage, UINT8* keyFile, UINT32 keyLength) {
    UINT32 n = 0, m = 0, header = 0;
    ENUM_ERR_ID status = CheckKeyUpdate(systemImage, fileImage, keyFile, keyLength, &n, &m, &header);
    if (status != eEID_NO_ERROR) return status;
    gOAKF_FidFileOffset = YOZ_RomFile_FindImageFidOffset(fileImage);
    gOAKF_FidSystemOffset = gYOZ_FidSystemOffset;
    if (ItemNeeded(fileImage, header)) {
        ENUM_ERR_ID added = AddKeyItem(systemImage, n);
        if (added != eEID_NO_ERROR) return added;
    }
    UINT8* sysKey = systemImage + gYOZ_FidSystemOffset + YOZ_FID_KEY_DATA;
    memset(sysKey, 0, m);
    if (keyLength != 0) memcpy(sysKey, keyFile, keyLength);
    YOZ_RomFile_PutFileData(fileImage, RomScan_Limit(fileImage), header, gOAKF_FidFileOffset + YOZ_FID_KEY_DATA, sysKey, m);
    return eEID_NO_ERROR;
}

ENUM_ERR_ID OAD_Proc_CheckDelete(UINT8* systemImage, UINT32 keyLength) {
    if (systemImage == nullptr) return eEID_MEM_ALLOC;
    if (YOZ_SysRom_GetVer4Fid(systemImage) == nullptr) return eEID_OAK_NO_SUPPORT_ERROR;
    UINT32 n = 0;
    if (!FidKey(systemImage, gRomSize, gYOZ_FidSystemOffset, &n)) return eEID_OAK_REGION_ERROR;
    ENUM_ERR_ID old = OAD_Proc_CheckOldOAData(systemImage + gYOZ_FidSystemOffset + YOZ_FID_KEY_DATA,
                                              keyLength < n ? keyLength : n);
    if (old != eEID_NO_ERROR) return old;
    if (n != keyLength) return eEID_OAK_KEY_LENGTH_ERROR;
    // The files that take the cleared key, the system's and the image's, must be found.
    if (KeyFile(systemImage, gRomSize, gYOZ_FidSystemOffset, n) == 0) return eEID_OAK_REGION_ERROR;
    UINT8* image = YOZ_RomFile_GetBuffer();
    UINT32 limit = RomScan_Limit(image);
    UINT32 imageAt = image != nullptr ? YOZ_RomFile_FindImageFidOffset(image) : 0;
    UINT32 imageLength = 0;
    if (imageAt != 0 && FidKey(image, limit, imageAt, &imageLength) &&
        KeyFile(image, limit, imageAt, imageLength < n ? imageLength : n) == 0)
        return eEID_OAK_REGION_ERROR;
    return eEID_NO_ERROR;
}

ENUM_ERR_ID OAD_Proc_UpdateOemActKey(UINT8* systemImage, UINT32 keyLength) {
    if (systemImage == nullptr) return eEID_MEM_ALLOC;
    if (YOZ_SysRom_GetVer4Fid(systemImage) == nullptr) return eEID_OAK_NO_SUPPORT_ERROR;
    UINT32 sysAt = gYOZ_FidSystemOffset;
    UINT32 n = 0;
    if (!FidKey(systemImage, gRomSize, sysAt, &n)) return eEID_OAK_REGION_ERROR;
    gOADF_FidSystemOffset = sysAt;
    // Without a ROM file, secure flash writes the key area alone (once);
    // otherwise the blocks that hold the record are rewritten.
    if (!YOZ_RomFile_GetFileEnable() && YOZ_GetSecureFlashStatus()) {
        ENUM_ERR_ID added = AddKeyItem(systemImage, n);
        if (added != eEID_NO_ERROR) return added;
    }
    ENUM_ERR_ID old = OAD_Proc_CheckOldOAData(systemImage + sysAt + YOZ_FID_KEY_DATA, keyLength < n ? keyLength : n);
    if (old != eEID_NO_ERROR) return old;
    if (n != keyLength) return eEID_OAK_KEY_LENGTH_ERROR;
    UINT32 header = KeyFile(systemImage, gRomSize, sysAt, n);
    if (header == 0) return eEID_OAK_REGION_ERROR;
    UINT8* cleared = AllocMem(n);
    if (cleared == nullptr) return eEID_MEM_ALLOC;
    memset(cleared, 0xFF, n);
    YOZ_RomFile_PutFileData(systemImage, gRomSize, header, sysAt + YOZ_FID_KEY_DATA, cleared, n);
    // The image's key area is written only where its record holds one.
    UINT8* image = YOZ_RomFile_GetBuffer();
    UINT32 limit = RomScan_Limit(image);
    UINT32 imageAt = image != nullptr ? YOZ_RomFile_FindImageFidOffset(image) : 0;
    UINT32 imageLength = 0;
    if (imageAt != 0 && FidKey(image, limit, imageAt, &imageLength)) {
        UINT32 m = imageLength < n ? imageLength : n;
        YOZ_RomFile_PutFileData(image, limit, KeyFile(image, limit, imageAt, m), imageAt + YOZ_FID_KEY_DATA, cleared, m);
    }
    FreeMem(cleared);
    return eEID_NO_ERROR;
}

UINT8 OAK_KeySpan(UINT8* image, UINT32* from, UINT32* size) {
    UINT32 limit = RomScan_Limit(image);
    UINT32 at = image != nullptr ? YOZ_RomFile_FindImageFidOffset(image) : 0;
    UINT32 n = 0;
    if (at == 0 || !FidKey(image, limit, at, &n)) return 0;
    UINT32 header = KeyFile(image, limit, at, n);
    *from = header != 0 ? header : at;
    *size = at + YOZ_FID_KEY_DATA + n - *from;
    return 1;
}

UINT32 OAK_MarkKeyBlocks(UINT8* map, UINT8* image) {
    UINT32 from = 0, size = 0;
    return OAK_KeySpan(image, &from, &size) ? OAK_MarkBlocksOf(map, from, size) : 0;
}
