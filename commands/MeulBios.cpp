// "/MEUL" together with "/CAPSULE": the ME part of the ROM image is handed
// to the firmware as a BIOS-and-ME capsule update, and the main BIOS joins
// the capsule session that the "/CAPSULE" module sends before it asks to
// shut the machine down. Runs after the pre-flash check, which found the ME
// part; acts only in capsule mode. "/MEUL" without "/CAPSULE" names nothing
// to update and is refused as the command line is read.
#include "TKXString.h"
#include "YozGlobal.h"
#include "YozMeulStages.h"
#include "YozOptionStore.h"
#include "YozRegionStages.h"
#include "YozSwitchMode.h"
#include "ZoktMe.h"

static TKX_QUEUE_ITEM MEBULQueueItem;
static YOZ_STAGE_SLOTS s_Slots;
static YOZ_MEUL_DATA MEBUL_Data;   // the image's ME part
static UINT8 s_WordGiven = 0;      // "/MEUL" is on the command line

static void MEBUL_CallBack_ME_Update(UINT32 offset, UINT32 total, UINT32 piece) {
    YOZ_MEUL_Progress(MEBUL_Data, offset, total, piece);
}

// The pre-flash check has passed the firmware's gates (they are not asked
// again); the capsule policy is left.
static ENUM_ERR_ID MEBUL_OpenRomFileFunc() { return YOZ_MEUL_Gates(true); }

static ENUM_ERR_ID MEBUL_Capsule_ZOKTFunc() {
    // No image was loaded: the ROM file could not be read.
    if (YOZ_pOriginalRomBuff == nullptr) return eEID_OPEN_IN_FILE;
    MEBUL_Data.Buff = YOZ_pMEBuff;
    MEBUL_Data.Size = YOZ_MESize;
    return YOZ_MEUL_Capsule(MEBUL_Data, ZOKT_MEUL_BIOS_ME_Use_Capsule_Update, MEBUL_CallBack_ME_Update);
}

static ENUM_ERR_ID MebulParse(TKXArgvList& args, TKX_QUEUE_ITEM* self) {
    MEBUL_Data = YOZ_MEUL_DATA{};
    self->Enabled = 0;
    s_WordGiven = 0;
    YOZ_SetMEBULCmdIsEnable(&s_WordGiven);
    if (!YOZ_ModeTakesPart(self->ModeMask)) return eEID_NO_ERROR;
    bool capsule = false;
    for (unsigned long i = 1; i < args.size(); ++i) {
        if (IdentifyArg(args[i]->text, "/CAPSULE", 1) == 1) capsule = true;
        if (IdentifyArg(args[i]->text, "/MEUL", 1) != 1) continue;
        args[i]->claimed = 1;
        args[1]->claimed = 1;
        s_WordGiven = 1;
    }
    // Alone, the word names nothing to update: refused before the firmware is asked anything.
    if (s_WordGiven && !capsule) {
        WriteOut(" - \"/MEUL\" needs \"/CAPSULE\", or an ME file after the colon (\"/MEUL:<file>\").\n");
        return eEID_INVALID_USER_OPTION;
    }
    self->Enabled = s_WordGiven && capsule ? 1 : 0;
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID MebulExecute(TKXQueueItemList&) { return YOZ_MEUL_RunCapsuleStages(MEBULQueueItem, s_Slots); }

// No help line.
ENUM_ERR_ID RegisterMEBULQueueItem(TKXQueueItemList& items) {
    YOZ_MEUL_Register(items, MEBULQueueItem, eMID_MEBUL, MebulParse, MebulExecute, nullptr, 0, s_Slots,
                      MEBUL_OpenRomFileFunc, MEBUL_Capsule_ZOKTFunc);
    return eEID_NO_ERROR;
}
