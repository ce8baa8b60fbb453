// TDR-delay options, named by the firmware in manufacturing mode: entry 2 is
// a whole word, entry 3 a "/tdrdelay:" prefix with a number. Either arms the
// two TDR modules; neither does anything itself.
#include "HuxCompat.h"
#include "HuxCoreHooks.h"
#include "RunControl.h"
#include "TKXString.h"
#include "TdrDelay.h"
#include "YozSwitchMode.h"

char gTdr_HC_IdfStr[YOZ_MFG_WORD_CHARS + 1];
char gTdrN_HC_IdfStr[YOZ_MFG_WORD_CHARS + 1];

static TKX_QUEUE_ITEM s_TdrItem;
static TKX_QUEUE_ITEM s_TdrNItem;

static ENUM_ERR_ID TdrParse(TKXArgvList& args, TKX_QUEUE_ITEM* self) {
    YOZ_TakeMfgWord(2, gTdr_HC_IdfStr);
    if (!YOZ_ModeTakesPart(self->ModeMask) || gTdr_HC_IdfStr[0] == '\0') return eEID_NO_ERROR;
    ENUM_ERR_ID status = YOZ_ClaimWholeWord(args, gTdr_HC_IdfStr, &self->Enabled);
    if (status == eEID_NO_ERROR && self->Enabled == 1) TDRDLY_SetWindowsTdrDelayRegValue(-1);
    return status;
}

static ENUM_ERR_ID TdrNParse(TKXArgvList& args, TKX_QUEUE_ITEM* self) {
    long long value = 0;
    ENUM_ERR_ID status = YOZ_ParseMfgNumberOption(args, self, 3, gTdrN_HC_IdfStr, "/tdrdelay:", &value);
    if (status == eEID_NO_ERROR && self->Enabled == 1) TDRDLY_SetWindowsTdrDelayRegValue(static_cast<int>(value));
    return status;
}

static ENUM_ERR_ID TdrExecute(TKXQueueItemList&) {
    YOZ_ModeTakesPart(YOZ_MODE_NORMAL);
    return eEID_NO_ERROR;
}

static void TdrHelp(UINT8) { YOZ_ModeTakesPart(YOZ_MODE_NORMAL); }

ENUM_ERR_ID RegistertdrdelayQueueItem(TKXQueueItemList& items) {
    s_TdrItem = TKX_QUEUE_ITEM{eMID_TDRDELAY, TdrParse, TdrExecute, TdrHelp, nullptr, 0, 0, 0x420E, YOZ_MODE_NORMAL, 0};
    items.push_back(&s_TdrItem);
    HuxDeclareCompat(&s_TdrItem, HUX_COMPAT_RUN_CONTROL, nullptr);
    return eEID_NO_ERROR;
}

ENUM_ERR_ID RegistertdrdelaynQueueItem(TKXQueueItemList& items) {
    s_TdrNItem = TKX_QUEUE_ITEM{eMID_TDRDELAYN, TdrNParse, TdrExecute, TdrHelp, nullptr, 0, 0, 0x420F, YOZ_MODE_NORMAL, 0};
    items.push_back(&s_TdrNItem);
    HuxDeclareCompat(&s_TdrNItem, HUX_COMPAT_RUN_CONTROL, nullptr);
    return eEID_NO_ERROR;
}
