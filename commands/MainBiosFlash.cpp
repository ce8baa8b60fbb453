// Flash half of the main-BIOS command: always enabled, acts once its open half
// armed it; builds the main-block buffer and flashes it.
#include "YozRegionStages.h"
#include "YozSysRom.h"

static TKX_QUEUE_ITEM s_Item;
static YOZ_STAGE_SLOTS s_Slots;
static ENUM_ERR_ID MBF_SecureFlashFunc();
static const YOZ_REGION_FLASH kFlash = {&YOZ_MBProc, &s_Item, &s_Slots, YOZ_BLOCK_MAIN, YOZ_OAKEY_MAIN, 0, MBF_SecureFlashFunc};

static ENUM_ERR_ID MBF_ProcMainFvFlashBuffFunc() { return YOZ_RegionFlash_Process(kFlash); }
static ENUM_ERR_ID MBF_FlashFunc() { return YOZ_RegionFlash_Flash(kFlash); }
static ENUM_ERR_ID MBF_SecureFlashFunc() { return YOZ_RegionFlash_SecureFlash(kFlash); }

static ENUM_ERR_ID MainBiosFlashParse(TKXArgvList&, TKX_QUEUE_ITEM*) { return YOZ_RegionFlash_Parse(kFlash); }
static ENUM_ERR_ID MainBiosFlashExecute(TKXQueueItemList&) { return YOZ_RegionFlash_Execute(kFlash); }
static void MainBiosFlashHelp(UINT8) {}

ENUM_ERR_ID RegisterMainBiosFlashQueueItem(TKXQueueItemList& items) {
    s_Item = TKX_QUEUE_ITEM{eMID_MAINBIOSFLASH, MainBiosFlashParse, MainBiosFlashExecute, MainBiosFlashHelp, nullptr, 0, 0, 0x8000, 0x19, 0};
    items.push_back(&s_Item);
    YOZ_RegionFlash_Join(kFlash);
    s_Slots = YOZ_STAGE_SLOTS{};
    s_Slots.ProcessFunc = MBF_ProcMainFvFlashBuffFunc;
    s_Slots.FlashFunc = MBF_FlashFunc;
    return eEID_NO_ERROR;
}
