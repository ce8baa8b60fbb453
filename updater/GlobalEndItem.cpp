// The global end item (the last module slot): releases the images, the
// buffers and the region lists of the run, leaves only the always-on items
// enabled, closes the flash interface and runs the end hooks. A run that
// gets here after its first stage that writes has its update complete: that
// is its point of no return, and a signal from here on stops only the end
// hooks' restart, power-off or reset.
#include "FlashBlock.h"
#include "TKXPhysMem.h"
#include "TKXSignal.h"
#include "YozFlash.h"
#include "YozGlobal.h"
#include "YozModeFilter.h"
#include "YozOptionStore.h"
#include "YozPreFlash.h"
#include "YozRomFile.h"
#include "YozSysRom.h"
#include "YozZozRecords.h"
#include "ZoktCfgCmd.h"
#include "ZoktMe.h"
#include "ZoktMfg.h"

static TKX_QUEUE_ITEM s_GlobalEndItem;

static const UINT16 kGlobalEndOrderKey = 40000;

static const char kUpdateComplete[] =
    " - The BIOS update is complete; the signal stopped only what remained (the restart or power-off).";

// The items that stay enabled once the run's work is done.
static const UINT32 kStayEnabled[] = {
    eMID_YOZGLOBAL, eMID_YOZGLOBALEND, eMID_GPR, eMID_CFG, eMID_SECUREFLASH, eMID_SECFLASHCAPSULE,
    eMID_SECFLASHRECOVERY,
};

static bool StaysEnabled(UINT32 id) {
    for (UINT32 keep : kStayEnabled) {
        if (keep == id) return true;
    }
    return false;
}

static void ReleaseRunState() {
    FreeMem(YOZ_pSystembuff);
    YOZ_pSystembuff = nullptr;
    YOZ_SysRomLoadOK = 0;
    FreeMem(YOZ_pFlashBuff);
    YOZ_pFlashBuff = nullptr;
    FreeMem(YOZ_pFlashMap);
    YOZ_pFlashMap = nullptr;
    // The image data belongs to the file hub, which frees it at shutdown.
    YOZ_pOpenFileBuff = nullptr;
    YOZ_OpenFileSize = 0;
    YOZ_OpenFileOK = 0;
    YOZ_pFileName = nullptr;
    YOZ_pMEBuff = nullptr;
    YOZ_MESize = 0;
    YOZ_RomFile_SetCheckRomID(1);
    YOZ_bCAFFlag = 0;
    YOZ_RomFile_SetCheckRomIDCount(0, 0);
    YOZ_CommandNum = 0;
    FreeMem(YOZ_pEcbHdr);
    YOZ_pEcbHdr = nullptr;
    YOZ_SysRom_bECB_Is_Get = 0;
    YOZ_bHaveFileName = 0;

    YOZ_FlashItemList_Release();
    YOZ_SysRom_Var_Release();
    YOZ_RomFile_Var_Release();
    YOZ_Flash_Var_Init();
    YOZ_InitGlobalLineCont();
    ZOKT_CfgCmd_Release();
    ZOKT_ME_Release();
    ZOKT_YOZMFG_Release();
}

// The hooks run in order until one fails; its failure is the run's result.
// As in the execute pass, nothing follows a failed step: the restart,
// power-off or reset after a failed restore is skipped, so the operator sees
// the error.
static ENUM_ERR_ID RunEndHooks() {
    ENUM_ERR_ID status = eEID_NO_ERROR;
    for (unsigned long i = 0; i < YOZ_GlobalEndHookFuncList.size() && status == eEID_NO_ERROR; ++i) {
        YOZ_GlobalEndHookFunc hook = YOZ_GlobalEndHookFuncList[i];
        if (hook != nullptr) status = hook();
    }
    YOZ_GlobalEndHookFuncList.clear();
    return status;
}

static ENUM_ERR_ID GlobalEndParse(TKXArgvList&, TKX_QUEUE_ITEM* self) {
    YOZ_ModeTakesPart(self->ModeMask);
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID GlobalEndExecute(TKXQueueItemList& items) {
    if (!YOZ_ModeTakesPart(s_GlobalEndItem.ModeMask)) return eEID_NO_ERROR;
    if (YOZ_PreFlash_Done()) TKX_PassNoReturn(kUpdateComplete);
    ReleaseRunState();
    for (unsigned long i = 0; i < items.size(); ++i) {
        items[i]->Enabled = 0;
        if (StaysEnabled(items[i]->ModuleId)) items[i]->Enabled = 1;
    }
    CleanFlashIfc();
    return RunEndHooks();
}

static void GlobalEndHelp(UINT8) { YOZ_ModeTakesPart(s_GlobalEndItem.ModeMask); }

ENUM_ERR_ID RegisterYozGlobalEndQueueItem(TKXQueueItemList& items) {
    s_GlobalEndItem = TKX_QUEUE_ITEM{eMID_YOZGLOBALEND, GlobalEndParse, GlobalEndExecute, GlobalEndHelp, nullptr, 1, 0,
                                     kGlobalEndOrderKey, YOZ_MODE_EVERY, 0};
    items.push_back(&s_GlobalEndItem);
    if (!YOZ_GetDelZOZCmdIsEnable()) YOZ_ZOZ_CheckCommand(items);
    return eEID_NO_ERROR;
}
