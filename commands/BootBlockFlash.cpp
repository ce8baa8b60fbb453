// Flash half of the boot-block command ("/B").
#include "YozRegionStages.h"
#include "YozSysRom.h"

static TKX_QUEUE_ITEM s_Item;
static YOZ_STAGE_SLOTS s_Slots;
static ENUM_ERR_ID BBF_SecureFlashFunc();
static const YOZ_REGION_FLASH kFlash = {&YOZ_BBProc, &s_Item, &s_Slots, YOZ_BLOCK_BOOT, YOZ_OAKEY_BOOT, 1, BBF_SecureFlashFunc};

static ENUM_ERR_ID BBF_ProcMainFvFlashBuffFunc() { return YOZ_RegionFlash_Process(kFlash); }
static ENUM_ERR_ID BBF_FlashFunc() { return YOZ_RegionFlash_Flash(kFlash); }
static ENUM_ERR_ID BBF_SecureFlashFunc() { return YOZ_RegionFlash_SecureFlash(kFlash); }

static ENUM_ERR_ID BootBlockFlashParse(TKXArgvList&, TKX_QUEUE_ITEM*) { return YOZ_RegionFlash_Parse(kFlash); }
static ENUM_ERR_ID BootBlockFlashExecute(TKXQueueItemList&) { return YOZ_RegionFlash_Execute(kFlash); }
static void BootBlockFlashHelp(UINT8) {}

ENUM_ERR_ID RegisterBootBlockFlashQueueItem(TKXQueueItemList& items) {
    s_Item = TKX_QUEUE_ITEM{eMID_BOOTBLOCKFLASH, BootBlockFlashParse, BootBlockFlashExecute, BootBlockFlashHelp, nullptr, 0, 0, 0x8000, 0x09, 0};
    items.push_back(&s_Item);
    YOZ_RegionFlash_Join(kFlash);
    s_Slots = YOZ_STAGE_SLOTS{};
    s_Slots.ProcessFunc = BBF_ProcMainFvFlashBuffFunc;
    s_Slots.FlashFunc = BBF_FlashFunc;
    return eEID_NO_ERROR;
}
