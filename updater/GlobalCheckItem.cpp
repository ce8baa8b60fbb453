// The global check item (module slot 40): takes the ROM file name from word
// 1 when it parses, and runs the pre-flash pipeline when it executes: the
// firmware's state, the password, the flash copy and its census, the image
// load, its ME, capsule and secure-flash forms, and the checks the active
// modules asked for in their check records. The first error ends the run.
#include "RomInfo.h"
#include "SecureFlash.h"
#include "TKXPhysMem.h"
#include "YozFlash.h"
#include "YozGlobal.h"
#include "YozModeFilter.h"
#include "YozOptionStore.h"
#include "YozRomFile.h"
#include "YozSysRom.h"
#include "ZoktEc.h"
#include "ZoktFormat.h"
#include "ZoktMe.h"

static TKX_QUEUE_ITEM s_GlobalCheckItem;

static const UINT16 kGlobalCheckOrderKey = 20021;
static const UINT8 kGlobalCheckModeMask = YOZ_MODE_NORMAL | YOZ_MODE_2X2 | YOZ_MODE_FTF;

ENUM_ERR_ID GlobalCheck_ZOKTVersion() {
    Zokt_GetVer();
    if (Zokt_RS_DIS_OEMSTR()) WriteOut(" %s \n", Zokt_GetOEMString());
    if (Zokt_GetRS_ERR_OUT()) {
        // The firmware's own error text, when it gave one, stands for the error line.
        if (Zokt_RS_DIS_OEMSTR()) ErrorOut = YOZ_OEM_ErrorPrintf;
        return eEID_ZOKT_OEM_ERROR;
    }
    return eEID_NO_ERROR;
}

ENUM_ERR_ID GlobalCheck_ZOKT_EC_Battery_Status() {
    if (!YOZ_SysRom_EC_CheckStatus()) return eEID_ZOKT_OEM_ERROR;
    if (!ZOKT_ECB_Check()) return ZOKT_ECB_Check_GetLastErrorID();
    return eEID_NO_ERROR;
}

static UINT8 s_FirmwareStatePassed = 0;

void YOZ_GlobalCheck_ResetGates() { s_FirmwareStatePassed = 0; }

// Steps 1 and 2, once a run.
static ENUM_ERR_ID FirmwareState() {
    if (s_FirmwareStatePassed) return eEID_NO_ERROR;
    ENUM_ERR_ID status = GlobalCheck_ZOKTVersion();
    if (status == eEID_NO_ERROR && !YOZ_Get_JumpBatteryCheckStatus()) status = GlobalCheck_ZOKT_EC_Battery_Status();
    s_FirmwareStatePassed = status == eEID_NO_ERROR;
    return status;
}

ENUM_ERR_ID YOZ_GlobalCheck_Gates() {
    ENUM_ERR_ID status = FirmwareState();
    return status != eEID_NO_ERROR ? status : YOZ_SysRom_CheckPW();
}

// Active records: published, and their module's enabled byte reads 1.
static CHECK_FUNC_ITEM* ActiveRecord(UINT32 slot) {
    CHECK_FUNC_ITEM* record = YOZ_GlobalCheck_Record(slot);
    if (record == nullptr || record->enabled == nullptr || *record->enabled != 1) return nullptr;
    return record;
}

enum RecordNeed { NEED_FILE, NEED_FILE_PROCESSING, NEED_CHECKSUM, NEED_ROMID };

static bool AnyActiveNeeds(RecordNeed need) {
    for (UINT32 slot = 0; slot < YOZ_CHECK_RECORD_SLOTS; ++slot) {
        CHECK_FUNC_ITEM* record = ActiveRecord(slot);
        if (record == nullptr) continue;
        UINT8 value = need == NEED_FILE              ? record->needsFile
                      : need == NEED_FILE_PROCESSING ? record->needsFileProcessing
                      : need == NEED_CHECKSUM        ? record->needsFfsChecksum
                                                     : record->needsRomIdCheck;
        if (value != 0) return true;
    }
    return false;
}

// The regions the run is to write must be in the block table: a region
// without blocks would be "done" with nothing written. In 2+2 mode the
// boot-block and main-BIOS words flash nothing; in capsule and recovery
// mode the firmware does the work.
static ENUM_ERR_ID RegionsPresent() {
    if (YOZ_GetCapsuleMode() || YOZ_GetRecoveryMode()) return eEID_NO_ERROR;
    const struct {
        UINT8 (*asked)();
        UINT32 (*regions)();
        UINT8 skippedIn2x2;
    } regions[] = {
        {YOZ_GetBCmdIsEnable, YOZ_SysRom_GetBootBlockRgNumber, 1},
        {YOZ_GetPCmdIsEnable, YOZ_SysRom_GetMainBlockRgNumber, 1},
        {YOZ_GetB2CmdIsEnable, YOZ_SysRom_GetBootBlockRgNumber, 0},
        {YOZ_GetNCmdIsEnable, YOZ_SysRom_GetNVRamBlockRgNumber, 0},
    };
    for (const auto& r : regions) {
        if (r.skippedIn2x2 && YOZ_GetEMMC_2x2_Mode()) continue;
        if (r.asked() == 1 && r.regions() == 0) return eEID_NO_BIOS_SUPPORT;
    }
    return eEID_NO_ERROR;
}

