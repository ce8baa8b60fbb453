// "/CLNEVNLOG": asks the firmware to clear its event log. Needs no ROM file.
#include "HuxCoreHooks.h"
#include "TKXString.h"
#include "YozOptionStore.h"
#include "YozSwitchMode.h"
#include "YozZozRecords.h"
#include "ZoktEventLog.h"

static TKX_QUEUE_ITEM s_ClnItem;

static ENUM_ERR_ID ClnEvnLogParse(TKXArgvList& args, TKX_QUEUE_ITEM* self) {
    if (!YOZ_ModeTakesPart(self->ModeMask)) return eEID_NO_ERROR;
    self->Enabled = 0;
    for (unsigned long i = 1; i < args.size(); ++i) {
        if (IdentifyArg(args[i]->text, "/CLNEVNLOG", 1) != 1) continue;
        self->Enabled = 1;
        args[i]->claimed = 1;
    }
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID ClnEvnLogExecute(TKXQueueItemList&) {
    if (!YOZ_ModeTakesPart(s_ClnItem.ModeMask)) return eEID_NO_ERROR;
    if (!ZOKT_CleanEventLog()) return ZOKT_CleanEventLog_GetLastErrorID();
    WriteOut(" Clear Event Log ....... ok\n");
    return eEID_NO_ERROR;
}

static void ClnEvnLogHelp(UINT8 pass) {
    if (!YOZ_ModeTakesPart(s_ClnItem.ModeMask)) return;
    if (pass == 1)
        WriteOut("|%*s - Refer to Options: /CLNEVNLOG                                 |\n", 11, "/CLNEVNLOG");
    else
        WriteOut("|%*s - Clear Event Log.                                             |\n", 11, "/CLNEVNLOG");
    YOZ_CheckGlobalLineCont(1);
}

ENUM_ERR_ID RegisterclnevnlogQueueItem(TKXQueueItemList& items) {
    s_ClnItem = TKX_QUEUE_ITEM{eMID_CLNEVNLOG, ClnEvnLogParse, ClnEvnLogExecute, ClnEvnLogHelp, nullptr, 0, 0, 0x8000,
                               YOZ_MODE_NORMAL | YOZ_MODE_FTF, 0};
    items.push_back(&s_ClnItem);
    YOZ_ZOZ_RegisterModule(eMID_CLNEVNLOG, "/CLNEVNLOG");
    return eEID_NO_ERROR;
}
