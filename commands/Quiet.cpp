// "/Q": silent execution. From its execute on, everything printed through
// WriteOut is dropped (the banner and the modules before it still print);
// the prompts read the flag and answer for the operator.
#include "HuxCompat.h"
#include "RunControl.h"
#include "TKXString.h"
#include "YozOptionStore.h"
#include "YozSwitchMode.h"
#include "YozZozRecords.h"

static TKX_QUEUE_ITEM s_QuietItem;

static ENUM_ERR_ID QuietParse(TKXArgvList& args, TKX_QUEUE_ITEM* self) {
    self->Enabled = 0;
    YOZ_SetQuietCmdIsEnable(nullptr);
    if (!YOZ_ModeTakesPart(self->ModeMask)) return eEID_NO_ERROR;
    ENUM_ERR_ID status = YOZ_ClaimWholeWord(args, "/Q", &self->Enabled);
    if (status != eEID_NO_ERROR) return status;
    YOZ_SetQuietCmdIsEnable(&self->Enabled);
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID QuietExecute(TKXQueueItemList&) {
    if (!YOZ_ModeTakesPart(s_QuietItem.ModeMask)) return eEID_NO_ERROR;
    WriteOut = YOZ_QuietPrintf;
    return eEID_NO_ERROR;
}

static void QuietHelp(UINT8 pass) {
    if (!YOZ_ModeTakesPart(s_QuietItem.ModeMask) || pass != 0) return;
    WriteOut("|%*s - Silent execution                                             |\n", 11, "/Q");
    YOZ_CheckGlobalLineCont(1);
}

ENUM_ERR_ID RegisterquietQueueItem(TKXQueueItemList& items) {
    s_QuietItem = TKX_QUEUE_ITEM{eMID_QUIET, QuietParse, QuietExecute, QuietHelp, nullptr, 0, 0, 29, YOZ_MODE_EVERY, 0};
    items.push_back(&s_QuietItem);
    HuxDeclareCompat(&s_QuietItem, HUX_COMPAT_RUN_CONTROL, nullptr);
    YOZ_ZOZ_RegisterModule(eMID_QUIET, "/Q");
    return eEID_NO_ERROR;
}
