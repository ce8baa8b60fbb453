// Flash half of the all-non-critical-blocks command: every non-critical
// block of the image goes into the system ROM copy, which is flashed.
#include "YozFlash.h"
#include "YozNcbStages.h"
#include "YozOptionStore.h"
#include "YozRomFile.h"

static TKX_QUEUE_ITEM s_Item;
static YOZ_STAGE_SLOTS s_Slots;
static ENUM_ERR_ID NBFF_SecureFlashFunc();
static const YOZ_REGION_FLASH kFlash = {&YOZ_NBFProc, &s_Item, &s_Slots, YOZ_FLASH_MSG_NCB, YOZ_OAKEY_MAIN, 0, NBFF_SecureFlashFunc};

static ENUM_ERR_ID NBFF_ProcFlashBuffFunc() {
    UINT8* system = nullptr;
    ENUM_ERR_ID status = YOZ_NcbFlash_Buffers(&system);
    if (status != eEID_NO_ERROR) return status;
    if (!NBF_Proc_FileNCBToFlashBuff(system, YOZ_RomFile_GetBuffer(), YOZ_OpenFileSize)) return eEID_NOT_MATCH_NCB;
    gNBFF_AllBlockSize = NBF_Proc_MakeDoItList(YOZ_pFlashMap);
    if (YOZ_GetSecureFlashStatus()) {
        s_Slots.FlashFunc = NBFF_SecureFlashFunc;
        return eEID_NO_ERROR;
    }
    return YOZ_RegionFlash_CafPass(&YOZ_NBFProc, YOZ_FLASH_MSG_NCB, system);
}
static ENUM_ERR_ID NBFF_FlashFunc() { return YOZ_NcbFlash_Flash(kFlash); }
static ENUM_ERR_ID NBFF_SecureFlashFunc() { return YOZ_NcbFlash_SecureFlash(kFlash); }

static ENUM_ERR_ID NCBFullFlashParse(TKXArgvList&, TKX_QUEUE_ITEM*) { return YOZ_RegionFlash_Parse(kFlash); }
static ENUM_ERR_ID NCBFullFlashExecute(TKXQueueItemList&) { return YOZ_RegionFlash_Execute(kFlash); }
static void NCBFullFlashHelp(UINT8) {}

ENUM_ERR_ID RegisterNCBFullFlashQueueItem(TKXQueueItemList& items) {
    s_Item = TKX_QUEUE_ITEM{eMID_NCBFULLFLASH, NCBFullFlashParse, NCBFullFlashExecute, NCBFullFlashHelp, nullptr, 0, 0, 0x8000, 0x11, 0};
    items.push_back(&s_Item);
    YOZ_RegionFlash_Join(kFlash);
    s_Slots = YOZ_STAGE_SLOTS{};
    s_Slots.ProcessFunc = NBFF_ProcFlashBuffFunc;
    s_Slots.FlashFunc = NBFF_FlashFunc;
    return eEID_NO_ERROR;
}
