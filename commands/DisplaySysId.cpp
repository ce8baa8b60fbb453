// "/S": prints the running firmware's ROM ID and GUID and whether it takes
// secure flash. Alone on the command line it is a command of its own;
// beside a ROM file and other commands it prints the IDs from the pre-flash
// block check instead, before anything is written.
#include "InfoCommands.h"
#include "RomInfo.h"
#include "SecureFlash.h"
#include "YozGlobal.h"
#include "YozOptionStore.h"
#include "YozSwitchMode.h"
#include "YozSysRom.h"
#include "YozZozRecords.h"

static TKX_QUEUE_ITEM displaysysidQueueItem;
static CHECK_FUNC_ITEM DisplaySysIDCheckFunc;
CHECK_FUNC_ITEM* PtrDisplaySysIDCheckFunc = nullptr;
static UINT8 VF_ONLYCMD;  // "/S" prints in its own execute
static UINT32 Cmdnum;     // argument words when "/S" was parsed

static void PrintSysRomId() {
    WriteOut(" - System ROM ID = ");
    WriteOut("%s\n", g_FwId);
    WriteOut(" - System ROM GUID = ");
    YOZ_PrintGuid(g_FwGuid);
}

static ENUM_ERR_ID VF_CheckBlockFunc() {
    PrintSysRomId();
    return eEID_NO_ERROR;
}

// A run of the engineering set makes "/S" print alone.
static bool EngineeringSetEnabled(TKXQueueItemList& items) {
    for (unsigned long i = 0; i < items.size(); ++i) {
        if (items[i]->ModuleId == eMID_EGM && items[i]->Enabled == 1) return true;
    }
    return false;
}

static ENUM_ERR_ID DisplaySysIdParse(TKXArgvList& args, TKX_QUEUE_ITEM* self) {
    self->Enabled = 0;
    if (!YOZ_ModeTakesPart(self->ModeMask)) return eEID_NO_ERROR;
    YOZ_InfoCommand_Parse(args, "/S", &self->Enabled, 0);
    if (self->Enabled == 1) {
        Cmdnum = YOZ_ZOZ_GivenWordCount(args);
        if (Cmdnum == 2) {
            VF_ONLYCMD = 1;
            self->StopParse = 1;
        }
    }
    YOZ_SetSCmdIsEnable(&self->Enabled);
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID DisplaySysIdExecute(TKXQueueItemList& items) {
    if (!YOZ_ModeTakesPart(displaysysidQueueItem.ModeMask)) return eEID_NO_ERROR;
    if (Cmdnum == 3 && (!YOZ_GetOrvexCheck() || EngineeringSetEnabled(items))) VF_ONLYCMD = 1;
    if (YOZ_GetOAKeyCmdIsEnable() || YOZ_GetODeleteAKeyCmdIsEnable() || YOZ_GetPWCmdIsEnable()) VF_ONLYCMD = 1;
    if (!VF_ONLYCMD) return eEID_NO_ERROR;
    YOZ_SysRom_GetBlockInfo();
    YOZ_SysRom_GetBuffer();
    ENUM_ERR_ID status = YOZ_SysRom_LastError();
    if (status != eEID_NO_ERROR) return status;
    PrintSysRomId();
    WriteOut(" - System ROM Secure Flash = ");
    WriteOut("%s", FLASH_IsSecureFlashSupported() ? "Enable.\n" : "Disable.\n");
    return eEID_NO_ERROR;
}

static void DisplaySysIdHelp(UINT8 pass) {
    if (!YOZ_ModeTakesPart(displaysysidQueueItem.ModeMask)) return;
    if (pass == 1) {
        WriteOut("|%*s - Refer to Options: /S                                         |\n", 11, "/S");
    } else {
        WriteOut("|%*s - Display current system's ROMID                               |\n", 11, "/S");
    }
    YOZ_CheckGlobalLineCont(1);
}

ENUM_ERR_ID RegisterdisplaysysidQueueItem(TKXQueueItemList& items) {
    displaysysidQueueItem = TKX_QUEUE_ITEM{eMID_DISPLAYSYSID, DisplaySysIdParse, DisplaySysIdExecute,
                                           DisplaySysIdHelp, nullptr, 0, 0, 0x4E48,
                                           YOZ_MODE_NORMAL | YOZ_MODE_FTF, 0};
    items.push_back(&displaysysidQueueItem);
    VF_ONLYCMD = 0;
    Cmdnum = 0;
    DisplaySysIDCheckFunc = CHECK_FUNC_ITEM{nullptr, VF_CheckBlockFunc, 0, 0, 0, 0, 0, 0, &displaysysidQueueItem.Enabled};
    PtrDisplaySysIDCheckFunc = &DisplaySysIDCheckFunc;
    YOZ_ZOZ_RegisterModule(eMID_DISPLAYSYSID, "/S");
    return eEID_NO_ERROR;
}
