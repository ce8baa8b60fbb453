// Delete-trailer-records: keeps the trailer's configuration records from
// being loaded. It decides at registration, before the trailer-records
// module registers, so it has no parse, execute or help of its own. The
// option word is the firmware's manufacturing word 7; without it the option
// does not exist.
#include "RunControl.h"
#include "TKXString.h"
#include "YozOptionStore.h"
#include "YozSwitchMode.h"
#include "YozZozRecords.h"

static TKX_QUEUE_ITEM s_DelZozItem;

static void DelZozDecide(TKXArgvList& args) {
    s_DelZozItem.Enabled = 0;
    YOZ_SetDelZOZCmdIsEnable(nullptr);
    YOZ_TakeMfgWord(7, gDU_HC_IdfStr);
    if (!YOZ_ModeTakesPart(s_DelZozItem.ModeMask)) return;
    if (gDU_HC_IdfStr[0] != '\0') {
        for (unsigned long i = 1; i < args.size(); ++i) {
            if (IdentifyArg(args[i]->text, gDU_HC_IdfStr, 1) != 1) continue;
            s_DelZozItem.Enabled = 1;
            args[i]->claimed = 1;
        }
    }
    YOZ_SetDelZOZCmdIsEnable(&s_DelZozItem.Enabled);
}

ENUM_ERR_ID RegisterdelZOZQueueItem(TKXQueueItemList& items) {
    s_DelZozItem = TKX_QUEUE_ITEM{eMID_DELZOZ, nullptr, nullptr, nullptr, nullptr, 0, 0, 6, YOZ_MODE_NORMAL, 0};
    DelZozDecide(ArgvItemList);
    items.push_back(&s_DelZozItem);
    YOZ_ZOZ_RegisterModule(eMID_DELZOZ, "/DU");
    return eEID_NO_ERROR;
}
