// "/B": open half of the boot-block command
// (checks the image and arms the flash half).
#include "YozGlobal.h"
#include "YozOptionStore.h"
#include "YozRegionStages.h"
#include "YozSysRom.h"
#include "YozZozRecords.h"

static TKX_QUEUE_ITEM s_Item;
static YOZ_STAGE_SLOTS s_Slots;
static const YOZ_REGION_OPEN kOpen = {&YOZ_BBProc, &s_Item, &s_Slots, YOZ_SetBCmdIsEnable, 1, 1};

static ENUM_ERR_ID BBO_CheckRomFunc(INT16 sizeStatus) { return YOZ_RegionOpen_SizeCheck(sizeStatus); }
static ENUM_ERR_ID BBO_CheckBlockFunc() { return YOZ_RegionOpen_BlockCheck(kOpen, YOZ_BLOCK_BOOT); }
static ENUM_ERR_ID BBO_FlashFunc() { return YOZ_RegionOpen_Arm(kOpen); }

static CHECK_FUNC_ITEM BBCheckFunc;
CHECK_FUNC_ITEM* PtrBBCheckFunc = nullptr;

static ENUM_ERR_ID BootBlockOpenParse(TKXArgvList& args, TKX_QUEUE_ITEM*) {
    return YOZ_RegionOpen_Parse(kOpen, args, "/B");
}

static ENUM_ERR_ID BootBlockOpenExecute(TKXQueueItemList&) { return YOZ_RegionOpen_Execute(kOpen); }

static void BootBlockOpenHelp(UINT8 pass) {
    YOZ_RegionOpen_Help(kOpen, pass, "/B", "|%*s - Program Boot Block                                           |\n");
}

ENUM_ERR_ID RegisterBootBlockOpenQueueItem(TKXQueueItemList& items) {
    s_Item = TKX_QUEUE_ITEM{eMID_BOOTBLOCKOPEN, BootBlockOpenParse, BootBlockOpenExecute, BootBlockOpenHelp, nullptr,
                            0, 0, 0x58F0, 0x09, 1};
    items.push_back(&s_Item);
    BBCheckFunc = CHECK_FUNC_ITEM{BBO_CheckRomFunc, nullptr, 1, 1, 1, 1, 1, 1, &s_Item.Enabled};
    PtrBBCheckFunc = &BBCheckFunc;
    YOZ_ZOZ_RegisterModule(eMID_BOOTBLOCKOPEN, "/B");
    s_Slots = YOZ_STAGE_SLOTS{};
    s_Slots.CheckFunc = BBO_CheckBlockFunc;
    s_Slots.FlashFunc = BBO_FlashFunc;
    BB_FuncVar_Init();
    return eEID_NO_ERROR;
}
