// "/K": open half of the all-non-critical-blocks command (checks the image
// and arms the flash half).
#include "TKXString.h"
#include "YozGlobal.h"
#include "YozNcbStages.h"
#include "YozOptionStore.h"
#include "YozSwitchMode.h"
#include "YozZozRecords.h"

static TKX_QUEUE_ITEM s_Item;
static YOZ_STAGE_SLOTS s_Slots;
static const YOZ_REGION_OPEN kOpen = {&YOZ_NBFProc, &s_Item, &s_Slots, YOZ_SetNCBFullCmdIsEnable, 0, 0};

static ENUM_ERR_ID NBFO_CheckRomFunc(INT16 sizeStatus) { return YOZ_RegionOpen_SizeCheck(sizeStatus); }
static ENUM_ERR_ID NBFO_CheckBlockFunc() {
    ENUM_ERR_ID status = YOZ_SecureFlashFileCheck();
    return status != eEID_NO_ERROR ? status : YOZ_NcbOpen_HaveNcb();
}
static ENUM_ERR_ID NBFO_FlashFunc() { return YOZ_RegionOpen_Arm(kOpen); }

static CHECK_FUNC_ITEM NCBFullCheckFunc;
CHECK_FUNC_ITEM* PtrNCBFullCheckFunc = nullptr;

// Claimed in capsule and recovery mode too (the execute pass then does nothing).
static ENUM_ERR_ID NCBFullOpenParse(TKXArgvList& args, TKX_QUEUE_ITEM*) {
    if (!YOZ_ModeTakesPart(s_Item.ModeMask)) return eEID_NO_ERROR;
    NBF_FuncVar_Init();
    s_Item.Enabled = 0;
    for (unsigned long i = 1; i < args.size(); ++i) {
        if (IdentifyArg(args[i]->text, "/K", 1) != 1) continue;
        if (YOZ_RegionOpen_Claim(kOpen, args, i) != eEID_NO_ERROR) return eEID_COMMAND_LINE;
    }
    YOZ_SetNCBFullCmdIsEnable(&s_Item.Enabled);
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID NCBFullOpenExecute(TKXQueueItemList&) { return YOZ_NcbOpen_Execute(kOpen); }

static void NCBFullOpenHelp(UINT8 pass) {
    YOZ_RegionOpen_Help(kOpen, pass, "/K", "|%*s - Program all non-critical blocks.                             |\n");
}

ENUM_ERR_ID RegisterNCBFullOpenQueueItem(TKXQueueItemList& items) {
    s_Item = TKX_QUEUE_ITEM{eMID_NCBFULLOPEN, NCBFullOpenParse, NCBFullOpenExecute, NCBFullOpenHelp, nullptr, 0, 0, 0x58F0, 0x11, 1};
    items.push_back(&s_Item);
    NCBFullCheckFunc = CHECK_FUNC_ITEM{NBFO_CheckRomFunc, NBFO_CheckBlockFunc, 1, 1, 1, 1, 1, 1, &s_Item.Enabled};
    PtrNCBFullCheckFunc = &NCBFullCheckFunc;
    YOZ_ZOZ_RegisterModule(eMID_NCBFULLOPEN, "/K");
    s_Slots = YOZ_STAGE_SLOTS{};
    s_Slots.FlashFunc = NBFO_FlashFunc;
    NBF_FuncVar_Init();
    return eEID_NO_ERROR;
}
