// "/E": rewrites the EC block of the flash (block type 3) from the same
// addresses of the ROM image through the flash engine; on a secure-flash
// platform inside a runtime session of the EC area.
#include "HuxCoreHooks.h"
#include "YozEcProc.h"
#include "YozEcStages.h"
#include "YozGlobal.h"
#include "YozOptionStore.h"
#include "YozSwitchMode.h"
#include "YozSysRom.h"

static TKX_QUEUE_ITEM SECFlashQueueItem;
static CHECK_FUNC_ITEM SECCheckFunc;
CHECK_FUNC_ITEM* PtrSECCheckFunc = nullptr;
static YOZ_STAGE_SLOTS s_Slots;
UINT32 gSEC_ECBlockAddr = 0, gSEC_ECBlockSize = 0;

static ENUM_ERR_ID SEC_SecureFlashFunc();
// Flashed straight from the image: the OEM-key rule of the descriptor plays no part.
static const YOZ_REGION_FLASH kFlash = {&YOZ_SECProc, &SECFlashQueueItem, &s_Slots, YOZ_BLOCK_EC,
                                        YOZ_OAKEY_BOOT2, 0, SEC_SecureFlashFunc};

static ENUM_ERR_ID SEC_CheckBlockFunc() {
    if (!YOZ_SysRom_HaveECBlock()) return YOZ_Ec_NoBlock(s_Slots);
    gSEC_ECBlockAddr = YOZ_SysRom_GetECBlockStartAddress(0);
    gSEC_ECBlockSize = YOZ_SysRom_ECBlockSize(0);
    // A platform that flashes only signed images gets no unsigned one.
    return YOZ_SecureFlashFileCheck();
}

static ENUM_ERR_ID SEC_OpenRomFileFunc() { return YOZ_Ec_ImageCoversBlock(gSEC_ECBlockAddr, gSEC_ECBlockSize); }
static ENUM_ERR_ID SEC_ProcShareEcFlashBuffFunc() { return YOZ_RegionFlash_ProcessImage(kFlash); }
static ENUM_ERR_ID SEC_FlashFunc() { return YOZ_RegionFlash_FlashImage(kFlash); }
static ENUM_ERR_ID SEC_SecureFlashFunc() { return YOZ_RegionFlash_SecureFlash(kFlash); }

static void ResetState() {
    SEC_FuncVar_Init();
    gSEC_ECBlockAddr = gSEC_ECBlockSize = 0;
    s_Slots = YOZ_STAGE_SLOTS{};
    s_Slots.OpenFileFunc = SEC_OpenRomFileFunc;
    s_Slots.ProcessFunc = SEC_ProcShareEcFlashBuffFunc;
    s_Slots.FlashFunc = SEC_FlashFunc;
}

static ENUM_ERR_ID SecParse(TKXArgvList& args, TKX_QUEUE_ITEM* self) {
    return YOZ_Ec_ParseWord(self, args, "/E", ResetState, YOZ_SetSECCmdIsEnable);
}

static ENUM_ERR_ID SecExecute(TKXQueueItemList&) { return YOZ_RunWritingStages(SECFlashQueueItem, s_Slots, YOZ_ORDER_FLASH); }

// The image checked against the EC block before the run's first erase.
static ENUM_ERR_ID SecPreFlash(const void*) { return YOZ_Ec_PreFlash(SECFlashQueueItem, s_Slots, &kFlash); }

static void SecHelp(UINT8 pass) {
    YOZ_Ec_Help(SECFlashQueueItem, pass, "/E", "|%*s - Program Embedded Controller Block                            |\n");
}

ENUM_ERR_ID RegisterSECFlashQueueItem(TKXQueueItemList& items) {
    SECFlashQueueItem = TKX_QUEUE_ITEM{eMID_SECFLASH, SecParse, SecExecute, SecHelp, nullptr, 0, 0, 0x3FFD,
                                       YOZ_MODE_NORMAL, 0};
    SECCheckFunc = CHECK_FUNC_ITEM{YOZ_RegionOpen_SizeCheck, SEC_CheckBlockFunc, 1, 1, 1, 1, 1, 1, &SECFlashQueueItem.Enabled};
    YOZ_PreFlash_Join(&SECFlashQueueItem.Enabled, SecPreFlash, nullptr);
    return YOZ_Ec_Register(items, &SECFlashQueueItem, "/E", &SECCheckFunc, &PtrSECCheckFunc, ResetState);
}
