// "/OAD": erases the OEM activation key of the system (the "$FID" record's
// key area or the OA block); its follow-up raises no SMI.
#include <cstring>
#include "TKXString.h"
#include "YozFlash.h"
#include "YozGlobal.h"
#include "YozOakStages.h"
#include "YozOptionStore.h"
#include "YozRomFile.h"
#include "YozSwitchMode.h"
#include "YozSysRom.h"
#include "YozZozRecords.h"

static TKX_QUEUE_ITEM deleteoemactkeyQueueItem;
static TKX_QUEUE_ITEM oadnotifyQueueItem;
static CHECK_FUNC_ITEM DeleteOAKCheckFunc;
CHECK_FUNC_ITEM* PtrDeleteOAKCheckFunc = nullptr;
static YOZ_STAGE_SLOTS s_Slots;
UINT8 OAD_bRunOAKNotify = 0;

static ENUM_ERR_ID OAD_CheckRomFunc(INT16 sizeStatus) { return YOZ_Oak_SizeCheck(DeleteOAKCheckFunc, sizeStatus); }

// A ROM file in use replaces the system copy (the flash is written from it);
// only a whole image does.
static ENUM_ERR_ID TakeRomImage() {
    if (!YOZ_RomFile_GetFileEnable()) return eEID_NO_ERROR;
    UINT8* image = YOZ_RomFile_GetBuffer();
    if (image == nullptr || YOZ_pFlashBuff == nullptr) return eEID_MEM_ALLOC;
    if (YOZ_OpenFileSize != gRomSize) return eEID_WRONG_ROM_FILE_SIZE;
    memcpy(YOZ_pFlashBuff, image, gRomSize);
    return eEID_NO_ERROR;
}

// The ROM image's blocks to be rewritten keep the system's holes and SLP
// key (the system copy itself holds them).
static ENUM_ERR_ID CarryIntoRomImage() {
    if (!YOZ_RomFile_GetFileEnable()) return eEID_NO_ERROR;
    return YOZ_Oak_CarrySystemData(&YOZ_OADProc, YOZ_pFlashBuff, gRomSize);
}

static ENUM_ERR_ID OAD_NCBFlashFunc() {
    return YOZ_Oak_BlockStage(YOZ_pFlashBuff, YOZ_FLASH_MSG_OA, gOADF_AllBlockSize, &OAD_bRunOAKNotify);
}

static ENUM_ERR_ID OAD_SingFlashFunc() {
    // With a ROM file the boot blocks of the image, whose key was cleared,
    // are flashed (through the firmware's session under secure flash).
    // Without one the blocks that hold the record are rewritten from the
    // system copy, or under secure flash the key area alone.
    bool romFile = YOZ_RomFile_GetFileEnable() != 0;
    if (YOZ_GetSecureFlashStatus()) {
        if (!romFile) return YOZ_Oak_ItemsStage(YOZ_pFlashBuff, gRomSize, &OAD_bRunOAKNotify);
        ENUM_ERR_ID status = YOZ_Oak_SecureStart(YOZ_pFlashBuff);
        if (status != eEID_NO_ERROR) return status;
    }
    return YOZ_Oak_ActionStage(YOZ_pFlashBuff, YOZ_FLASH_MSG_BOOT, gOADF_AllBlockSize, &OAD_bRunOAKNotify);
}

static ENUM_ERR_ID OAD_ProcSingleOAKFlashBuffFunc() {
    ENUM_ERR_ID status = YOZ_RegionFlash_AllocMap();
    if (status != eEID_NO_ERROR) return status;
    if (YOZ_SysRom_GetVer4Fid(YOZ_pFlashBuff) == nullptr) {
        WriteOut(" - Warning: System doesn't have Activation Key, Activation Key update canceled.\n");
        return eEID_OAK_NO_SUPPORT_ERROR;
    }
    s_Slots.FlashFunc = OAD_SingFlashFunc;
    status = OAD_Proc_UpdateOemActKey(YOZ_pFlashBuff, YOZ_OA_KEY_AREA);
    if (status == eEID_NO_ERROR) status = TakeRomImage();
    if (status != eEID_NO_ERROR) return status;
    // Without a ROM file only the blocks that hold the record, its key
    // cleared; with one the boot blocks of the image and, as "/A" writes
    // them, the blocks of the image's record.
    if (YOZ_RomFile_GetFileEnable()) {
        gOADF_AllBlockSize = OAD_Proc_MakeTypeDoItList(YOZ_pFlashMap, static_cast<char>(YOZ_BLOCK_BOOT));
    } else {
        memset(YOZ_pFlashMap, 0, gpFlashInfo->BlockCount);
        gOADF_AllBlockSize = 0;
    }
    gOADF_AllBlockSize += OAK_MarkKeyBlocks(YOZ_pFlashMap, YOZ_pFlashBuff);
    // A key left outside what is rewritten would stay on the flash.
    if (!OAK_BlocksMarked(YOZ_pFlashMap, gOADF_FidSystemOffset + YOZ_FID_KEY_DATA, YOZ_OA_KEY_AREA))
        return eEID_OAK_REGION_ERROR;
    return CarryIntoRomImage();
}

