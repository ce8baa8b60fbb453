// The firmware configuration module: always on. At registration it asks the
// firmware's ZOKT version; in the parse pass it collects the command line's
// configuration words (clearing words leave the command line); in the
// execute pass it sends them and lets the firmware's answer switch option
// modules on and off.
#include "HuxCompat.h"
#include "HuxCoreHooks.h"
#include "YozSwitchMode.h"
#include "ZoktCfgCmd.h"
#include "ZoktFormat.h"

static TKX_QUEUE_ITEM s_CfgItem;

static ENUM_ERR_ID CfgParse(TKXArgvList& args, TKX_QUEUE_ITEM* self) {
    if (!YOZ_ModeTakesPart(self->ModeMask)) return eEID_NO_ERROR;
    ZOKT_InitCfgCmd(args);
    return eEID_NO_ERROR;
}

// Runs even without configuration words: the firmware may still enable
// modules, which then go with the command line as the modules it named do.
static ENUM_ERR_ID CfgExecute(TKXQueueItemList& items) {
    if (!YOZ_ModeTakesPart(s_CfgItem.ModeMask)) return eEID_NO_ERROR;
    ZOKT_GetDefsetCfgCmd(items);
    char why[512];
    if (HuxCheckCompat(ArgvItemList, items, why, sizeof(why)) != eEID_NO_ERROR) {
        WriteOut("%s", why);
        return eEID_COMMAND_LINE;
    }
    if (ZOKT_CfgCmd_GetRS_DIS_OEMSTR()) WriteOut(" %s \n", ZOKT_CfgCmd_GetOEMString());
    if (ZOKT_CfgCmd_GetRS_ERROR_OUT()) return eEID_ZOKT_OEM_ERROR;
    return eEID_NO_ERROR;
}

static void CfgHelp(UINT8) { YOZ_ModeTakesPart(s_CfgItem.ModeMask); }

ENUM_ERR_ID RegisterCFGQueueItem(TKXQueueItemList& items) {
    s_CfgItem = TKX_QUEUE_ITEM{eMID_CFG, CfgParse, CfgExecute, CfgHelp, nullptr, 1, 0, 0x4E20,
                               YOZ_MODE_NORMAL | YOZ_MODE_FTF, 0};
    items.push_back(&s_CfgItem);
    Zokt_GetVer();
    return eEID_NO_ERROR;
}
