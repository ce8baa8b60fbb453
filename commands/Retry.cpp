// Flash retry count: "/retry:N" sets how often the engine repeats a failed
// flash request. The option exists only while the firmware's manufacturing
// word 9 is seven characters long, the length of "/retry:".
#include "HuxCompat.h"
#include "RunControl.h"
#include "TKXString.h"
#include "YozFlash.h"
#include "YozSwitchMode.h"

UINT8 RetryCnt;
static TKX_QUEUE_ITEM s_RetryItem;

static ENUM_ERR_ID RetryParse(TKXArgvList& args, TKX_QUEUE_ITEM* self) {
    self->Enabled = 0;
    YOZ_TakeMfgWord(9, gRetry_HC_IdfStr);
    if (!YOZ_ModeTakesPart(self->ModeMask)) return eEID_NO_ERROR;
    UINT32 length = StringLength(gRetry_HC_IdfStr);
    if (length == 0) return eEID_NO_ERROR;
    for (unsigned long i = 1; i < args.size(); ++i) {
        const char* value = YOZ_MatchPrefixWord(args[i]->text, length, "/retry:");
        if (value == nullptr) continue;
        if (args.size() <= 2) return eEID_COMMAND_LINE;
        self->Enabled = 1;
        args[i]->claimed = 1;
        // The count is kept in one byte: 300 becomes 44, 256 becomes 0.
        RetryCnt = static_cast<UINT8>(static_cast<unsigned long long>(YOZ_OptionNumber(value)) & 0xFF);
        if (static_cast<INT8>(RetryCnt) <= 0) return eEID_COMMAND_LINE_BAD_RETRY_COUNT;
    }
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID RetryExecute(TKXQueueItemList&) {
    if (!YOZ_ModeTakesPart(s_RetryItem.ModeMask)) return eEID_NO_ERROR;
    YOZ_SetFlashRetryCnt(RetryCnt);
    return eEID_NO_ERROR;
}

static void RetryHelp(UINT8) {}

ENUM_ERR_ID RegisterretryQueueItem(TKXQueueItemList& items) {
    RetryCnt = 0;
    s_RetryItem = TKX_QUEUE_ITEM{eMID_RETRY, RetryParse, RetryExecute, RetryHelp, nullptr, 0, 0, 69,
                                 YOZ_MODE_NORMAL, 0};
    items.push_back(&s_RetryItem);
    HuxDeclareCompat(&s_RetryItem, HUX_COMPAT_RUN_CONTROL, nullptr);
    return eEID_NO_ERROR;
}