static ENUM_ERR_ID OAD_ProcNCBOAKFlashBuffFunc() {
    ENUM_ERR_ID status = YOZ_RegionFlash_AllocMap();
    if (status != eEID_NO_ERROR) return status;
    UINT32 start = YOZ_SysRom_GetOAKeyStartAddress(0);
    UINT32 area = YOZ_SysRom_GetOAKeyBlockSize(0) < YOZ_OA_KEY_AREA ? YOZ_SysRom_GetOAKeyBlockSize(0) : YOZ_OA_KEY_AREA;
    if (YOZ_pFlashBuff == nullptr || !YOZ_RangeInside(start, area, gRomSize)) return eEID_OAK_REGION_ERROR;
    ENUM_ERR_ID empty = OAD_Proc_CheckOldOAData(YOZ_pFlashBuff + start, area);
    status = TakeRomImage();
    if (status != eEID_NO_ERROR) return status;
    if (empty != eEID_NO_ERROR) return empty;
    memset(YOZ_pFlashBuff + start, 0xFF, area);
    gOADF_AllBlockSize = OAD_Proc_MakeTypeDoItList(YOZ_pFlashMap, static_cast<char>(YOZ_BLOCK_OA));
    s_Slots.FlashFunc = OAD_NCBFlashFunc;
    return CarryIntoRomImage();
}

static ENUM_ERR_ID OAD_CheckBlockFunc() {
    if (YOZ_SysRom_HaveOAKeyBlock()) s_Slots.ProcessFunc = OAD_ProcNCBOAKFlashBuffFunc;
    return eEID_NO_ERROR;
}

// What the processing stage would refuse, asked in the run's pre-flash
// walk without changing anything: the key to delete, and what the blocks a
// ROM file rewrites keep. In eMMC 2x2 mode the key is read in the turn.
static ENUM_ERR_ID OadPreFlash(const void*) {
    if (!YOZ_ModuleRuns(deleteoemactkeyQueueItem) || YOZ_GetEMMC_2x2_Mode()) return eEID_NO_ERROR;
    UINT8* system = YOZ_SysRom_GetBuffer();
    if (system == nullptr) return eEID_MEM_ALLOC;
    if (!YOZ_RomFile_GetFileEnable()) YOZ_Oak_KeepCopy(false);
    if (YOZ_SysRom_HaveOAKeyBlock()) {
        UINT32 start = YOZ_SysRom_GetOAKeyStartAddress(0);
        UINT32 area = YOZ_SysRom_GetOAKeyBlockSize(0) < YOZ_OA_KEY_AREA ? YOZ_SysRom_GetOAKeyBlockSize(0) : YOZ_OA_KEY_AREA;
        if (!YOZ_RangeInside(start, area, gRomSize)) return eEID_OAK_REGION_ERROR;
        return OAD_Proc_CheckOldOAData(system + start, area);
    }
    if (YOZ_SysRom_GetVer4Fid(system) == nullptr) {
        WriteOut(" - Warning: System doesn't have Activation Key, Activation Key update canceled.\n");
        return eEID_OAK_NO_SUPPORT_ERROR;
    }
    ENUM_ERR_ID status = OAD_Proc_CheckDelete(system, YOZ_OA_KEY_AREA);
    if (status != eEID_NO_ERROR || !YOZ_RomFile_GetFileEnable()) return status;
    return YOZ_Oak_KeyBlocksKept(YOZ_RomFile_GetBuffer(), true);
}

