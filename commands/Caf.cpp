// "/caf": compare the image with the flash and leave out the updates whose
// data is already there.
#include "HuxCompat.h"
#include "RunControl.h"
#include "TKXString.h"
#include "YozOptionStore.h"
#include "YozSwitchMode.h"
#include "YozZozRecords.h"

static TKX_QUEUE_ITEM s_CafItem;

static ENUM_ERR_ID CafParse(TKXArgvList& args, TKX_QUEUE_ITEM* self) {
    self->Enabled = 0;
    if (!YOZ_ModeTakesPart(self->ModeMask)) return eEID_NO_ERROR;
    return YOZ_ClaimWholeWord(args, "/caf", &self->Enabled);
}

static ENUM_ERR_ID CafExecute(TKXQueueItemList&) {
    if (!YOZ_ModeTakesPart(s_CafItem.ModeMask)) return eEID_NO_ERROR;
    YOZ_bCAFFlag = 1;
    return eEID_NO_ERROR;
}

static void CafHelp(UINT8 pass) {
    if (!YOZ_ModeTakesPart(s_CafItem.ModeMask) || pass != 0) return;
    WriteOut("|%*s - Compare ROM file's data with Systems is different or         |\n", 11, "/CAF");
    YOZ_CheckGlobalLineCont(1);
    WriteOut("|%*s   not, if not then cancel related update.                      |\n", 11, "");
    YOZ_CheckGlobalLineCont(1);
}

ENUM_ERR_ID RegistercafQueueItem(TKXQueueItemList& items) {
    s_CafItem = TKX_QUEUE_ITEM{eMID_CAF, CafParse, CafExecute, CafHelp, nullptr, 0, 0, 33,
                               YOZ_MODE_NORMAL | YOZ_MODE_FTF, 0};
    items.push_back(&s_CafItem);
    HuxDeclareCompat(&s_CafItem, HUX_COMPAT_RUN_CONTROL, nullptr);
    YOZ_ZOZ_RegisterModule(eMID_CAF, "/caf");
    return eEID_NO_ERROR;
}
