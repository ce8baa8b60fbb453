// Image state of the ROM image model: reset, file name, loading, accessors.
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include "RomInfo.h"
#include "TKXFile.h"
#include "TKXPhysMem.h"
#include "YozRomFile.h"
#include "YozSysRom.h"

char* YOZ_pFileName = nullptr;
UINT8 YOZ_bHaveFileName = 0;
UINT8* YOZ_pOpenFileBuff = nullptr;
UINT32 YOZ_OpenFileSize = 0;
UINT8 YOZ_OpenFileOK = 0;
UINT8 YOZ_bZOZLoadFileOK = 0;
UINT32 YOZ_FidFileOffset = 0;
UINT32 YOZ_ImageFidCheckSumOffset = 0;
UINT8* YOZ_pFileFIDVer4 = nullptr;
UINT32 YOZ_RomFile_PIVersion = 0;
UINT8 YOZ_CheckOEMRomIDFlag = 0;
UINT8 YOZ_CheckRomIDNFlag = 0;
UINT8 YOZ_CheckRomIDCount = 0;
UINT8 YOZ_RomFile_ME_FV_Exist = 0;
UINT32 YOZ_RomFile_ME_FV_StAddr = 0;
UINT32 YOZ_RomFile_ME_FV_Size = 0;
_ROMHOLEREC YOZ_RomFileRHRECList[YOZ_MAX_ROMHOLE];
UINT8 YOZ_FileRHCnt = 0;
_ROMHOLEREC YOZ_RomFileSLPRHRECList[YOZ_MAX_SLP];
UINT8 YOZ_RomFileSLPCnt = 0;
UINT8 YOZ_RomFile_bHaveSLP20 = 0;
UINT8 YOZ_FileNCBCnt = 0;
TKXRomHoleList gYOZ_RomFile_DMIGuidList;
UINT8* YOZ_pReSourceBuff = nullptr;
YOZ_ROM_LAYOUT YOZ_RomFileLayout;

static const char kEmbeddedImageName[] = "UCPIMG";

void YOZ_RomFile_Init() {
    YOZ_pFileName = nullptr;
    YOZ_bHaveFileName = 0;
    YOZ_pOpenFileBuff = nullptr;
    YOZ_OpenFileSize = 0;
    YOZ_OpenFileOK = 0;
    YOZ_bZOZLoadFileOK = 0;
    YOZ_FidFileOffset = 0;
    YOZ_ImageFidCheckSumOffset = 0;
    FreeMem(YOZ_pFileFIDVer4);
    YOZ_pFileFIDVer4 = nullptr;
    YOZ_RomFile_PIVersion = 0;
    YOZ_CheckOEMRomIDFlag = 0;
    YOZ_CheckRomIDNFlag = 0;
    YOZ_CheckRomIDCount = 0;
    YOZ_RomFile_ME_FV_Exist = 0;
    YOZ_RomFile_ME_FV_StAddr = 0;
    YOZ_RomFile_ME_FV_Size = 0;
    memset(YOZ_RomFileRHRECList, 0, sizeof(YOZ_RomFileRHRECList));
    memset(YOZ_RomFileSLPRHRECList, 0, sizeof(YOZ_RomFileSLPRHRECList));
    YOZ_FileRHCnt = 0;
    YOZ_RomFileSLPCnt = 0;
    YOZ_RomFile_bHaveSLP20 = 0;
    YOZ_FileNCBCnt = 0;
    YOZ_FvWalk_ClearDmiList(gYOZ_RomFile_DMIGuidList);
    FreeMem(YOZ_pReSourceBuff);
    YOZ_pReSourceBuff = nullptr;
    YOZ_ReSourceSize = 0;
    YOZ_RomLayout_Clear(&YOZ_RomFileLayout);
}

UINT8 YOZ_RomFile_Var_Release() {
    YOZ_FvWalk_ClearDmiList(gYOZ_RomFile_DMIGuidList);
    return 1;
}

UINT8 YOZ_RomFile_IsFileWord(const char* name) {
    if (name == nullptr) return 0;
    if (strcmp(name, kEmbeddedImageName) == 0) return 1;
    struct stat st;
    return stat(name, &st) == 0 && !S_ISDIR(st.st_mode) ? 1 : 0;
}

void YOZ_RomFile_SetFileEnable(char* name) { YOZ_bHaveFileName = YOZ_RomFile_IsFileWord(name); }

UINT8 YOZ_RomFile_GetFileEnable() { return YOZ_bHaveFileName; }
UINT8 YOZ_RomFile_IsLoad() { return YOZ_OpenFileOK; }
UINT8* YOZ_RomFile_GetBuffer() { return YOZ_pOpenFileBuff; }
UINT32 YOZ_RomFile_Size() { return YOZ_OpenFileSize; }

static bool HaveEmbeddedImage() { return YOZ_bZOZLoadFileOK && YOZ_pOpenFileBuff != nullptr && YOZ_OpenFileSize != 0; }

// No image of this flash is larger than the flash twice over (the BIOS and
// an ME volume as large as the part) behind a capsule header: a larger file
// is refused by the size of the open file, before it is read.
static bool LargerThanAnyImage(const char* name) {
    if (gRomSize == 0) return false;
    FILE* stream = TKX_OpenRegularFile(name);
    if (stream == nullptr) return false;
    UINT64 size = TKX_GetFileSize(stream);
    fclose(stream);
    const UINT64 kLargestCapsuleHeader = 0xFFFF;
    return size != TKX_FILE_SIZE_UNKNOWN && size > 2ull * gRomSize + kLargestCapsuleHeader;
}

ENUM_ERR_ID YOZ_RomFile_LoadToBuff() {
    if (YOZ_OpenFileOK) return eEID_NO_ERROR;
    if (YOZ_pFileName != nullptr && strcmp(YOZ_pFileName, kEmbeddedImageName) == 0) {
        // The trailer reader has placed the embedded image already.
        YOZ_OpenFileOK = 1;
        return eEID_NO_ERROR;
    }
    if (YOZ_pFileName == nullptr) {
        if (!HaveEmbeddedImage()) return eEID_OPEN_IN_FILE;
        YOZ_OpenFileOK = 1;
        return eEID_NO_ERROR;
    }
    bool embedded = HaveEmbeddedImage();
    UINT8* data = nullptr;
    UINT32 size = 0;
    bool tooLarge = LargerThanAnyImage(YOZ_pFileName);
    ENUM_ERR_ID status = tooLarge ? eEID_WRONG_ROM_FILE_SIZE : QueryFileHub(YOZ_pFileName, &data, size);
    if (status == eEID_NO_ERROR) {
        YOZ_pOpenFileBuff = data;
        YOZ_OpenFileSize = size;
        YOZ_OpenFileOK = 1;
        return eEID_NO_ERROR;
    }
    if (!embedded) return tooLarge ? status : eEID_OPEN_IN_FILE;
    // The embedded image stays in place.
    YOZ_OpenFileOK = 1;
    return status;
}
