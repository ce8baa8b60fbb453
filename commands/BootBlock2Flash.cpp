// Flash half of the second boot-block command.
#include "YozRegionStages.h"
#include "YozSysRom.h"

static TKX_QUEUE_ITEM s_Item;
static YOZ_STAGE_SLOTS s_Slots;
static ENUM_ERR_ID BB2F_SecureFlashFunc();
static const YOZ_REGION_FLASH kFlash = {&YOZ_BB2Proc, &s_Item, &s_Slots, YOZ_BLOCK_BOOT, YOZ_OAKEY_BOOT2, 1, BB2F_SecureFlashFunc};

static ENUM_ERR_ID BB2F_ProcMainFvFlashBuffFunc() { return YOZ_RegionFlash_Process(kFlash); }
static ENUM_ERR_ID BB2F_FlashFunc() { return YOZ_RegionFlash_Flash(kFlash); }
static ENUM_ERR_ID BB2F_SecureFlashFunc() { return YOZ_RegionFlash_SecureFlash(kFlash); }

static ENUM_ERR_ID BootBlock2FlashParse(TKXArgvList&, TKX_QUEUE_ITEM*) { return YOZ_RegionFlash_Parse(kFlash); }
static ENUM_ERR_ID BootBlock2FlashExecute(TKXQueueItemList&) { return YOZ_RegionFlash_Execute(kFlash); }
static void BootBlock2FlashHelp(UINT8) {}

ENUM_ERR_ID RegisterBootBlock2FlashQueueItem(TKXQueueItemList& items) {
    s_Item = TKX_QUEUE_ITEM{eMID_BOOTBLOCK2FLASH, BootBlock2FlashParse, BootBlock2FlashExecute, BootBlock2FlashHelp, nullptr, 0, 0, 0x8000, 0x01, 0};
    items.push_back(&s_Item);
    YOZ_RegionFlash_Join(kFlash);
    s_Slots = YOZ_STAGE_SLOTS{};
    s_Slots.ProcessFunc = BB2F_ProcMainFvFlashBuffFunc;
    s_Slots.FlashFunc = BB2F_FlashFunc;
    return eEID_NO_ERROR;
}
