// Engineering "s24": restarts the machine at the end of the run, as an end
// hook after the end work before it (the SMBIOS restore), with the flash
// interface closed first. A restart the shell could not start ends the run
// with its error. A power action: beside another one the command line is
// refused, beside capsule or recovery mode it is switched off.
#include "HuxCompat.h"
#include "HuxCoreHooks.h"
#include "RunControl.h"
#include "YozGlobal.h"
#include "YozEgm.h"

static TKX_QUEUE_ITEM EGM_S24_QueueItem;

static ENUM_ERR_ID S24Parse(TKXArgvList&, TKX_QUEUE_ITEM* self) {
    EGM_TakeSelection(self, EGM_S24);
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID S24Execute(TKXQueueItemList&) {
    YOZ_GlobalEndHookFuncList.push_back(ReBootFunc);
    return eEID_NO_ERROR;
}

ENUM_ERR_ID RegisterEGM_S24_QueueItem(TKXQueueItemList& items) {
    HuxDeclareCompat(&EGM_S24_QueueItem, HUX_COMPAT_POWER_ACTION, EGM_EntryWord(EGM_S24));
    return EGM_RegisterSubModule(items, EGM_S24_QueueItem, eMID_EGM_S24, S24Parse, S24Execute, 0x8020);
}
