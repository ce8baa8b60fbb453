// "/X": flash without comparing the image's ROM ID with the system's.
#include "HuxCompat.h"
#include "RunControl.h"
#include "TKXString.h"
#include "YozOptionStore.h"
#include "YozRomFile.h"
#include "YozSwitchMode.h"
#include "YozZozRecords.h"

static TKX_QUEUE_ITEM s_NoCkRidItem;

static ENUM_ERR_ID NoCkRidParse(TKXArgvList& args, TKX_QUEUE_ITEM* self) {
    self->Enabled = 0;
    if (!YOZ_ModeTakesPart(self->ModeMask)) return eEID_NO_ERROR;
    return YOZ_ClaimWholeWord(args, "/X", &self->Enabled);
}

static ENUM_ERR_ID NoCkRidExecute(TKXQueueItemList&) {
    if (!YOZ_ModeTakesPart(s_NoCkRidItem.ModeMask)) return eEID_NO_ERROR;
    YOZ_RomFile_SetCheckRomID(0);
    return eEID_NO_ERROR;
}

static void NoCkRidHelp(UINT8 pass) {
    if (!YOZ_ModeTakesPart(s_NoCkRidItem.ModeMask) || pass != 0) return;
    WriteOut("|%*s - Don't Check ROM ID                                           |\n", 11, "/X");
    YOZ_CheckGlobalLineCont(1);
}

ENUM_ERR_ID RegisterNoCkRIDQueueItem(TKXQueueItemList& items) {
    s_NoCkRidItem = TKX_QUEUE_ITEM{eMID_NOCKRID, NoCkRidParse, NoCkRidExecute, NoCkRidHelp, nullptr, 0, 0, 32,
                                   YOZ_MODE_NORMAL | YOZ_MODE_FTF, 0};
    items.push_back(&s_NoCkRidItem);
    HuxDeclareCompat(&s_NoCkRidItem, HUX_COMPAT_RUN_CONTROL, nullptr);
    YOZ_ZOZ_RegisterModule(eMID_NOCKRID, "/X");
    return eEID_NO_ERROR;
}
