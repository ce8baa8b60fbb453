// "/L": programs every ROM hole of the system from the ROM image; the
// module's own execute function processes and flashes.
#include "SecureFlash.h"
#include "TKXString.h"
#include "YozGlobal.h"
#include "YozHoleStages.h"
#include "YozOptionStore.h"
#include "YozRomFile.h"
#include "YozSwitchMode.h"
#include "YozSysRom.h"
#include "YozZozRecords.h"

static TKX_QUEUE_ITEM RHFullFlashQueueItem;
static YOZ_STAGE_SLOTS s_Slots;
static TKXQueueItemList* pModuleItemList = nullptr;
static ENUM_ERR_ID RHFO_SecureFlashFunc();
static YOZ_HOLE_AHEAD s_Ahead;
static const YOZ_HOLE_MODULE kModule = {&YOZ_RHFProc,         &s_Slots,  &pModuleItemList, &gRHFF_FV_BootEnable,
                                        &gRHFF_FV_MainEnable, RHFO_SecureFlashFunc, &s_Ahead};

static CHECK_FUNC_ITEM RHFullCheckFunc;
CHECK_FUNC_ITEM* PtrRHFullCheckFunc = nullptr;

static ENUM_ERR_ID RHFO_CheckRomFunc(INT16 sizeStatus) { return YOZ_RegionOpen_SizeCheck(sizeStatus); }

static ENUM_ERR_ID RHFO_CheckBlockFunc() {
    if (FLASH_IsSecureFlashSupported() && !YOZ_bCapHead) return eEID_SECURE_FLASH_SUPPORT_FILE;
    YOZ_RomFile_SearchNCB(YOZ_RomFile_GetBuffer());
    UINT8 systemHoles = YOZ_SysRom_GetRomHoleNumber();
    UINT8 imageHoles = YOZ_RomFile_GetRomHoleNumber();
    UINT8 wholeBios = YOZ_GetPBNCmdIsEnable();
    if (systemHoles == 0 && !wholeBios) return eEID_ROMHOLE_NOT_EXIST;
    if (imageHoles == 0) return eEID_INVALID_HOLE;
    if (YOZ_GetSecureFlashStatus() && systemHoles != imageHoles) {
        bool layoutPlatform = (YOZ_GetMLAP_APL_isExist() || YOZ_GetMLAP_FTF_isExist()) && YOZ_GetPCmdIsEnable() &&
                              YOZ_GetNCmdIsEnable();
        if (!wholeBios && !layoutPlatform) return eEID_INVALID_HOLE_LAYOUT;
    }
    if (systemHoles > YOZ_MAX_ROMHOLE || imageHoles > YOZ_MAX_ROMHOLE) return eEID_INVALID_HOLE;
    if (static_cast<UINT32>(imageHoles) + YOZ_SysNCBCnt > YOZ_MAX_ROMHOLE) return eEID_NON_CRITICAL_BLOCK;
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID RHFO_ProcFlashBuffFunc() { return YOZ_Hole_ProcessImage(kModule, nullptr); }
static ENUM_ERR_ID RHFO_FlashFunc() { return YOZ_Hole_FlashStage(gRHFF_AllBlockSize); }
static ENUM_ERR_ID RHFO_SecureFlashFunc() { return YOZ_Hole_SecureFlash(kModule); }

static ENUM_ERR_ID RHFullFlashParse(TKXArgvList& args, TKX_QUEUE_ITEM* self) {
    if (!YOZ_ModeTakesPart(self->ModeMask)) return eEID_NO_ERROR;
    RHF_FuncVar_Init();
    s_Ahead = YOZ_HOLE_AHEAD{};
    self->Enabled = 0;
    for (unsigned long i = 1; i < args.size(); ++i) {
        if (IdentifyArg(args[i]->text, "/L", 1) != 1) continue;
        if (args.size() <= 2) return eEID_COMMAND_LINE;
        self->Enabled = 1;
        args[i]->claimed = 1;
    }
    YOZ_SetRHFullCmdIsEnable(&self->Enabled);
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID RHFullFlashExecute(TKXQueueItemList& items) {
    if (!YOZ_ModuleRuns(RHFullFlashQueueItem)) return eEID_NO_ERROR;
    pModuleItemList = &items;
    ENUM_ERR_ID result = YOZ_PreFlash_Run();
    return result != eEID_NO_ERROR ? result : YOZ_RunStages(s_Slots, YOZ_ORDER_OPEN);
}

static ENUM_ERR_ID RHFullPreFlash(const void*) {
    return YOZ_ModuleRuns(RHFullFlashQueueItem) ? YOZ_Hole_PreFlash(kModule, nullptr) : eEID_NO_ERROR;
}

static void RHFullFlashHelp(UINT8 pass) {
    static const char* const kLines[] = {"|%*s - Program all ROM Holes.                                       |\n"};
    YOZ_OptionHelp(RHFullFlashQueueItem, pass, "/L", "", kLines, 1);
}

ENUM_ERR_ID RegisterRHFullFlashQueueItem(TKXQueueItemList& items) {
    RHFullFlashQueueItem = TKX_QUEUE_ITEM{eMID_RHFULLFLASH, RHFullFlashParse, RHFullFlashExecute, RHFullFlashHelp,
                                          nullptr, 0, 0, 0x7FFF, YOZ_MODE_NORMAL | YOZ_MODE_FTF, 1};
    items.push_back(&RHFullFlashQueueItem);
    pModuleItemList = &items;
    YOZ_ZOZ_RegisterModule(eMID_RHFULLFLASH, "/L");
    RHFullCheckFunc = CHECK_FUNC_ITEM{RHFO_CheckRomFunc, RHFO_CheckBlockFunc, 1, 1, 1, 1, 1, 1,
                                      &RHFullFlashQueueItem.Enabled};
    PtrRHFullCheckFunc = &RHFullCheckFunc;
    s_Slots = YOZ_STAGE_SLOTS{};
    s_Slots.ProcessFunc = RHFO_ProcFlashBuffFunc;
    s_Slots.FlashFunc = RHFO_FlashFunc;
    RHF_FuncVar_Init();
    YOZ_PreFlash_Join(&RHFullFlashQueueItem.Enabled, RHFullPreFlash, nullptr);
    return eEID_NO_ERROR;
}
