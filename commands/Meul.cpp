// "/MEUL:" and an ME file name: the firmware's ME update library updates
// the entire ME firmware from that file (a production or pre-production ME
// image) at once, in normal mode. It stops the parse, so no pre-flash check
// runs and no flash is read: the firmware does the writing, once the
// module has passed the firmware's gates itself.
#include "HuxCompat.h"
#include "YozMeulStages.h"
#include "YozRegionStages.h"
#include "ZoktMe.h"

static TKX_QUEUE_ITEM meulQueueItem;
static YOZ_STAGE_SLOTS s_Slots;
static YOZ_MEUL_DATA MEUL_BinFile;  // MEULFileName, MEUL_BinFileSize, MEUL_BinFileBuff

static void MEUL_CallBack_ME_Update(UINT32 offset, UINT32 total, UINT32 piece) {
    YOZ_MEUL_Progress(MEUL_BinFile, offset, total, piece);
}

static ENUM_ERR_ID MEUL_OpenRomFileFunc() { return YOZ_MEUL_OpenFile(MEUL_BinFile, false); }
static ENUM_ERR_ID MEUL_ZOKTFunc() { return YOZ_MEUL_Update(MEUL_BinFile, MEUL_CallBack_ME_Update); }

static ENUM_ERR_ID MeulParse(TKXArgvList& args, TKX_QUEUE_ITEM* self) {
    return YOZ_MEUL_ParseFileWord(self, args, MEUL_BinFile, false);
}

static ENUM_ERR_ID MeulExecute(TKXQueueItemList&) { return YOZ_RunModuleStages(meulQueueItem, s_Slots, "O P F Z ZF"); }

static void MeulHelp(UINT8 pass) {
    static const char* const kLines[] = {
        "|%*s - Program ME Entire Firmware Block, which supports             |\n",
        "|%*s   Production.BIN and PreProduction.BIN files.                  |\n"};
    YOZ_OptionHelp(meulQueueItem, pass, "/MEUL:", "", kLines, 2);
}

// Stops the parse when enabled: it stands alone.
ENUM_ERR_ID RegistermeulQueueItem(TKXQueueItemList& items) {
    YOZ_MEUL_Register(items, meulQueueItem, eMID_MEUL, MeulParse, MeulExecute, MeulHelp, 1, s_Slots,
                      MEUL_OpenRomFileFunc, MEUL_ZOKTFunc);
    HuxDeclareCompat(&meulQueueItem, HUX_COMPAT_STANDS_ALONE, "/MEUL:");
    return eEID_NO_ERROR;
}
