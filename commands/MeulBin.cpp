// "/MEUL:" and an ME file name together with "/CAPSULE": the ME file is
// handed to the firmware as an ME-only capsule update, and the main BIOS
// joins the capsule session that the "/CAPSULE" module sends before it asks
// to shut the machine down. Runs before the pre-flash check, so it passes
// the firmware's gates itself before it asks anything; acts only in capsule
// mode.
#include "YozMeulStages.h"
#include "YozRegionStages.h"
#include "ZoktMe.h"

static TKX_QUEUE_ITEM MEBINULQueueItem;
static YOZ_STAGE_SLOTS s_Slots;
static YOZ_MEUL_DATA MEBINUL_BinFile;  // MEBINULFileName, MEBINUL_BinFileSize, MEBINUL_BinFileBuff

static void MEBINUL_CallBack_ME_Update(UINT32 offset, UINT32 total, UINT32 piece) {
    YOZ_MEUL_Progress(MEBINUL_BinFile, offset, total, piece);
}

static ENUM_ERR_ID MEBINUL_OpenRomFileFunc() { return YOZ_MEUL_OpenFile(MEBINUL_BinFile, true); }
static ENUM_ERR_ID MEBINUL_Capsule_ZOKTFunc() {
    return YOZ_MEUL_Capsule(MEBINUL_BinFile, ZOKT_MEUL_OnlyME_Use_Capsule_Update, MEBINUL_CallBack_ME_Update);
}

static ENUM_ERR_ID MebinulParse(TKXArgvList& args, TKX_QUEUE_ITEM* self) {
    return YOZ_MEUL_ParseFileWord(self, args, MEBINUL_BinFile, true);
}

static ENUM_ERR_ID MebinulExecute(TKXQueueItemList&) { return YOZ_MEUL_RunCapsuleStages(MEBINULQueueItem, s_Slots); }

// No help line.
ENUM_ERR_ID RegisterMEBINULQueueItem(TKXQueueItemList& items) {
    YOZ_MEUL_Register(items, MEBINULQueueItem, eMID_MEBINUL, MebinulParse, MebinulExecute, nullptr, 0, s_Slots,
                      MEBINUL_OpenRomFileFunc, MEBINUL_Capsule_ZOKTFunc);
    return eEID_NO_ERROR;
}
