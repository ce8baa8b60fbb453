// Flash half of the NVRAM command: the NVRAM blocks are flashed straight
// from the loaded image (no working buffer, no ROM holes or SLP data).
#include "YozFlash.h"
#include "YozNcbProc.h"
#include "YozOptionStore.h"
#include "YozRegionStages.h"
#include "YozRomFile.h"
#include "YozSysRom.h"

static TKX_QUEUE_ITEM s_Item;
static YOZ_STAGE_SLOTS s_Slots;
static ENUM_ERR_ID NVRF_SecureFlashFunc();
static const YOZ_REGION_FLASH kFlash = {&YOZ_NVRProc, &s_Item, &s_Slots, YOZ_BLOCK_NVRAM, YOZ_OAKEY_MAIN, 0, NVRF_SecureFlashFunc};

static ENUM_ERR_ID NVRF_ProcMainFvFlashBuffFunc() { return YOZ_RegionFlash_ProcessImage(kFlash); }
static ENUM_ERR_ID NVRF_FlashFunc() { return YOZ_RegionFlash_FlashImage(kFlash); }
static ENUM_ERR_ID NVRF_SecureFlashFunc() { return YOZ_RegionFlash_SecureFlash(kFlash); }

static ENUM_ERR_ID NvRamFlashParse(TKXArgvList&, TKX_QUEUE_ITEM*) { return YOZ_RegionFlash_Parse(kFlash); }
static ENUM_ERR_ID NvRamFlashExecute(TKXQueueItemList&) { return YOZ_RegionFlash_Execute(kFlash); }
static void NvRamFlashHelp(UINT8) {}

ENUM_ERR_ID RegisterNvRamFlashQueueItem(TKXQueueItemList& items) {
    s_Item = TKX_QUEUE_ITEM{eMID_NVRAMFLASH, NvRamFlashParse, NvRamFlashExecute, NvRamFlashHelp, nullptr, 0, 0, 0x8000, 0x19, 0};
    items.push_back(&s_Item);
    YOZ_RegionFlash_Join(kFlash);
    s_Slots = YOZ_STAGE_SLOTS{};
    s_Slots.ProcessFunc = NVRF_ProcMainFvFlashBuffFunc;
    s_Slots.FlashFunc = NVRF_FlashFunc;
    return eEID_NO_ERROR;
}