static void ResetState() {
    OAD_bRunOAKNotify = 0;
    OAD_FuncVar_Init();
    s_Slots = YOZ_STAGE_SLOTS{};
    s_Slots.LoadSysMemFunc = YOZ_Oak_LoadSystemCopy;
    s_Slots.CheckOABlockFunc = OAD_CheckBlockFunc;
    s_Slots.ProcessFunc = OAD_ProcSingleOAKFlashBuffFunc;
    s_Slots.FlashFunc = OAD_SingFlashFunc;
}

static ENUM_ERR_ID OadParse(TKXArgvList& args, TKX_QUEUE_ITEM* self) {
    ResetState();
    self->Enabled = 0;
    if (!YOZ_ModeTakesPart(self->ModeMask)) return eEID_NO_ERROR;
    for (unsigned long i = 1; i < args.size(); ++i) {
        if (IdentifyArg(args[i]->text, "/OAD", 1) != 1) continue;
        self->Enabled = 1;
        args[i]->claimed = 1;
        // Word 1 names the ROM file unless it is the option itself.
        if (i == 1) continue;
        args[1]->claimed = 1;
        if (YOZ_pFileName == nullptr) YOZ_pFileName = args[1]->text;
    }
    YOZ_Oak_ImageChecks(DeleteOAKCheckFunc, self->Enabled && YOZ_pFileName != nullptr);
    YOZ_SetDeleteOAKeyCmdIsEnable(&self->Enabled);
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID OadExecute(TKXQueueItemList& items) {
    if (YOZ_ModuleRuns(deleteoemactkeyQueueItem)) {
        ENUM_ERR_ID checked = YOZ_PreFlash_Run();
        if (checked != eEID_NO_ERROR) return checked;
    }
    return YOZ_Oak_Execute(deleteoemactkeyQueueItem, s_Slots, "L A Z P F ZF", &OAD_bRunOAKNotify, items,
                           eMID_DELETEOAKNOTIFY);
}

static void OadHelp(UINT8 pass) {
    YOZ_Oak_Help(deleteoemactkeyQueueItem, pass, "/OAD",
                 "|%*s - Refer to Options: /OAD                                       |\n",
                 "|%*s - Delete Oem Activation key                                    |\n");
}

// The follow-up raises no SMI: it only looks the firmware ID up.
static ENUM_ERR_ID OadNotifyExecute(TKXQueueItemList&) {
    if (!YOZ_ModeTakesPart(oadnotifyQueueItem.ModeMask) || YOZ_GetEMMC_2x2_Mode()) return eEID_NO_ERROR;
    UINT8* system = YOZ_SysRom_GetBuffer();
    if (system == nullptr) return eEID_MEM_ALLOC;
    YOZ_SysRom_GetVer4Fid(system);
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID NoParse(TKXArgvList&, TKX_QUEUE_ITEM*) { return eEID_NO_ERROR; }
static void NoHelp(UINT8) {}

ENUM_ERR_ID RegisterdeleteoemactkeyQueueItem(TKXQueueItemList& items) {
    deleteoemactkeyQueueItem = TKX_QUEUE_ITEM{eMID_DELETEOEMACTKEY, OadParse, OadExecute, OadHelp, nullptr, 0, 0,
                                              0x8002, YOZ_MODE_NORMAL | YOZ_MODE_2X2 | YOZ_MODE_FTF, 0};
    items.push_back(&deleteoemactkeyQueueItem);
    YOZ_ZOZ_RegisterModule(eMID_DELETEOEMACTKEY, "/OAD");
    DeleteOAKCheckFunc = CHECK_FUNC_ITEM{OAD_CheckRomFunc, nullptr, 0, 0, 0, 0, 0, 0, &deleteoemactkeyQueueItem.Enabled};
    PtrDeleteOAKCheckFunc = &DeleteOAKCheckFunc;
    ResetState();
    YOZ_PreFlash_Join(&deleteoemactkeyQueueItem.Enabled, OadPreFlash, nullptr);
    return eEID_NO_ERROR;
}

ENUM_ERR_ID RegisterdeleteoaknotifyQueueItem(TKXQueueItemList& items) {
    oadnotifyQueueItem = TKX_QUEUE_ITEM{eMID_DELETEOAKNOTIFY, NoParse, OadNotifyExecute, NoHelp, nullptr, 0, 0, 0x801F,
                                        YOZ_MODE_NORMAL | YOZ_MODE_2X2 | YOZ_MODE_FTF, 0};
    items.push_back(&oadnotifyQueueItem);
    return eEID_NO_ERROR;
}
