// The global item (module slot 5): resets the option and image state at
// registration and again when it parses, and arms the run when it executes.
#include "TKXPhysMem.h"
#include "UpdaterHooks.h"
#include "YozFlash.h"
#include "YozGlobal.h"
#include "YozPreFlash.h"
#include "YozModeFilter.h"
#include "YozOptionStore.h"
#include "YozRomFile.h"
#include "YozSysRom.h"

static TKX_QUEUE_ITEM s_GlobalItem;

static const UINT16 kGlobalOrderKey = 20000;

// Everything a run may have left behind, back to its start values.
static void ResetRunState() {
    YOZ_pFileName = nullptr;
    FreeMem(YOZ_pSystembuff);
    YOZ_pSystembuff = nullptr;
    YOZ_pOpenFileBuff = nullptr;
    YOZ_OpenFileSize = 0;
    FreeMem(YOZ_pFlashBuff);
    YOZ_pFlashBuff = nullptr;
    YOZ_pMEBuff = nullptr;
    YOZ_MESize = 0;
    YOZ_pSecureFileBuff = nullptr;
    YOZ_SecureFileSize = 0;
    FreeMem(YOZ_pFlashMap);
    YOZ_pFlashMap = nullptr;
    YOZ_bCAFFlag = 0;
    YOZ_RomFile_SetCheckRomIDCount(0, 0);
    YOZ_pFSwitchModeFunc = nullptr;
    YOZ_CommandNum = 0;
    FreeMem(YOZ_pEcbHdr);
    YOZ_pEcbHdr = nullptr;
    YOZ_SysRom_bECB_Is_Get = 0;
    YOZ_OpenFileOK = 0;
    YOZ_SysRomLoadOK = 0;
    YOZ_bMESupport = 0;
    YOZ_bZOZLoadFileOK = 0;
    YOZ_SecureFlashEnable = 0;
    YOZ_bCapHead = 0;
    YOZ_bNewCapFile = 0;
    YOZ_RomFile_SetFileEnable(nullptr);
}

static ENUM_ERR_ID GlobalParse(TKXArgvList&, TKX_QUEUE_ITEM* self) {
    if (!YOZ_ModeTakesPart(self->ModeMask)) return eEID_NO_ERROR;
    YOZ_Flash_Var_Init();
    YOZ_SysRom_Var_Init();
    YOZ_GlobalCheck_ResetGates();
    YOZ_RomFile_Init();
    YOZ_GlobalEndHookFuncList.clear();
    YOZ_RomFile_SetCheckRomID(1);
    YOZ_PreFlash_Reset();
    for (UINT32 i = 0; i < YOZ_GLOBAL_RESET_SLOTS && YozGlobalParseResetHooks[i] != nullptr; ++i) {
        YozGlobalParseResetHooks[i]();
    }
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID GlobalExecute(TKXQueueItemList&) {
    if (!YOZ_ModeTakesPart(s_GlobalItem.ModeMask)) return eEID_NO_ERROR;
    SetSMI_IFC_DelayTime_Linux();
    for (UINT32 i = 0; i < YOZ_GLOBAL_START_SLOTS && YozGlobalExecuteStartHooks[i] != nullptr; ++i) {
        YozGlobalExecuteStartHooks[i]();
    }
    YOZ_CheckSecureFlash();
    return eEID_NO_ERROR;
}

// Prints no help; only consults the mode filter.
static void GlobalHelp(UINT8) { YOZ_ModeTakesPart(s_GlobalItem.ModeMask); }

ENUM_ERR_ID RegisterYozGlobalQueueItem(TKXQueueItemList& items) {
    s_GlobalItem = TKX_QUEUE_ITEM{eMID_YOZGLOBAL, GlobalParse, GlobalExecute, GlobalHelp, nullptr, 1, 0,
                                  kGlobalOrderKey, YOZ_MODE_EVERY, 0};
    items.push_back(&s_GlobalItem);
    ResetRunState();
    YOZ_Flash_Var_Init();
    YOZ_InitGlobalLineCont();
    // The hidden options ("/SM:n" among them) exist from here on.
    YOZ_Set_AllowHideCommandStatus(1);
    return eEID_NO_ERROR;
}
