// "/MEUF": programs the ME ignition firmware area of the flash from the ROM
// image's bytes at the same flash addresses, in 64 KiB pieces from the
// area's start, inside one ignition update of the firmware.
#include "HuxCompat.h"
#include "YozGlobal.h"
#include "YozMeStages.h"
#include "YozOptionStore.h"
#include "YozSwitchMode.h"

static TKX_QUEUE_ITEM meufQueueItem;
static CHECK_FUNC_ITEM MEUFFCheckFunc;
CHECK_FUNC_ITEM* PtrMEUFCheckFunc = nullptr;
static YOZ_STAGE_SLOTS s_Slots;
UINT32 gMEUFF_AllBlockSize = 0;  // length of the ignition area

// The ignition support is known before "/ME" or any other module writes.
static ENUM_ERR_ID MEUF_CheckBlockFunc() { return YOZ_ME_CheckAhead(false, ZOKT_ME_Ignition_CheckSupport); }
static ENUM_ERR_ID MEUF_CheckFunc() { return eEID_NO_ERROR; }

static ENUM_ERR_ID MEUF_ZOKTCheck() {
    if (YOZ_ME_Held(ZOKT_ME_Ignition_FlashStart) || ZOKT_ME_Ignition_CheckSupport()) return eEID_NO_ERROR;
    YOZ_bMESupport = 0;
    return ZOKT_ME_GetLastError();
}

// The area starts at the u32 at bytes 2-5 and is as long as the u32 at
// 6-9; the image's bytes at the same flash addresses are written.
static ENUM_ERR_ID MEUF_IgnitionArea(YOZ_ME_AREA* a) {
    ZOKT_TC_55_MEUD_STRUCT* info = YOZ_ME_Info();
    if (info == nullptr) return eEID_ME_IGN_STOP;
    UINT32 start = info->RuntimeBase;
    gMEUFF_AllBlockSize = info->RuntimeLength;
    if (gMEUFF_AllBlockSize > 0xFFFFFFFFu - start) return eEID_ANALYZE_ME_DATA;
    *a = YOZ_ME_AREA{start, start, start + gMEUFF_AllBlockSize, gMEUFF_AllBlockSize};
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID MEUF_ZOKTFunc() {
    return YOZ_ME_Update(MEUF_IgnitionArea, ZOKT_ME_Ignition_FlashStart, ZOKT_ME_Ignition_FlashEnd);
}

// The area and its data checked before the run's first erase, and the
// update started there when another module erases first.
static ENUM_ERR_ID MeufPreFlash(const void*) {
    if (!YOZ_ModuleRuns(meufQueueItem)) return eEID_NO_ERROR;
    return YOZ_ME_CheckUpdate(MEUF_IgnitionArea, ZOKT_ME_Ignition_CheckSupport, ZOKT_ME_Ignition_FlashStart);
}

static ENUM_ERR_ID MeufParse(TKXArgvList& args, TKX_QUEUE_ITEM* self) {
    gMEUFF_AllBlockSize = 0;
    return YOZ_ME_ParseWord(self, args, "/MEUF", YOZ_SetMEUFCmdIsEnable);
}

static ENUM_ERR_ID MeufExecute(TKXQueueItemList&) { return YOZ_ME_Execute(meufQueueItem, s_Slots, "C P F Z ZF"); }

static void MeufHelp(UINT8 pass) {
    static const char* const kLines[] = {"|%*s - Program ME Ignition Firmware Block.                          |\n"};
    YOZ_OptionHelp(meufQueueItem, pass, "/MEUF", "", kLines, 1);
}

ENUM_ERR_ID RegistermeufQueueItem(TKXQueueItemList& items) {
    meufQueueItem =
        TKX_QUEUE_ITEM{eMID_MEUF, MeufParse, MeufExecute, MeufHelp, nullptr, 0, 0, 0x8000, YOZ_MODE_NORMAL, 0};
    YOZ_ME_Register(items, meufQueueItem, "/MEUF", MEUFFCheckFunc, MEUF_CheckBlockFunc, PtrMEUFCheckFunc);
    s_Slots = YOZ_STAGE_SLOTS{};
    s_Slots.CheckFunc = MEUF_CheckFunc;
    s_Slots.ZOKTCheck = MEUF_ZOKTCheck;
    s_Slots.ZOKTFunc = MEUF_ZOKTFunc;
    YOZ_PreFlash_Join(&meufQueueItem.Enabled, MeufPreFlash, nullptr);
    HuxDeclareCompat(&meufQueueItem, HUX_COMPAT_ME_UPDATE, "/MEUF");
    return eEID_NO_ERROR;
}
