// "/ME": programs the entire ME firmware area of the flash from the ROM
// image (a single binary whose ME area lies at the flash's own offsets), in
// 64 KiB pieces inside one entire-ME update of the firmware. When the
// firmware's ME-region table lists the entire ME, the ME-region module does
// the work instead.
#include "HuxCompat.h"
#include "SecureFlash.h"
#include "YozGlobal.h"
#include "YozMeStages.h"
#include "YozOptionStore.h"
#include "YozSwitchMode.h"

static TKX_QUEUE_ITEM mefQueueItem;
static CHECK_FUNC_ITEM MEFCheckFunc;
CHECK_FUNC_ITEM* PtrMEFCheckFunc = nullptr;
static YOZ_STAGE_SLOTS s_Slots;
UINT8 b_MEREnable = 0;          // the ME-region module carries out "/ME"
UINT32 gMEFF_AllBlockSize = 0;  // end of the ME area of the last run

// The ME preparation and the firmware's support, before any module writes;
// nothing to check when the region module does the work.
static ENUM_ERR_ID MEF_CheckBlockFunc() {
    if (b_MEREnable) return eEID_NO_ERROR;
    return YOZ_ME_CheckAhead(FLASH_IsSecureFlashSupported() != 0, ZOKT_ME_CheckSupport);
}

static ENUM_ERR_ID MEF_ZOKTCheck() {
    if (YOZ_ME_Held(ZOKT_ME_Full_FlashStart)) return eEID_NO_ERROR;
    ENUM_ERR_ID status = eEID_NO_ERROR;
    if (!ZOKT_ME_CheckSupport()) {
        YOZ_bMESupport = 0;
        status = ZOKT_ME_GetLastError();
    }
    if (!YOZ_bMESupport) s_Slots.ZOKTFunc = nullptr;
    return status;
}

// The area runs from the offset in bytes 2-5 up to the end in bytes 10-13,
// both counted from flash offset 0; the image's bytes at the same offsets
// are written.
static ENUM_ERR_ID MEF_MEArea(YOZ_ME_AREA* a) {
    ZOKT_TC_55_MEUD_STRUCT* info = YOZ_ME_Info();
    if (info == nullptr) return eEID_ME_STOP;
    gMEFF_AllBlockSize = info->BiosRegionBase;
    *a = YOZ_ME_AREA{0, info->RuntimeBase, info->BiosRegionBase, gMEFF_AllBlockSize};
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID MEF_ZOKTFunc() { return YOZ_ME_Update(MEF_MEArea, ZOKT_ME_Full_FlashStart, ZOKT_ME_Full_FlashEnd); }

// The area and its data checked before the run's first erase, and the
// update started there when another module erases first.
static ENUM_ERR_ID MefPreFlash(const void*) {
    if (b_MEREnable || !YOZ_ModuleRuns(mefQueueItem)) return eEID_NO_ERROR;
    return YOZ_ME_CheckUpdate(MEF_MEArea, ZOKT_ME_CheckSupport, ZOKT_ME_Full_FlashStart);
}

static void ResetState() {
    b_MEREnable = 0;
    gMEFF_AllBlockSize = 0;
    s_Slots = YOZ_STAGE_SLOTS{};
    s_Slots.ZOKTCheck = MEF_ZOKTCheck;
    s_Slots.ZOKTFunc = MEF_ZOKTFunc;
}

static ENUM_ERR_ID MefParse(TKXArgvList& args, TKX_QUEUE_ITEM* self) {
    ResetState();
    ENUM_ERR_ID status = YOZ_ME_ParseWord(self, args, "/ME", YOZ_SetMECmdIsEnable);
    if (status != eEID_NO_ERROR) return status;
    b_MEREnable = YOZ_MER_CarriesME() ? 1 : 0;
    // Carried out by the region module, it is part of that module's update.
    HuxDeclareCompat(self, b_MEREnable ? HUX_COMPAT_ANY : HUX_COMPAT_ME_UPDATE, "/ME");
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID MefExecute(TKXQueueItemList&) {
    if (b_MEREnable) return eEID_NO_ERROR;
    return YOZ_ME_Execute(mefQueueItem, s_Slots, "P F Z ZF");
}

static void MefHelp(UINT8 pass) {
    static const char* const kLines[] = {"|%*s - Program ME Entire Firmware Block.                            |\n"};
    YOZ_OptionHelp(mefQueueItem, pass, "/ME", "", kLines, 1);
}

ENUM_ERR_ID RegistermefQueueItem(TKXQueueItemList& items) {
    mefQueueItem =
        TKX_QUEUE_ITEM{eMID_MEF, MefParse, MefExecute, MefHelp, nullptr, 0, 0, 0x8000, YOZ_MODE_NORMAL, 0};
    YOZ_ME_Register(items, mefQueueItem, "/ME", MEFCheckFunc, MEF_CheckBlockFunc, PtrMEFCheckFunc);
    ResetState();
    YOZ_PreFlash_Join(&mefQueueItem.Enabled, MefPreFlash, nullptr);
    return eEID_NO_ERROR;
}
