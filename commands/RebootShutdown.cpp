// "/REBOOT" and "/SHUTDOWN": restart or power off once the run's work is
// done. Each appends its end hook, which the global end item runs after
// everything else. Both are power actions: the core refuses two of them on
// one command line, and switches one off, saying so, beside capsule or
// recovery mode, which powers the machine off or restarts it itself. A
// restart or power-off the shell could not start is reported, not passed
// over as success.
#include "FlashBlock.h"
#include "HuxCompat.h"
#include "HuxCoreHooks.h"
#include "RunControl.h"
#include "TKXPortIo.h"
#include "YozGlobal.h"
#include "YozOptionStore.h"
#include "YozSwitchMode.h"
#include "YozZozRecords.h"

static TKX_QUEUE_ITEM s_RebootItem;
static TKX_QUEUE_ITEM s_ShutdownItem;

ENUM_ERR_ID ReBootFunc() {
    CleanFlashIfc();
    return OsRestart() == 0 ? eEID_NO_ERROR : eEID_REBOOT_FAIL;
}

static ENUM_ERR_ID ShutDownFunc() {
    CleanFlashIfc();
    return OsShutDown() == 0 ? eEID_NO_ERROR : eEID_SHUTDOWN_FAIL;
}

static ENUM_ERR_ID ParsePowerWord(TKXArgvList& args, TKX_QUEUE_ITEM* self, const char* word) {
    self->Enabled = 0;
    if (!YOZ_ModeTakesPart(self->ModeMask)) return eEID_NO_ERROR;
    return YOZ_ClaimWholeWord(args, word, &self->Enabled);
}

static ENUM_ERR_ID RebootParse(TKXArgvList& args, TKX_QUEUE_ITEM* self) {
    ENUM_ERR_ID status = ParsePowerWord(args, self, "/REBOOT");
    YOZ_SetRebootCmdIsEnable(&self->Enabled);
    return status;
}

static ENUM_ERR_ID ShutdownParse(TKXArgvList& args, TKX_QUEUE_ITEM* self) {
    ENUM_ERR_ID status = ParsePowerWord(args, self, "/SHUTDOWN");
    YOZ_SetShutdownCmdIsEnable(&self->Enabled);
    return status;
}

static ENUM_ERR_ID RebootExecute(TKXQueueItemList&) {
    if (YOZ_ModeTakesPart(s_RebootItem.ModeMask)) YOZ_GlobalEndHookFuncList.push_back(ReBootFunc);
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID ShutdownExecute(TKXQueueItemList&) {
    if (YOZ_ModeTakesPart(s_ShutdownItem.ModeMask)) YOZ_GlobalEndHookFuncList.push_back(ShutDownFunc);
    return eEID_NO_ERROR;
}

static void RebootHelp(UINT8 pass) {
    if (!YOZ_ModeTakesPart(s_RebootItem.ModeMask) || pass != 0) return;
    WriteOut("|%*s - Reboot after programming.                                    |\n", 11, "/REBOOT");
    YOZ_CheckGlobalLineCont(1);
}

static void ShutdownHelp(UINT8 pass) {
    if (!YOZ_ModeTakesPart(s_ShutdownItem.ModeMask) || pass != 0) return;
    WriteOut("|%*s - Shutdown after programming.                                  |\n", 11, "/SHUTDOWN");
    YOZ_CheckGlobalLineCont(1);
}

ENUM_ERR_ID RegisterREBOOTQueueItem(TKXQueueItemList& items) {
    s_RebootItem = TKX_QUEUE_ITEM{eMID_REBOOT, RebootParse, RebootExecute, RebootHelp, nullptr, 0, 0, 0x8020,
                                  YOZ_MODE_NORMAL | YOZ_MODE_FTF, 0};
    YOZ_ZOZ_RegisterModule(eMID_REBOOT, "/REBOOT");
    items.push_back(&s_RebootItem);
    HuxDeclareCompat(&s_RebootItem, HUX_COMPAT_POWER_ACTION, "/REBOOT");
    return eEID_NO_ERROR;
}

ENUM_ERR_ID RegisterSHUTDOWNQueueItem(TKXQueueItemList& items) {
    s_ShutdownItem = TKX_QUEUE_ITEM{eMID_SHUTDOWN, ShutdownParse, ShutdownExecute, ShutdownHelp, nullptr, 0, 0, 0x8020,
                                    YOZ_MODE_NORMAL | YOZ_MODE_FTF, 0};
    YOZ_ZOZ_RegisterModule(eMID_SHUTDOWN, "/SHUTDOWN");
    items.push_back(&s_ShutdownItem);
    HuxDeclareCompat(&s_ShutdownItem, HUX_COMPAT_POWER_ACTION, "/SHUTDOWN");
    return eEID_NO_ERROR;
}
