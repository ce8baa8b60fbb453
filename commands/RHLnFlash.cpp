// "/L" followed by a hole number (0 to 15): programs the chosen ROM holes
// from a whole image, or from a file that holds one hole's data (bin-file
// mode); the firmware's configuration answer makes the final choice.
#include <cstring>
#include "TKXString.h"
#include "YozFlash.h"
#include "YozGlobal.h"
#include "YozHoleStages.h"
#include "YozOptionStore.h"
#include "YozRomFile.h"
#include "YozSwitchMode.h"
#include "YozSysRom.h"
#include "YozZozRecords.h"

static TKX_QUEUE_ITEM RHLnFlashQueueItem;
static YOZ_STAGE_SLOTS s_Slots;
static TKXQueueItemList* pModuleItemList = nullptr;
static ENUM_ERR_ID RHNF_SecureFlashFunc();
static YOZ_HOLE_AHEAD s_Ahead;
static const YOZ_HOLE_MODULE kModule = {&YOZ_RHNProc,        &s_Slots,  &pModuleItemList, &gRHN_FV_BootEnable,
                                        &gRHN_FV_MainEnable, RHNF_SecureFlashFunc, &s_Ahead};

static CHECK_FUNC_ITEM RHLnCheckFunc;
CHECK_FUNC_ITEM* PtrRHLnCheckFunc = nullptr;

