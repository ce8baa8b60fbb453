// SMI delay options, named by the firmware in manufacturing mode:
// "/smidelay:N" (entry 4) makes every flash SMI wait N × 10 µs, and
// "/smibkdelay:N" (entry 5) lets the wait happen only for every N-th block.
// A negative number, or a delay whose microseconds do not fit a signed 32-bit
// value, is a command-line error instead of a wait of over an hour per SMI.
#include "HuxCompat.h"
#include "HuxCoreHooks.h"
#include "RunControl.h"
#include "YozFlash.h"
#include "YozSwitchMode.h"

char gSMIDelay_HC_IdfStr[YOZ_MFG_WORD_CHARS + 1];
char gSMIBkDelay_HC_IdfStr[YOZ_MFG_WORD_CHARS + 1];
int DelayTime = 0;
int BlockNumberDelay = 0;

static TKX_QUEUE_ITEM s_SmiDelayItem;
static TKX_QUEUE_ITEM s_SmiBkDelayItem;

static const long long kLargestDelayUnits = 0x7FFFFFFF / 10;

static ENUM_ERR_ID SmiDelayParse(TKXArgvList& args, TKX_QUEUE_ITEM* self) {
    long long value = 0;
    ENUM_ERR_ID status = YOZ_ParseMfgNumberOption(args, self, 4, gSMIDelay_HC_IdfStr, "/smidelay:", &value);
    if (status != eEID_NO_ERROR || self->Enabled != 1) return status;
    if (value < 0 || value > kLargestDelayUnits) return eEID_COMMAND_LINE;
    DelayTime = static_cast<int>(value);
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID SmiBkDelayParse(TKXArgvList& args, TKX_QUEUE_ITEM* self) {
    long long value = 0;
    ENUM_ERR_ID status = YOZ_ParseMfgNumberOption(args, self, 5, gSMIBkDelay_HC_IdfStr, "/smibkdelay:", &value);
    if (status != eEID_NO_ERROR || self->Enabled != 1) return status;
    if (value < 0 || value > 0x7FFFFFFF) return eEID_COMMAND_LINE;
    BlockNumberDelay = static_cast<int>(value);
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID SmiDelayExecute(TKXQueueItemList&) {
    if (YOZ_ModeTakesPart(s_SmiDelayItem.ModeMask)) SetSMI_IFC_DelayTime(static_cast<UINT32>(DelayTime));
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID SmiBkDelayExecute(TKXQueueItemList&) {
    if (!YOZ_ModeTakesPart(s_SmiBkDelayItem.ModeMask)) return eEID_NO_ERROR;
    WriteOut(" SMI Delay Time Block Cnt: %d\n", BlockNumberDelay);
    YOZ_SetFlashDelayBlockCnt(static_cast<UINT32>(BlockNumberDelay));
    return eEID_NO_ERROR;
}

static void SmiDelayHelp(UINT8) { YOZ_ModeTakesPart(YOZ_MODE_NORMAL); }

ENUM_ERR_ID RegistersmidelayQueueItem(TKXQueueItemList& items) {
    DelayTime = 0;
    s_SmiDelayItem = TKX_QUEUE_ITEM{eMID_SMIDELAY, SmiDelayParse, SmiDelayExecute, SmiDelayHelp, nullptr, 0, 0, 0x7FFE,
                                    YOZ_MODE_NORMAL, 0};
    items.push_back(&s_SmiDelayItem);
    HuxDeclareCompat(&s_SmiDelayItem, HUX_COMPAT_RUN_CONTROL, nullptr);
    return eEID_NO_ERROR;
}

ENUM_ERR_ID RegistersmibkdelayQueueItem(TKXQueueItemList& items) {
    BlockNumberDelay = 0;
    s_SmiBkDelayItem = TKX_QUEUE_ITEM{eMID_SMIBKDELAY, SmiBkDelayParse, SmiBkDelayExecute, SmiDelayHelp, nullptr, 0, 0,
                                      0x7FFE, YOZ_MODE_NORMAL, 0};
    items.push_back(&s_SmiBkDelayItem);
    HuxDeclareCompat(&s_SmiBkDelayItem, HUX_COMPAT_RUN_CONTROL, nullptr);
    return eEID_NO_ERROR;
}
