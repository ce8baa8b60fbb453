// "/P": open half of the main-BIOS command
// (checks the image and arms the flash half).
#include "YozGlobal.h"
#include "YozOptionStore.h"
#include "YozRegionStages.h"
#include "YozSysRom.h"
#include "YozZozRecords.h"

static TKX_QUEUE_ITEM s_Item;
static YOZ_STAGE_SLOTS s_Slots;
static const YOZ_REGION_OPEN kOpen = {&YOZ_MBProc, &s_Item, &s_Slots, YOZ_SetPCmdIsEnable, 1, 0};

static ENUM_ERR_ID MBO_CheckRomFunc(INT16 sizeStatus) { return YOZ_RegionOpen_SizeCheck(sizeStatus); }
static ENUM_ERR_ID MBO_CheckBlockFunc() { return YOZ_RegionOpen_BlockCheck(kOpen, YOZ_BLOCK_MAIN); }
static ENUM_ERR_ID MBO_FlashFunc() { return YOZ_RegionOpen_Arm(kOpen); }

static CHECK_FUNC_ITEM MBCheckFunc;
CHECK_FUNC_ITEM* PtrMBCheckFunc = nullptr;

static ENUM_ERR_ID MainBiosOpenParse(TKXArgvList& args, TKX_QUEUE_ITEM*) {
    return YOZ_RegionOpen_Parse(kOpen, args, "/P");
}

static ENUM_ERR_ID MainBiosOpenExecute(TKXQueueItemList&) { return YOZ_RegionOpen_Execute(kOpen); }

static void MainBiosOpenHelp(UINT8 pass) {
    YOZ_RegionOpen_Help(kOpen, pass, "/P", "|%*s - Program Main BIOS                                            |\n");
}

ENUM_ERR_ID RegisterMainBiosOpenQueueItem(TKXQueueItemList& items) {
    s_Item = TKX_QUEUE_ITEM{eMID_MAINBIOSOPEN, MainBiosOpenParse, MainBiosOpenExecute, MainBiosOpenHelp, nullptr,
                            0, 0, 0x58F0, 0x19, 1};
    items.push_back(&s_Item);
    MBCheckFunc = CHECK_FUNC_ITEM{MBO_CheckRomFunc, nullptr, 1, 1, 1, 1, 1, 1, &s_Item.Enabled};
    PtrMBCheckFunc = &MBCheckFunc;
    YOZ_ZOZ_RegisterModule(eMID_MAINBIOSOPEN, "/P");
    s_Slots = YOZ_STAGE_SLOTS{};
    s_Slots.CheckFunc = MBO_CheckBlockFunc;
    s_Slots.FlashFunc = MBO_FlashFunc;
    MB_FuncVar_Init();
    return eEID_NO_ERROR;
}