// A file smaller than the flash part holds one hole's data: no checksum or
// ROM-ID checks apply to it.
static ENUM_ERR_ID RHLN_CheckRomFunc(INT16 sizeStatus) {
    if (sizeStatus == 0) return eEID_NO_ERROR;
    if (sizeStatus != -1) return eEID_WRONG_ROM_FILE_SIZE;
    RHLnCheckFunc.needsFileProcessing = 0;
    RHLnCheckFunc.spare1 = 0;
    RHLnCheckFunc.needsFfsChecksum = 0;
    RHLnCheckFunc.spare2 = 0;
    RHLnCheckFunc.needsRomIdCheck = 0;
    gRHN_UseBinFile = 1;
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID RHLN_CheckBlockFunc() {
    if (gRHN_UseBinFile) {
        UINT8* system = YOZ_SysRom_GetBuffer();
        if (YOZ_GetSecureFlashStatus() && (system == nullptr || !YOZ_RomFile_CheckNewCAPGUID(system, gRomSize)))
            return eEID_SECURE_FLASH_SUPPORT_FILE;
        return eEID_NO_ERROR;
    }
    YOZ_RomFile_SearchNCB(YOZ_RomFile_GetBuffer());
    UINT8 systemHoles = YOZ_SysRom_GetRomHoleNumber();
    UINT8 imageHoles = YOZ_RomFile_GetRomHoleNumber();
    if (systemHoles == 0) return eEID_ROMHOLE_NOT_EXIST;
    if (imageHoles == 0) return eEID_INVALID_HOLE;
    if (systemHoles != imageHoles) return eEID_INVALID_HOLE_LAYOUT;
    if (systemHoles > YOZ_MAX_ROMHOLE) return eEID_INVALID_HOLE;
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID RHNF_ProcSigleFlashBuffFunc();
static ENUM_ERR_ID RHNF_SigleWriteOnceFlashFunc() { return YOZ_Hole_WriteOnceStage(gRHNF_AllBlockSize); }

static ENUM_ERR_ID RHNF_OpenRomFileFunc() {
    if (gRHN_UseBinFile) s_Slots.ProcessFunc = RHNF_ProcSigleFlashBuffFunc;
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID RHNF_ProcFullFlashBuffFunc() { return YOZ_Hole_ProcessImage(kModule, gRHN_InputLnList); }

// Every chosen hole receives the file's data.
static ENUM_ERR_ID RHNF_ProcSigleFlashBuffFunc() {
    UINT8* map = YOZ_Hole_DoItList();
    UINT8* system = YOZ_SysRom_GetBuffer();
    if (map == nullptr || system == nullptr) return eEID_MEM_ALLOC;
    ENUM_ERR_ID result = RHN_Proc_SingleFileToFlashBuff(system, YOZ_RomFile_GetBuffer(), YOZ_OpenFileSize,
                                                        YOZ_SysRHRECList, gRHN_InputLnList);
    if (result != eEID_NO_ERROR) return result;
    gRHNF_AllBlockSize = RHN_Proc_MakeDoItList2(map, gRHN_InputLnList);
    if (gRHNF_AllBlockSize == 0) return eEID_ROMHOLE_NOT_EXIST;
    if (YOZ_GetSecureFlashStatus()) {
        s_Slots.FlashFunc = RHNF_SigleWriteOnceFlashFunc;
    } else if (YOZ_bCAFFlag) {
        // The file holds one hole only: the compare reads the system copy, which holds every marked block.
        YOZ_SetFlashMsg(YOZ_FLASH_MSG_NCB, gRHNF_AllBlockSize);
        gRHNF_AllBlockSize = RHN_Proc_MakeCAFDoItList(system, map, gRHNF_AllBlockSize);
    }
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID RHNF_FlashFunc() { return YOZ_Hole_FlashStage(gRHNF_AllBlockSize); }
static ENUM_ERR_ID RHNF_SecureFlashFunc() { return YOZ_Hole_SecureFlash(kModule); }

static ENUM_ERR_ID RHLnFlashParse(TKXArgvList& args, TKX_QUEUE_ITEM* self) {
    RHN_FuncVar_Init();
    s_Ahead = YOZ_HOLE_AHEAD{};
    self->Enabled = 0;
    if (!YOZ_ModeTakesPart(self->ModeMask)) return eEID_NO_ERROR;
    memset(gRHN_InputLnList, 0, sizeof(gRHN_InputLnList));
    gRHN_LnNum = 0;
    for (unsigned long i = 1; i < args.size(); ++i) {
        const char* number = IdentifyArgPrefix(args[i]->text, "/L");
        if (number == nullptr || number[0] == '\0') continue;
        if (args.size() <= 2) return eEID_COMMAND_LINE;
        int n = YOZ_RegionNumberWord(number);
        if (n == -1) continue;
        YOZ_ClaimOptionWord(self, args, i);
        if (n < 0 || n >= YOZ_MAX_ROMHOLE) return eEID_INVALID_HOLE;
        if (!gRHN_InputLnList[n]) ++gRHN_LnNum;
        gRHN_InputLnList[n] = 1;
    }
    YOZ_SetRHLnCmdIsEnable(&self->Enabled);
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID RHLnFlashExecute(TKXQueueItemList& items) {
    if (!YOZ_ModuleRuns(RHLnFlashQueueItem)) return eEID_NO_ERROR;
    pModuleItemList = &items;
    ENUM_ERR_ID result = YOZ_PreFlash_Run();
    if (result != eEID_NO_ERROR) return result;
    if (!RHNF_BitDataToLnValue(gRHN_InputLnList)) return eEID_NO_ERROR;
    return YOZ_RunStages(s_Slots, YOZ_ORDER_FLASH);
}

// A single hole's file: every chosen hole must be in the system, have room
// for it and take it as write-once data.
static ENUM_ERR_ID SingleFileFits() {
    UINT32 systemHoles = YOZ_HoleCount(YOZ_SysRom_GetRomHoleNumber());
    for (UINT32 i = 0; i < YOZ_MAX_ROMHOLE; ++i) {
        if (!gRHN_InputLnList[i]) continue;
        UINT32 room = 0;
        if (i >= systemHoles || YOZ_SysRHRECList[i].Size == 0) return eEID_ROMHOLE_NOT_EXIST;
        if (!RHP_PayloadRoom(&YOZ_SysRHRECList[i], YOZ_FFS_HEADER_SIZE, &room) || YOZ_OpenFileSize > room)
            return eEID_NOT_MATCH_HOLE;
        ENUM_ERR_ID taken =
            RHP_CheckHoleData(YOZ_SysRom_GetBuffer(), YOZ_RomFile_GetBuffer(), YOZ_OpenFileSize, YOZ_SysRHRECList[i]);
        if (taken != eEID_NO_ERROR) return taken;
    }
    return eEID_NO_ERROR;
}

// The holes are the firmware's choice, as in the module's turn.
static ENUM_ERR_ID RHLnPreFlash(const void*) {
    if (!YOZ_ModuleRuns(RHLnFlashQueueItem) || !RHNF_BitDataToLnValue(gRHN_InputLnList)) return eEID_NO_ERROR;
    return gRHN_UseBinFile ? SingleFileFits() : YOZ_Hole_PreFlash(kModule, gRHN_InputLnList);
}

static void RHLnFlashHelp(UINT8 pass) {
    static const char* const kLines[] = {"|%*s - Program n'th ROM Hole only(n=0-15).                          |\n"};
    YOZ_OptionHelp(RHLnFlashQueueItem, pass, "/L", "n", kLines, 1);
}

ENUM_ERR_ID RegisterRHLnFlashQueueItem(TKXQueueItemList& items) {
    RHLnFlashQueueItem = TKX_QUEUE_ITEM{eMID_RHLNFLASH, RHLnFlashParse, RHLnFlashExecute, RHLnFlashHelp, nullptr,
                                        0, 0, 0x7FFF, YOZ_MODE_NORMAL | YOZ_MODE_FTF, 1};
    items.push_back(&RHLnFlashQueueItem);
    pModuleItemList = &items;
    YOZ_ZOZ_RegisterModule(eMID_RHLNFLASH, "/L");
    RHLnCheckFunc = CHECK_FUNC_ITEM{RHLN_CheckRomFunc, RHLN_CheckBlockFunc, 1, 1, 1, 1, 1, 1,
                                    &RHLnFlashQueueItem.Enabled};
    PtrRHLnCheckFunc = &RHLnCheckFunc;
    s_Slots = YOZ_STAGE_SLOTS{};
    s_Slots.OpenFileFunc = RHNF_OpenRomFileFunc;
    s_Slots.ProcessFunc = RHNF_ProcFullFlashBuffFunc;
    s_Slots.FlashFunc = RHNF_FlashFunc;
    memset(gRHN_InputLnList, 0, sizeof(gRHN_InputLnList));
    YOZ_pInputLnList = gRHN_InputLnList;
    RHN_FuncVar_Init();
    YOZ_PreFlash_Join(&RHLnFlashQueueItem.Enabled, RHLnPreFlash, nullptr);
    return eEID_NO_ERROR;
}
