// The two modules the TDR-delay options arm: tdrdelayproc, first in the
// table, prints the note; tdrdelayprocend, near the end, does nothing.
#include "HuxCompat.h"
#include "HuxCoreHooks.h"
#include "TdrDelay.h"
#include "YozSwitchMode.h"

UINT8* g_bTdrdelayprocEnable = nullptr;
UINT8* g_bTdrdelayprocEndEnable = nullptr;

void TDRDLY_InitWindowsTdrDelayReg() {
    g_bTdrdelayprocEnable = nullptr;
    g_bTdrdelayprocEndEnable = nullptr;
}

void TDRDLY_InitTdrdelayprocEnable(UINT8* enabled) { g_bTdrdelayprocEnable = enabled; }
void TDRDLY_InitTdrdelayprocEndEnable(UINT8* enabled) { g_bTdrdelayprocEndEnable = enabled; }

void TDRDLY_SetWindowsTdrDelayRegValue(int) {
    if (g_bTdrdelayprocEnable != nullptr) *g_bTdrdelayprocEnable = 1;
    if (g_bTdrdelayprocEndEnable != nullptr) *g_bTdrdelayprocEndEnable = 1;
}

void TDRDLY_ChangeWindowsRegTdrDelayValue() { WriteOut(" -Tdrdelay command only support windows platfrom.\n"); }

void TDRDLY_RestoreWindowsTdrDelayReg() {}

static TKX_QUEUE_ITEM s_ProcItem;
static TKX_QUEUE_ITEM s_ProcEndItem;

static ENUM_ERR_ID ArmedParse(TKXArgvList&, TKX_QUEUE_ITEM* self) {
    YOZ_ModeTakesPart(self->ModeMask);
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID ProcExecute(TKXQueueItemList&) {
    if (YOZ_ModeTakesPart(s_ProcItem.ModeMask)) TDRDLY_ChangeWindowsRegTdrDelayValue();
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID ProcEndExecute(TKXQueueItemList&) {
    if (YOZ_ModeTakesPart(s_ProcEndItem.ModeMask)) TDRDLY_RestoreWindowsTdrDelayReg();
    return eEID_NO_ERROR;
}

static void ArmedHelp(UINT8) { YOZ_ModeTakesPart(YOZ_MODE_NORMAL); }

ENUM_ERR_ID RegistertdrdelayprocQueueItem(TKXQueueItemList& items) {
    s_ProcItem = TKX_QUEUE_ITEM{eMID_TDRDELAYPROC, ArmedParse, ProcExecute, ArmedHelp, nullptr, 0, 0, 0x3D54,
                                YOZ_MODE_NORMAL, 0};
    TDRDLY_InitWindowsTdrDelayReg();
    TDRDLY_InitTdrdelayprocEnable(&s_ProcItem.Enabled);
    items.push_back(&s_ProcItem);
    HuxDeclareCompat(&s_ProcItem, HUX_COMPAT_RUN_CONTROL, nullptr);
    return eEID_NO_ERROR;
}

ENUM_ERR_ID RegistertdrdelayprocendQueueItem(TKXQueueItemList& items) {
    s_ProcEndItem = TKX_QUEUE_ITEM{eMID_TDRDELAYPROCEND, ArmedParse, ProcEndExecute, ArmedHelp, nullptr, 0, 0, 0x9C3F,
                                   YOZ_MODE_NORMAL, 0};
    TDRDLY_InitTdrdelayprocEndEnable(&s_ProcEndItem.Enabled);
    items.push_back(&s_ProcEndItem);
    HuxDeclareCompat(&s_ProcEndItem, HUX_COMPAT_RUN_CONTROL, nullptr);
    return eEID_NO_ERROR;
}
