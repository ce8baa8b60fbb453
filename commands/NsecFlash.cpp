// "/EC": the ROM file is an EC image ("$NUVEC" header) that the firmware's EC
// flash interface programs into the controller page by page. The flash
// interface is closed while the controller is in flash mode.
#include "FlashBlock.h"
#include "TKXString.h"
#include "HuxCoreHooks.h"
#include "YozEcStages.h"
#include "YozGlobal.h"
#include "YozOptionStore.h"
#include "YozRomFile.h"
#include "YozSwitchMode.h"
#include "YozSysRom.h"
#include "ZoktEc.h"

static TKX_QUEUE_ITEM NSECFlashQueueItem;
static CHECK_FUNC_ITEM NSECCheckFunc;
CHECK_FUNC_ITEM* PtrNSECCheckFunc = nullptr;
static YOZ_STAGE_SLOTS s_Slots;
ZOKT_EC_HDR_STRUCT gNSEC_RomFileEcHdr;
UINT16 gNSECF_ECChipID = 0;
static UINT8 s_ProgressOpen = 0;   // a progress line waits for its end

static const UINT32 kWriteAttempts = 5;

static void NSEC_CallBack_ECWrite(UINT32 done, UINT32 total, UINT32) {
    if (total == 0) return;
    if (done < total) {
        WriteOut(" Updating EC Block ...... 0x%08lX (%d%%) \r", static_cast<unsigned long>(done),
                 static_cast<int>(static_cast<UINT64>(done) * 100 / total));
        s_ProgressOpen = 1;
    } else {
        WriteOut(" Updating EC Block ...... done                \n");
        s_ProgressOpen = 0;
    }
}

// Up to five attempts of the whole image, each failed one followed by the
// retry notice.
static ENUM_ERR_ID NSEC_Flash_Write(UINT8* data, UINT32 size) {
    for (UINT32 attempt = 0; attempt < kWriteAttempts; ++attempt) {
        if (EC_WriteBlk(gNSECF_ECChipID, size, data, NSEC_CallBack_ECWrite) == eEID_NO_ERROR) return eEID_NO_ERROR;
        EC_ReTryBlk(gNSECF_ECChipID, data);
    }
    // The error line starts on a line of its own.
    if (s_ProgressOpen) WriteOut("\n");
    s_ProgressOpen = 0;
    return eEID_WRITE_FLASH;
}

static ENUM_ERR_ID NSEC_ZOKTCheck() { return YOZ_SysRom_EC_CheckStatus() ? eEID_NO_ERROR : eEID_EC_STOP; }

static ENUM_ERR_ID NSEC_OpenRomFileFunc() {
    ENUM_ERR_ID status = YOZ_RomFile_LoadToBuff();
    if (status == eEID_NO_ERROR) status = YOZ_Ec_CheckImage(YOZ_RomFile_GetBuffer(), YOZ_OpenFileSize, &gNSEC_RomFileEcHdr);
    if (status == eEID_NO_ERROR) gNSECF_ECChipID = gNSEC_RomFileEcHdr.ChipId;
    return status;
}

// A run that ends before the first page takes the controller out of the
// flash mode again; after pages it stays there (leaving would start a ROM
// that is not whole).
static ENUM_ERR_ID NSEC_ZOKTFunc() {
    YOZ_Ec_Started(gNSECF_ECChipID, 0);
    ENUM_ERR_ID status = EC_EnterFlashMode(gNSECF_ECChipID);
    if (status == eEID_NO_ERROR) status = NSEC_Flash_Write(YOZ_RomFile_GetBuffer(), YOZ_OpenFileSize);
    if (status == eEID_NO_ERROR) status = EC_LeaveFlashMode(gNSECF_ECChipID);
    if (status == eEID_NO_ERROR) YOZ_Ec_Left();
    return status;
}

static void ResetState() {
    MemSet(&gNSEC_RomFileEcHdr, 0, sizeof(gNSEC_RomFileEcHdr));
    gNSECF_ECChipID = 0;
    s_ProgressOpen = 0;
    s_Slots = YOZ_STAGE_SLOTS{};
    s_Slots.ZOKTCheck = NSEC_ZOKTCheck;
    s_Slots.OpenFileFunc = NSEC_OpenRomFileFunc;
    s_Slots.ZOKTFunc = NSEC_ZOKTFunc;
}

static ENUM_ERR_ID NsecParse(TKXArgvList& args, TKX_QUEUE_ITEM* self) {
    return YOZ_Ec_ParseWord(self, args, "/EC", ResetState, YOZ_SetNSECCmdIsEnable);
}

// The flash interface is closed around the controller's flash mode, and
// reopened after every run of the stages, failed or not.
static ENUM_ERR_ID NsecExecute(TKXQueueItemList&) {
    if (!YOZ_ModuleRuns(NSECFlashQueueItem)) return eEID_NO_ERROR;
    ENUM_ERR_ID result = YOZ_PreFlash_Run();
    if (result == eEID_NO_ERROR) result = YOZ_RunStages(s_Slots, "L Z O P F");
    CleanFlashIfc();
    if (result == eEID_NO_ERROR) result = YOZ_RunStages(s_Slots, "ZF");
    EnableFlashIfc();
    return result;
}

// The "$ECB" status and the EC image checked before the run's first erase.
static ENUM_ERR_ID NsecPreFlash(const void*) { return YOZ_Ec_PreFlash(NSECFlashQueueItem, s_Slots, nullptr); }

static void NsecHelp(UINT8 pass) {
    YOZ_Ec_Help(NSECFlashQueueItem, pass, "/EC",
                "|%*s - Program Embedded Controller Block. (Flash Type)              |\n");
}

ENUM_ERR_ID RegisterNSECFlashQueueItem(TKXQueueItemList& items) {
    NSECFlashQueueItem = TKX_QUEUE_ITEM{eMID_NSECFLASH, NsecParse, NsecExecute, NsecHelp, nullptr, 0, 0, 0x801F,
                                        YOZ_MODE_NORMAL, 0};
    NSECCheckFunc = CHECK_FUNC_ITEM{YOZ_Ec_NotLargerCheck, nullptr, 1, 0, 0, 0, 0, 0, &NSECFlashQueueItem.Enabled};
    YOZ_PreFlash_Join(&NSECFlashQueueItem.Enabled, NsecPreFlash, nullptr);
    return YOZ_Ec_Register(items, &NSECFlashQueueItem, "/EC", &NSECCheckFunc, &PtrNSECCheckFunc, ResetState);
}
