// "/ECUF": rewrites the EC block of the flash from the ROM image, as "/E"
// does, but only when the image's EC firmware is newer than the system's.
// A firmware that flashes only signed images takes the EC block as "/E"
// hands it over: inside a runtime session of the EC area, from a signed
// image.
#include "HuxCoreHooks.h"
#include "YozEcProc.h"
#include "YozEcStages.h"
#include "YozGlobal.h"
#include "YozOptionStore.h"
#include "YozRomFile.h"
#include "YozSwitchMode.h"
#include "YozSysRom.h"

static TKX_QUEUE_ITEM SECUFlashQueueItem;
static CHECK_FUNC_ITEM ECUFCheckFunc;
CHECK_FUNC_ITEM* PtrECUFCheckFunc = nullptr;
static YOZ_STAGE_SLOTS s_Slots;
UINT32 gSECUF_ECBlockAddr = 0, gSECUF_ECBlockSize = 0;
UINT8 gSECUF_ECFileIsNewVer = 0;

static ENUM_ERR_ID SECUF_SecureFlashFunc();
// Flashed straight from the image: the OEM-key rule of the descriptor plays
// no part. Its runtime session is that of "/E": policy byte 0, the EC area.
static const YOZ_REGION_FLASH kFlash = {&YOZ_SECUFProc, &SECUFlashQueueItem, &s_Slots, YOZ_BLOCK_EC,
                                        YOZ_OAKEY_BOOT2, 0, SECUF_SecureFlashFunc};

static ENUM_ERR_ID SECUF_CheckBlockFunc() {
    if (!YOZ_SysRom_GetShareECBlockInfo(gSECUF_ECBlockAddr, gSECUF_ECBlockSize)) return YOZ_Ec_NoBlock(s_Slots);
    // A platform that flashes only signed images gets no unsigned one.
    return YOZ_SecureFlashFileCheck();
}

static ENUM_ERR_ID SECUF_ProcShareEcFlashBuffFunc() { return YOZ_RegionFlash_ProcessImage(kFlash); }
static ENUM_ERR_ID SECUF_FlashFunc() { return YOZ_RegionFlash_FlashImage(kFlash); }
static ENUM_ERR_ID SECUF_SecureFlashFunc() { return YOZ_RegionFlash_SecureFlash(kFlash); }

static ENUM_ERR_ID SECUF_OpenRomFileFunc() {
    ENUM_ERR_ID status = YOZ_RomFile_LoadToBuff();
    if (status == eEID_NO_ERROR) status = YOZ_Ec_ImageCoversBlock(gSECUF_ECBlockAddr, gSECUF_ECBlockSize);
    UINT8* image = YOZ_RomFile_GetBuffer();
    ZOKT_EC_HDR_STRUCT header;
    if (status == eEID_NO_ERROR) status = YOZ_Ec_CheckImage(image, YOZ_OpenFileSize, &header);
    if (status != eEID_NO_ERROR) return status;
    // The "$ECB" header decides which word is compared; it is read here
    // when the battery step was skipped ("/jbc").
    YOZ_SysRom_EC_ECBIDFlag();
    status = SECUF_EC_CheckBIOSVer(image, YOZ_OpenFileSize, reinterpret_cast<const ECBHdr*>(YOZ_pEcbHdr),
                                   gSECUF_ECFileIsNewVer);
    if (status != eEID_NO_ERROR) return status;
    if (gSECUF_ECFileIsNewVer) {
        s_Slots.ProcessFunc = SECUF_ProcShareEcFlashBuffFunc;
        return eEID_NO_ERROR;
    }
    WriteOut(" Embedded Controller in system is newer than in ROM file.  EC not updated.\n");
    s_Slots.ProcessFunc = nullptr;
    s_Slots.FlashFunc = nullptr;
    return eEID_NO_ERROR;
}

static void ResetState() {
    SECUF_FuncVar_Init();
    gSECUF_ECBlockAddr = gSECUF_ECBlockSize = 0;
    gSECUF_ECFileIsNewVer = 0;
    s_Slots = YOZ_STAGE_SLOTS{};
    s_Slots.OpenFileFunc = SECUF_OpenRomFileFunc;
    s_Slots.FlashFunc = SECUF_FlashFunc;
}

static ENUM_ERR_ID SecufParse(TKXArgvList& args, TKX_QUEUE_ITEM* self) {
    return YOZ_Ec_ParseWord(self, args, "/ECUF", ResetState, YOZ_SetSECUFCmdIsEnable);
}

static ENUM_ERR_ID SecufExecute(TKXQueueItemList&) {
    return YOZ_RunWritingStages(SECUFlashQueueItem, s_Slots, YOZ_ORDER_FLASH);
}

// The image's EC checked and compared before the run's first erase.
static ENUM_ERR_ID SecufPreFlash(const void*) { return YOZ_Ec_PreFlash(SECUFlashQueueItem, s_Slots, &kFlash); }

static void SecufHelp(UINT8 pass) {
    YOZ_Ec_Help(SECUFlashQueueItem, pass, "/ECUF",
                "|%*s - Update EC BIOS when newer version is detected.               |\n");
}

ENUM_ERR_ID RegisterSECUFlashQueueItem(TKXQueueItemList& items) {
    SECUFlashQueueItem = TKX_QUEUE_ITEM{eMID_SECUFLASH, SecufParse, SecufExecute, SecufHelp, nullptr, 0, 0, 0x3FFD,
                                        YOZ_MODE_NORMAL, 0};
    ECUFCheckFunc =
        CHECK_FUNC_ITEM{YOZ_RegionOpen_SizeCheck, SECUF_CheckBlockFunc, 1, 1, 1, 1, 1, 1, &SECUFlashQueueItem.Enabled};
    YOZ_PreFlash_Join(&SECUFlashQueueItem.Enabled, SecufPreFlash, nullptr);
    return YOZ_Ec_Register(items, &SECUFlashQueueItem, "/ECUF", &ECUFCheckFunc, &PtrECUFCheckFunc, ResetState);
}
