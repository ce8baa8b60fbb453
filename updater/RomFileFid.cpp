// Firmware ID of the image: "$FID" finders, the ROM-ID check with the
// firmware's verdict, and the OEM activation key warning.
#include <cstring>
#include "RomInfo.h"
#include "RomScan.h"
#include "TKXOutput.h"
#include "TKXPhysMem.h"
#include "YozOptionStore.h"
#include "YozRomFile.h"
#include "YozSysRom.h"
#include "ZoktRomId.h"

#define FID_SEARCH_SPAN 130u
#define FID_PROJECT_ID_MAX 8u

static const UINT8 kFidVer4[5] = {'$', 'F', 'I', 'D', 4};

UINT32 YOZ_RomFile_FindImageFidOffset(UINT8* image) {
    UINT32 limit = RomScan_Limit(image);
    UINT32 from = RomScan_FidFileOffset(image, limit);
    UINT32 at = RomScan_Find(image, limit, from, kFidVer4, sizeof(kFidVer4));
    YOZ_FidFileOffset = (at == ROMSCAN_NONE) ? 0 : at;
    return YOZ_FidFileOffset;
}

UINT8* YOZ_RomFile_GetVer4Fid(UINT8* image) {
    UINT32 limit = RomScan_Limit(image);
    UINT32 at = YOZ_RomFile_FindImageFidOffset(image);
    if (at == 0) return nullptr;
    UINT32 size = RomScan_FidRecordSize(image + at, limit - at);
    if (size == 0) return nullptr;
    UINT8* copy = AllocMem(size);
    if (copy == nullptr) return nullptr;
    memcpy(copy, image + at, size);
    FreeMem(YOZ_pFileFIDVer4);
    YOZ_pFileFIDVer4 = copy;
    return copy;
}

UINT32 YOZ_RomFile_GetCheckSumOffset() { return YOZ_ImageFidCheckSumOffset; }

void YOZ_RomFile_SetCheckRomID(UINT8 on) { YOZ_CheckOEMRomIDFlag = on; }

void YOZ_RomFile_SetCheckRomIDCount(UINT8 fixed, UINT8 count) {
    YOZ_CheckRomIDNFlag = fixed;
    YOZ_CheckRomIDCount = count;
}

// A piece the firmware wants and the file does not hold cannot match.
ENUM_ERR_ID YOZ_RomFile_ZOKT_CheckRomID(UINT8* image) {
    UINT16 returnStatus = 0;
    UINT8 checked = ZOKT_RomID_Check(image, RomScan_Limit(image), returnStatus);
    if (checked == ZOKT_ROMID_PIECE_UNAVAILABLE) return eEID_ROM_ID_MISMATCH;
    if (checked != ZOKT_ROMID_CHECKED) return eEID_NO_ERROR;
    const char* text = ZOKT_RomID_Check_ReString();
    if (text != nullptr) WriteOut("%s", text);
    if (returnStatus & 0x08) {
        if (returnStatus & 0x10) ErrorOut = YOZ_OEM_ErrorPrintf;
        return eEID_ROM_ID_MISMATCH;
    }
    return eEID_NO_ERROR;
}

ENUM_ERR_ID YOZ_RomFile_CheckRomID(UINT8* image, UINT32 size) {
    if (size != gRomSize) return eEID_WRONG_ROM_FILE_SIZE;
    ENUM_ERR_ID verdict = YOZ_RomFile_ZOKT_CheckRomID(image);
    if (verdict != eEID_NO_ERROR) return verdict;
    if (!YOZ_CheckOEMRomIDFlag) return eEID_NO_ERROR;

    UINT32 fileAt = RomScan_FidFileOffset(image, size);
    // The record's project ID and GUID (32 bytes) must lie in the image.
    UINT32 spanEnd = (size - fileAt > FID_SEARCH_SPAN) ? fileAt + FID_SEARCH_SPAN : size;
    UINT32 at = RomScan_Find(image, spanEnd, fileAt, "$FID", 4);
    if (at == ROMSCAN_NONE || size - at < 32) return eEID_WRONG_ROM_FILE_ID;

    UINT32 length = YOZ_CheckRomIDNFlag ? YOZ_CheckRomIDCount
                                        : (g_OnBoardROMProjectIDLength == 0xFF ? 5 : g_OnBoardROMProjectIDLength);
    if (length > FID_PROJECT_ID_MAX) length = FID_PROJECT_ID_MAX;
    if (memcmp(image + at + 16, g_FwGuid, 16) != 0) return eEID_WRONG_ROM_FILE_ID;
    if (memcmp(image + at + 7, g_FwId, length) != 0) return eEID_WRONG_ROM_FILE_ID;
    return eEID_NO_ERROR;
}

UINT8 YOZ_RomFile_CheckOAKey() {
    if (!YOZ_SysRom_CheckOAKeyInRom()) return 1;
    if (YOZ_pOpenFileBuff != nullptr && YOZ_RomFile_FindImageFidOffset(YOZ_pOpenFileBuff) != 0) return 1;
    WriteOut("WARNING !\n");
    WriteOut("This Image file doesn't match current System design!\n");
    WriteOut("Force update it will destroy the System's Activation Key.\n");
    WriteOut("We do not recommend flashing your BIOS.\n");
    // Only a "Y" the operator typed gives the key up; quiet mode and the
    // default answer go on without that.
    bool typed = !YOZ_GetQuietCmdIsEnable() && !YOZ_GetDefAnsCmdIsEnable();
    if (YOZ_PromptForceUpdate() == 1) return 0;
    if (typed) YOZ_SetOAKeyForced(1);
    return 1;
}
