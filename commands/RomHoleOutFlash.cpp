// "/HOLEOUT:" followed by a GUID: saves one ROM hole of the system ROM (or
// one of its two SLP records) to the file named by word 1. Needs no image.
#include "TKXFile.h"
#include "YozGlobal.h"
#include "YozHoleStages.h"
#include "YozOptionStore.h"
#include "YozSwitchMode.h"
#include "YozSysRom.h"
#include "YozZozRecords.h"

static TKX_QUEUE_ITEM RomHoleOutFlashQueueItem;
static YOZ_STAGE_SLOTS s_Slots;
static EFI_GUID gRHO_InputRomHoleGUID;
static _ROMHOLEREC* gRHO_lpInputRomHoleREC = nullptr;
static FILE* gRHO_pFilePtr = nullptr;
static char* s_OutFileName = nullptr;

static CHECK_FUNC_ITEM RHOCheckFunc;
CHECK_FUNC_ITEM* PtrRHOCheckFunc = nullptr;

static ENUM_ERR_ID RHO_CheckRomFunc(INT16) { return eEID_NO_ERROR; }
static ENUM_ERR_ID RHO_CheckBlockFunc() { return eEID_NO_ERROR; }
static ENUM_ERR_ID RHO_ProcFlashBuffFunc();

// An existing file is replaced only when the operator agrees; otherwise
// nothing is written and the run goes on. Input that ends without an
// answer cancels the run.
static ENUM_ERR_ID RHO_OpenRomFileFunc() {
    UINT8 answer = YOZ_PromptReplaceFile(s_OutFileName);
    if (answer == YOZ_FILE_NO_ANSWER) return eEID_UPDATE_CANCEL_BY_USER;
    if (answer == YOZ_FILE_REFUSED) return eEID_OPEN_OUT_FILE;
    if (answer == YOZ_FILE_KEEP) s_Slots.ProcessFunc = nullptr;
    if (answer == YOZ_FILE_NEW) WriteOut(" Saving current Rom Hole into file: %s\n", s_OutFileName);
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID RHO_ProcFlashBuffFunc() {
    gRHO_lpInputRomHoleREC = RHO_Proc_CompRHREC(&gRHO_InputRomHoleGUID, YOZ_SysRHRECList);
    if (gRHOF_RomHole_TheSame) return eEID_EXIST_SAME_HOLE_GUID;
    if (gRHO_lpInputRomHoleREC == nullptr)
        gRHO_lpInputRomHoleREC = RHO_Proc_CompOtherRHREC(&gRHO_InputRomHoleGUID, YOZ_SysSLPRHRECList, YOZ_MAX_SLP);
    if (gRHO_lpInputRomHoleREC == nullptr) return eEID_NOT_MATCH_NCB;
    UINT8* system = YOZ_SysRom_GetBuffer();
    if (system == nullptr) return eEID_MEM_ALLOC;
    // A read that lied never reaches the file.
    ENUM_ERR_ID agreed = YOZ_SysRom_CopyAgrees(gRHO_lpInputRomHoleREC->RomOffset, gRHO_lpInputRomHoleREC->Size);
    if (agreed != eEID_NO_ERROR) return agreed;
    gRHO_pFilePtr = TKX_CreateNewFile(s_OutFileName);
    if (gRHO_pFilePtr == nullptr) return eEID_OPEN_OUT_FILE;
    ENUM_ERR_ID result = RHO_Proc_RomHoleWriteToFile(gRHO_pFilePtr, system, gRHO_lpInputRomHoleREC);
    gRHO_pFilePtr = nullptr;  // committed by the writer, or left to the run's end
    return result;
}

static ENUM_ERR_ID RomHoleOutFlashParse(TKXArgvList& args, TKX_QUEUE_ITEM* self) {
    self->Enabled = 0;
    if (!YOZ_ModeTakesPart(self->ModeMask)) return eEID_NO_ERROR;
    gRHO_InputRomHoleGUID = EFI_GUID{};
    gRHO_lpInputRomHoleREC = nullptr;
    ENUM_ERR_ID result = YOZ_Hole_GuidParse(self, args, "/HOLEOUT:", &gRHO_InputRomHoleGUID, &s_OutFileName);
    if (result != eEID_NO_ERROR) return result;
    YOZ_SetHOLEOUTCmdIsEnable(&self->Enabled);
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID RomHoleOutFlashExecute(TKXQueueItemList&) {
    if (!YOZ_ModeTakesPart(RomHoleOutFlashQueueItem.ModeMask)) return eEID_NO_ERROR;
    if (YOZ_GetCapsuleMode() || YOZ_GetRecoveryMode()) return eEID_NO_ERROR;
    gRHO_pFilePtr = nullptr;
    gRHO_lpInputRomHoleREC = nullptr;
    gRHOF_RomHole_TheSame = 0;
    return YOZ_RunStages(s_Slots, "O Z P F ZF");
}

static void RomHoleOutFlashHelp(UINT8 pass) {
    static const char* const kLines[] = {
        "|%*s - Save specific ROM Hole according to RomHole GUID.            |\n",
        "|%*s   NewRomHole1.BIN /HOLEOUT:GUID                                |\n",
    };
    YOZ_OptionHelp(RomHoleOutFlashQueueItem, pass, "/HOLEOUT:", "", kLines, 2);
}

ENUM_ERR_ID RegisterRomHoleOutFlashQueueItem(TKXQueueItemList& items) {
    RomHoleOutFlashQueueItem = TKX_QUEUE_ITEM{eMID_ROMHOLEOUTFLASH, RomHoleOutFlashParse, RomHoleOutFlashExecute,
                                              RomHoleOutFlashHelp, nullptr, 0, 0, 0x8000,
                                              YOZ_MODE_NORMAL | YOZ_MODE_FTF, 0};
    items.push_back(&RomHoleOutFlashQueueItem);
    YOZ_ZOZ_RegisterModule(eMID_ROMHOLEOUTFLASH, "/HOLEOUT:");
    RHOCheckFunc = CHECK_FUNC_ITEM{RHO_CheckRomFunc, RHO_CheckBlockFunc, 0, 0, 0, 0, 0, 0,
                                   &RomHoleOutFlashQueueItem.Enabled};
    PtrRHOCheckFunc = &RHOCheckFunc;
    s_Slots = YOZ_STAGE_SLOTS{};
    s_Slots.OpenFileFunc = RHO_OpenRomFileFunc;
    s_Slots.ProcessFunc = RHO_ProcFlashBuffFunc;
    gRHO_InputRomHoleGUID = EFI_GUID{};
    return eEID_NO_ERROR;
}