// Step 4: the flash copy, its protected files and its firmware ID. Holes and
// non-critical runs share 16 places; more than the block table alone can
// hold stops the run before the flash is read.
static ENUM_ERR_ID ReadSystemRom() {
    if (YOZ_SysNCBCnt > YOZ_MAX_ROMHOLE) return eEID_NON_CRITICAL_BLOCK;
    UINT8* copy = YOZ_SysRom_GetBuffer();
    ENUM_ERR_ID status = YOZ_SysRom_LastError();
    if (status != eEID_NO_ERROR) return status;
    if (copy == nullptr) return eEID_MEM_ALLOC;
    if (!YOZ_SysRom_SearchNCB(copy) && YOZ_SysRom_GetRomHoleNumber() + YOZ_SysNCBCnt > YOZ_MAX_ROMHOLE) {
        return eEID_NON_CRITICAL_BLOCK;
    }
    YOZ_SysRom_GetVer4Fid(copy);
    return eEID_NO_ERROR;
}

// Step 8: the ME part of the image.
ENUM_ERR_ID YOZ_GlobalCheck_SplitMePart(UINT8 systemHasMe, UINT8* fileHasMe) {
    if (fileHasMe != nullptr) *fileHasMe = 0;
    UINT8* image = YOZ_pOpenFileBuff;
    UINT32 size = YOZ_OpenFileSize;
    YOZ_pMEBuff = image;
    YOZ_MESize = size;
    if (YOZ_RomFile_CheckME_FV(image, size)) {
        YOZ_RomFile_GetME_FV_BIOSAddrSeting(&image, &size, &YOZ_pMEBuff, &YOZ_MESize);
        YOZ_pOpenFileBuff = image;
        YOZ_OpenFileSize = size;
        return eEID_NO_ERROR;
    }
    // A signed single binary holds its ME part behind the capsule header;
    // the capsule forms hand the signed file on as it is.
    UINT8* signedPart = FLASH_IsSecureFlashSupported() && !YOZ_GetCapsuleMode() && !YOZ_GetRecoveryMode()
                            ? FLASH_ExtractRomImageFromCapsule(image, size)
                            : nullptr;
    if (systemHasMe && signedPart != nullptr) {
        UINT32 signedSize = size - static_cast<UINT32>(signedPart - image);
        if (ZOKT_ME_HasDescriptor(signedPart, signedSize)) {
            image = signedPart;
            size = signedSize;
            YOZ_pMEBuff = image;
            YOZ_MESize = size;
        }
    }
    if (systemHasMe && YOZ_RomFile_CheckMEData(image, size)) {
        if (fileHasMe != nullptr) *fileHasMe = 1;
        UINT8* bios = image;
        UINT32 biosSize = size;
        if (!YOZ_RomFile_GetNewBiosInfo(&bios, biosSize)) return ZOKT_ME_GetLastError();
    }
    return eEID_NO_ERROR;
}

// Step 9: capsule header, embedded capsule file and the secure-flash image.
void YOZ_GlobalCheck_TakeCapsuleForms() {
    YOZ_bCapHead = 0;
    YOZ_bNewCapFile = 0;
    UINT8* image = YOZ_pOpenFileBuff;
    UINT32 size = YOZ_OpenFileSize;
    YOZ_bNewCapFile = YOZ_RomFile_CheckNewCAPGUID(image, size);
    if (!FLASH_IsSecureFlashSupported()) {
        if (YOZ_RomFile_CheckCapHeader(image, size) || YOZ_bNewCapFile) YOZ_bCapHead = 1;
        return;
    }
    if (YOZ_GetSecureFlashStatus() && size == gRomSize) {
        bool capsuleMode = YOZ_GetCapsuleMode() || YOZ_GetRecoveryMode();
        if (YOZ_bNewCapFile && !capsuleMode) {
            YOZ_RomFile_ResetCAPFileHead(&image, &size);
        } else if (capsuleMode) {
            YOZ_bCapHead = 1;
        }
    }
    YOZ_pSecureFileBuff = image;
    YOZ_SecureFileSize = size;
    if (YOZ_RomFile_CheckCapHeader(image, size)) {
        YOZ_bCapHead = 1;
        YOZ_RomFile_GetNoSecureHeadRom(&image, &size);
    }
    YOZ_pOpenFileBuff = image;
    YOZ_OpenFileSize = size;
}

