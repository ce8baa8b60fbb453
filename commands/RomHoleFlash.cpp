// "/HOLE:" followed by a GUID: programs one ROM hole of the system (or one
// of its two SLP records), found by its GUID, from a file that holds the
// hole's data.
#include "YozFlash.h"
#include "YozGlobal.h"
#include "YozHoleStages.h"
#include "YozOptionStore.h"
#include "YozRomFile.h"
#include "YozSwitchMode.h"
#include "YozSysRom.h"
#include "YozZozRecords.h"

static TKX_QUEUE_ITEM RomHoleFlashQueueItem;
static YOZ_STAGE_SLOTS s_Slots;
static EFI_GUID gRH_InputRomHoleGUID;
static _ROMHOLEREC* gRH_lpInputRomHoleREC = nullptr;

static CHECK_FUNC_ITEM RomHoleCheckFunc;
CHECK_FUNC_ITEM* PtrRomHoleCheckFunc = nullptr;

static ENUM_ERR_ID RH_FlashFunc() { return YOZ_Hole_FlashStage(gRHF_AllBlockSize); }
static ENUM_ERR_ID RH_Write_OnceFlashFunc() { return YOZ_Hole_WriteOnceStage(gRHF_AllBlockSize); }

// The hole file must be smaller than the flash part.
static ENUM_ERR_ID RH_CheckRomFunc(INT16 sizeStatus) {
    return sizeStatus == -1 ? eEID_NO_ERROR : eEID_NOT_MATCH_ROM_SIZE;
}

// Also the module's own first stage; a repeated call gives the same outcome.
static ENUM_ERR_ID RH_CheckBlockFunc() {
    if (YOZ_GetSecureFlashStatus()) {
        UINT8* system = YOZ_SysRom_GetBuffer();
        if (system == nullptr || !YOZ_RomFile_CheckNewCAPGUID(system, gRomSize)) return eEID_SECURE_FLASH_SUPPORT_FILE;
        s_Slots.FlashFunc = RH_Write_OnceFlashFunc;
    } else {
        s_Slots.FlashFunc = RH_FlashFunc;
    }
    if (YOZ_SysRom_GetRomHoleNumber() == 0 && !YOZ_SysRom_HaveSLP20()) return eEID_ROMHOLE_NOT_EXIST;
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID RH_ProcFlashBuffFunc() {
    UINT8* map = YOZ_Hole_DoItList();
    if (map == nullptr) return eEID_MEM_ALLOC;
    gRH_lpInputRomHoleREC = RH_Proc_CompRHREC(&gRH_InputRomHoleGUID, YOZ_SysRHRECList);
    if (gRHF_RomHole_TheSame) return eEID_EXIST_SAME_HOLE_GUID;
    if (gRH_lpInputRomHoleREC == nullptr)
        gRH_lpInputRomHoleREC = RH_Proc_CompOtherRHREC(&gRH_InputRomHoleGUID, YOZ_SysSLPRHRECList, YOZ_MAX_SLP);
    if (gRH_lpInputRomHoleREC == nullptr) return eEID_FAIL_UPDATE_HOLE;
    UINT8* system = YOZ_SysRom_GetBuffer();
    if (system == nullptr) return eEID_MEM_ALLOC;
    ENUM_ERR_ID result =
        RH_Proc_FileRHToFlashBuff(system, YOZ_RomFile_GetBuffer(), YOZ_OpenFileSize, gRH_lpInputRomHoleREC);
    if (result != eEID_NO_ERROR) return result;
    gRHF_AllBlockSize = RH_Proc_MakeDoItList(map, gRH_lpInputRomHoleREC);
    if (YOZ_bCAFFlag) {
        YOZ_SetFlashMsg(YOZ_FLASH_MSG_ROMHOLE, gRHF_AllBlockSize);
        gRHF_AllBlockSize = RH_Proc_MakeCAFDoItList(system, map, gRHF_AllBlockSize);
    }
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID RomHoleFlashParse(TKXArgvList& args, TKX_QUEUE_ITEM* self) {
    RH_FuncVar_Init();
    self->Enabled = 0;
    if (!YOZ_ModeTakesPart(self->ModeMask)) return eEID_NO_ERROR;
    gRH_InputRomHoleGUID = EFI_GUID{};
    gRH_lpInputRomHoleREC = nullptr;
    ENUM_ERR_ID result = YOZ_Hole_GuidParse(self, args, "/HOLE:", &gRH_InputRomHoleGUID, nullptr);
    if (result != eEID_NO_ERROR) return result;
    YOZ_SetHOLECmdIsEnable(&self->Enabled);
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID RomHoleFlashExecute(TKXQueueItemList&) {
    if (!YOZ_ModeTakesPart(RomHoleFlashQueueItem.ModeMask)) return eEID_NO_ERROR;
    if (YOZ_GetCapsuleMode() || YOZ_GetRecoveryMode()) return eEID_NO_ERROR;
    ENUM_ERR_ID result = YOZ_PreFlash_Run();
    if (result == eEID_NO_ERROR) result = RH_CheckBlockFunc();
    if (result != eEID_NO_ERROR) return result;
    return YOZ_RunStages(s_Slots, "Z P F ZF");
}

static void RomHoleFlashHelp(UINT8 pass) {
    static const char* const kLines[] = {
        "|%*s - Update specific ROM Hole according to RomHole GUID.          |\n",
        "|%*s   NewRomHole1.BIN /HOLE:GUID                                   |\n",
    };
    YOZ_OptionHelp(RomHoleFlashQueueItem, pass, "/HOLE:", "", kLines, 2);
}

ENUM_ERR_ID RegisterRomHoleFlashQueueItem(TKXQueueItemList& items) {
    RomHoleFlashQueueItem = TKX_QUEUE_ITEM{eMID_ROMHOLEFLASH, RomHoleFlashParse, RomHoleFlashExecute,
                                           RomHoleFlashHelp, nullptr, 0, 0, 0x8000, YOZ_MODE_NORMAL | YOZ_MODE_FTF, 0};
    items.push_back(&RomHoleFlashQueueItem);
    YOZ_ZOZ_RegisterModule(eMID_ROMHOLEFLASH, "/HOLE:");
    RomHoleCheckFunc = CHECK_FUNC_ITEM{RH_CheckRomFunc, RH_CheckBlockFunc, 1, 0, 1, 0, 0, 0,
                                       &RomHoleFlashQueueItem.Enabled};
    PtrRomHoleCheckFunc = &RomHoleCheckFunc;
    s_Slots = YOZ_STAGE_SLOTS{};
    s_Slots.ProcessFunc = RH_ProcFlashBuffFunc;
    s_Slots.FlashFunc = RH_FlashFunc;
    gRH_InputRomHoleGUID = EFI_GUID{};
    gRH_lpInputRomHoleREC = nullptr;
    RH_FuncVar_Init();
    return eEID_NO_ERROR;
}
