// Default answers: the operator prompts answer for themselves. The option
// word is the firmware's manufacturing word 8; without it the option does
// not exist (an empty command-line word must not switch it on).
#include "HuxCompat.h"
#include "RunControl.h"
#include "TKXString.h"
#include "YozOptionStore.h"
#include "YozSwitchMode.h"
#include "YozZozRecords.h"

static TKX_QUEUE_ITEM s_DefansItem;

static ENUM_ERR_ID DefansParse(TKXArgvList& args, TKX_QUEUE_ITEM* self) {
    self->Enabled = 0;
    YOZ_SetDefAnsCmdIsEnable(nullptr);
    YOZ_TakeMfgWord(8, gDefans_HC_IdfStr);
    if (!YOZ_ModeTakesPart(self->ModeMask)) return eEID_NO_ERROR;
    if (gDefans_HC_IdfStr[0] != '\0') {
        ENUM_ERR_ID status = YOZ_ClaimWholeWord(args, gDefans_HC_IdfStr, &self->Enabled);
        if (status != eEID_NO_ERROR) return status;
    }
    YOZ_SetDefAnsCmdIsEnable(&self->Enabled);
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID DefansExecute(TKXQueueItemList&) { return eEID_NO_ERROR; }
static void DefansHelp(UINT8) {}

ENUM_ERR_ID RegisterdefansQueueItem(TKXQueueItemList& items) {
    s_DefansItem = TKX_QUEUE_ITEM{eMID_DEFANS, DefansParse, DefansExecute, DefansHelp, nullptr, 0, 0, 30,
                                  YOZ_MODE_NORMAL, 0};
    items.push_back(&s_DefansItem);
    HuxDeclareCompat(&s_DefansItem, HUX_COMPAT_RUN_CONTROL, nullptr);
    YOZ_ZOZ_RegisterModule(eMID_DEFANS, "/DEFANS");
    return eEID_NO_ERROR;
}