// Step 10: size, checksum, block and ROM-ID checks the active records ask for.
static ENUM_ERR_ID RunRecordChecks() {
    if (YOZ_OpenFileSize == gRomSize) YOZ_RomFileSizeStatus = 0;
    else YOZ_RomFileSizeStatus = YOZ_OpenFileSize < gRomSize ? -1 : 1;

    for (UINT32 slot = 0; slot < YOZ_CHECK_RECORD_SLOTS; ++slot) {
        CHECK_FUNC_ITEM* record = ActiveRecord(slot);
        if (record == nullptr || record->CheckRomFunc == nullptr) continue;
        ENUM_ERR_ID status = record->CheckRomFunc(YOZ_RomFileSizeStatus);
        if (status != eEID_NO_ERROR) return status;
    }
    // A record may rewrite itself in its size check, so its wishes are read now.
    if (AnyActiveNeeds(NEED_CHECKSUM)) {
        WriteOut(" - FFS checksums ......... ");
        if (!YOZ_RomFile_CheckSum(YOZ_pOpenFileBuff, YOZ_OpenFileSize)) {
            WriteOut("bad\n");
            return eEID_BIOS_CHECKSUM;
        }
        WriteOut("ok\n");
    }
    if (!YOZ_GetEMMC_2x2_Mode()) {
        for (UINT32 slot = 0; slot < YOZ_CHECK_RECORD_SLOTS; ++slot) {
            CHECK_FUNC_ITEM* record = ActiveRecord(slot);
            if (record == nullptr || record->CheckBlockFunc == nullptr) continue;
            ENUM_ERR_ID status = record->CheckBlockFunc();
            if (status != eEID_NO_ERROR) return status;
        }
    }
    if (AnyActiveNeeds(NEED_ROMID)) return YOZ_RomFile_CheckRomID(YOZ_pOpenFileBuff, YOZ_OpenFileSize);
    return eEID_NO_ERROR;
}

ENUM_ERR_ID YOZ_GlobalCheck_Pipeline() {
    ENUM_ERR_ID status = FirmwareState();
    if (status != eEID_NO_ERROR) return status;

    YOZ_SysRom_GetBlockInfo();
    status = RegionsPresent();
    if (status != eEID_NO_ERROR) return status;
    status = YOZ_SysRom_CheckPW();
    if (status != eEID_NO_ERROR) return status;

    if (!YOZ_GetEMMC_2x2_Mode()) {
        status = ReadSystemRom();
        if (status != eEID_NO_ERROR) return status;
    }

    if (!YOZ_GetMLAP_FTF_isExist() && !YOZ_GetMLAP_APL_isExist()) YOZ_bHaveME = YOZ_SysRom_CheckMESupport();

    ENUM_ERR_ID loaded = YOZ_RomFile_LoadToBuff();
    YOZ_pOriginalRomBuff = YOZ_RomFile_GetBuffer();
    YOZ_OriginalRomSize = YOZ_RomFile_Size();
    bool needsFile = AnyActiveNeeds(NEED_FILE);

    if (YOZ_pOriginalRomBuff == nullptr || YOZ_OriginalRomSize == 0) {
        if (!needsFile) return eEID_NO_ERROR;
        return loaded != eEID_NO_ERROR ? loaded : eEID_WRONG_ROM_FILE_SIZE;
    }
    // A load that went wrong ends the run even when an image is in place.
    if (loaded != eEID_NO_ERROR) return loaded;

    if (YOZ_bHaveME) {
        status = YOZ_GlobalCheck_SplitMePart(1, nullptr);
        if (status != eEID_NO_ERROR) return status;
    }

    YOZ_GlobalCheck_TakeCapsuleForms();

    // A flash-size file given to a command that needs a file still gets
    // its own size check.
    if (needsFile || AnyActiveNeeds(NEED_FILE_PROCESSING)) return RunRecordChecks();
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID GlobalCheckParse(TKXArgvList& args, TKX_QUEUE_ITEM* self) {
    if (!YOZ_ModeTakesPart(self->ModeMask)) return eEID_NO_ERROR;
    YOZ_FlashStep = YOZ_FLASH_STEP_ALL;
    self->Enabled = 1;
    if (args.size() >= 2) {
        char* word = args[1]->text;
        YOZ_RomFile_SetFileEnable(word);
        if (YOZ_RomFile_GetFileEnable()) {
            args[1]->claimed = 1;
            YOZ_pFileName = word;
        }
    }
    // The whole-ROM module loads and checks its image itself.
    if (YOZ_GetGANCmdIsEnable() && args.size() <= 3) self->Enabled = 0;
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID GlobalCheckExecute(TKXQueueItemList&) {
    if (!YOZ_ModeTakesPart(s_GlobalCheckItem.ModeMask)) return eEID_NO_ERROR;
    return YOZ_GlobalCheck_Pipeline();
}

static void GlobalCheckHelp(UINT8) { YOZ_ModeTakesPart(s_GlobalCheckItem.ModeMask); }

ENUM_ERR_ID RegisterYozGlobalCheckQueueItem(TKXQueueItemList& items) {
    s_GlobalCheckItem = TKX_QUEUE_ITEM{eMID_YOZGLOBALCHECK, GlobalCheckParse, GlobalCheckExecute, GlobalCheckHelp,
                                       nullptr, 0, 0, kGlobalCheckOrderKey, kGlobalCheckModeMask, 0};
    items.push_back(&s_GlobalCheckItem);
    YOZ_RomFileSizeStatus = -2;
    return eEID_NO_ERROR;
}
