// Open half of the second boot-block command, whose option word the
// firmware supplies in manufacturing mode; it registers no command of its own.
#include "RunControl.h"
#include "YozGlobal.h"
#include "YozOptionStore.h"
#include "YozRegionStages.h"
#include "YozSysRom.h"
#include "YozSwitchMode.h"

static TKX_QUEUE_ITEM s_Item;
static YOZ_STAGE_SLOTS s_Slots;
static const YOZ_REGION_OPEN kOpen = {&YOZ_BB2Proc, &s_Item, &s_Slots, YOZ_SetB2CmdIsEnable, 0, 1};

static ENUM_ERR_ID BB2O_CheckRomFunc(INT16 sizeStatus) { return YOZ_RegionOpen_SizeCheck(sizeStatus); }
static ENUM_ERR_ID BB2O_CheckBlockFunc() { return YOZ_RegionOpen_BlockCheck(kOpen, YOZ_BLOCK_BOOT); }
static ENUM_ERR_ID BB2O_FlashFunc() { return YOZ_RegionOpen_Arm(kOpen); }

static CHECK_FUNC_ITEM BB2CheckFunc;
CHECK_FUNC_ITEM* PtrBB2CheckFunc = nullptr;

// The option word, when the firmware supplies one (empty otherwise).
char gBoot2_HC_IdfStr[YOZ_MFG_WORD_CHARS + 1] = {0};

static ENUM_ERR_ID BootBlock2OpenParse(TKXArgvList& args, TKX_QUEUE_ITEM*) {
    BB2_FuncVar_Init();
    s_Item.Enabled = 0;
    gBoot2_HC_IdfStr[0] = '\0';
    YOZ_TakeMfgWord(12, gBoot2_HC_IdfStr);
    return YOZ_RegionOpen_Parse(kOpen, args, gBoot2_HC_IdfStr);
}

static ENUM_ERR_ID BootBlock2OpenExecute(TKXQueueItemList&) { return YOZ_RegionOpen_Execute(kOpen); }

static void BootBlock2OpenHelp(UINT8) { YOZ_ModeTakesPart(s_Item.ModeMask); }

ENUM_ERR_ID RegisterBootBlock2OpenQueueItem(TKXQueueItemList& items) {
    s_Item = TKX_QUEUE_ITEM{eMID_BOOTBLOCK2OPEN, BootBlock2OpenParse, BootBlock2OpenExecute, BootBlock2OpenHelp,
                            nullptr, 0, 0, 0x58F0, 0x01, 1};
    items.push_back(&s_Item);
    BB2CheckFunc = CHECK_FUNC_ITEM{BB2O_CheckRomFunc, nullptr, 1, 1, 1, 1, 1, 1, &s_Item.Enabled};
    PtrBB2CheckFunc = &BB2CheckFunc;
    s_Slots = YOZ_STAGE_SLOTS{};
    s_Slots.CheckFunc = BB2O_CheckBlockFunc;
    s_Slots.FlashFunc = BB2O_FlashFunc;
    BB2_FuncVar_Init();
    return eEID_NO_ERROR;
}
