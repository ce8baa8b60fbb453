// "/N": open half of the NVRAM command (checks the image and arms the flash half).
#include "YozGlobal.h"
#include "YozNcbProc.h"
#include "YozOptionStore.h"
#include "YozRegionStages.h"
#include "YozRomFile.h"
#include "YozZozRecords.h"

static TKX_QUEUE_ITEM s_Item;
static YOZ_STAGE_SLOTS s_Slots;
static const YOZ_REGION_OPEN kOpen = {&YOZ_NVRProc, &s_Item, &s_Slots, YOZ_SetNCmdIsEnable, 0, 0};

static ENUM_ERR_ID NVRAM_CheckRomFunc(INT16 sizeStatus) {
    if (!YOZ_RomFile_GetFileEnable()) return eEID_OPEN_IN_FILE;
    return YOZ_RegionOpen_SizeCheck(sizeStatus);
}
static ENUM_ERR_ID NVRAM_CheckBlockFunc() { return YOZ_SecureFlashFileCheck(); }
static ENUM_ERR_ID NVRO_FlashFunc() { return YOZ_RegionOpen_Arm(kOpen); }

static CHECK_FUNC_ITEM NVRAMCheckFunc;
CHECK_FUNC_ITEM* PtrNVRAMCheckFunc = nullptr;

static ENUM_ERR_ID NvRamOpenParse(TKXArgvList& args, TKX_QUEUE_ITEM*) { return YOZ_RegionOpen_Parse(kOpen, args, "/N"); }
static ENUM_ERR_ID NvRamOpenExecute(TKXQueueItemList&) { return YOZ_RegionOpen_Execute(kOpen); }

static void NvRamOpenHelp(UINT8 pass) {
    YOZ_RegionOpen_Help(kOpen, pass, "/N", "|%*s - Program NVRAM                                                |\n");
}

ENUM_ERR_ID RegisterNvRamOpenQueueItem(TKXQueueItemList& items) {
    s_Item = TKX_QUEUE_ITEM{eMID_NVRAMOPEN, NvRamOpenParse, NvRamOpenExecute, NvRamOpenHelp, nullptr, 0, 0, 0x58F0, 0x19, 1};
    items.push_back(&s_Item);
    NVRAMCheckFunc = CHECK_FUNC_ITEM{NVRAM_CheckRomFunc, NVRAM_CheckBlockFunc, 1, 1, 1, 1, 1, 1, &s_Item.Enabled};
    PtrNVRAMCheckFunc = &NVRAMCheckFunc;
    YOZ_ZOZ_RegisterModule(eMID_NVRAMOPEN, "/N");
    s_Slots = YOZ_STAGE_SLOTS{};
    s_Slots.FlashFunc = NVRO_FlashFunc;
    NVR_FuncVar_Init();
    return eEID_NO_ERROR;
}
