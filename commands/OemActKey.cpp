// "/A" joined to a key-file name: writes the OEM activation key of that file
// into the system's key area (the "$FID" record in the boot block, or the OA
// block), on the ROM image given or on a copy of the system ROM; its
// follow-up hands the key to the firmware after a write.
#include <cstring>
#include <strings.h>
#include "SecureFlash.h"
#include "SmiTransport.h"
#include "TKXFile.h"
#include "TKXOutput.h"
#include "TKXPhysMem.h"
#include "TKXPortIo.h"
#include "RomScan.h"
#include "TKXString.h"
#include "YozFlash.h"
#include "YozGlobal.h"
#include "YozOakStages.h"
#include "YozOptionStore.h"
#include "YozRomFile.h"
#include "YozSwitchMode.h"
#include "YozSysRom.h"
#include "YozZozRecords.h"
#include "ZoktFormat.h"
#include "ZoktOaKey.h"
#include "ZoktOutcome.h"

static TKX_QUEUE_ITEM oemactkeyQueueItem;
static TKX_QUEUE_ITEM oaknotifyQueueItem;
static CHECK_FUNC_ITEM OAKCheckFunc;
CHECK_FUNC_ITEM* PtrOAKCheckFunc = nullptr;
static YOZ_STAGE_SLOTS s_Slots;
UINT8 OAK_bOABlockFlag = 0, OAK_bSingBinFileFlag = 0, OAK_bRunOAKNotify = 0;

static const UINT8 kSmiOaNotify = 0xDF, kSmiOa31Notify = 0xEE;

static ENUM_ERR_ID OAK_CheckRomFunc(INT16 sizeStatus) { return YOZ_Oak_SizeCheck(OAKCheckFunc, sizeStatus); }

// ---- Common steps of the processing stages ----

// A key file that cannot be read, or holds nothing, ends the command.
static ENUM_ERR_ID ReadKey() {
    ENUM_ERR_ID status = QueryFileHub(gOAKF_BinFilePath, &gOAKF_pBinFile, gOAKF_BinFileSize);
    if (status != eEID_NO_ERROR) return status;
    return gOAKF_BinFileSize == 0 ? eEID_OAK_FILE_ERROR : eEID_NO_ERROR;
}

static UINT32 KeyAddress() { return YOZ_SysRom_HaveOAKeyBlock() ? YOZ_SysRom_GetOAKeyStartAddress(0) : 0; }

// The firmware's verdict on the key; a firmware without the check lets it
// pass (it answers status 0, or speaks no ZOKT at all). A firmware that
// speaks ZOKT and leaves the check unanswered gave no verdict: the command
// ends before anything is erased. Every refusal ends the command: with the
// error line, or silently (with the firmware's own error id when it gave
// one) once the firmware has shown its own text.
static UINT8 s_FirmwareAsked = 0;
static ENUM_ERR_ID s_FirmwareVerdict = eEID_NO_ERROR;

static ENUM_ERR_ID AskFirmware() {
    if (ZOKT_OAKeyCheck(gOAKF_pBinFile, KeyAddress(), gOAKF_BinFileSize)) return eEID_NO_ERROR;
    ENUM_ERR_ID refusal = ZOKT_OAKeyCheck_GetLastErrorID();
    if (refusal == eEID_ZOKT_OA_UPDATE_NOT_SUPPORT) {
        if (!Zokt_LastUnanswered() || g_ZoktVer == 0) return eEID_NO_ERROR;
        TKX_EndProgressLine();
        WriteOut(" - The firmware did not answer the check of the OEM activation key.\n");
        return refusal;
    }
    if (!ZOKT_OAKeyOEM_NoErrorPrint()) return refusal;
    ErrorOut = YOZ_OEM_ErrorPrintf;
    if (ZOKT_OAKeyOEM_UseOEMErrorID() && ZOKT_OAKeyOEM_ErrorID() != 0)
        return static_cast<ENUM_ERR_ID>(ZOKT_OAKeyOEM_ErrorID());
    return refusal;
}

// Asked once a run: in the pre-flash walk, or in the stage's turn.
static ENUM_ERR_ID FirmwareCheck() {
    if (!s_FirmwareAsked) s_FirmwareVerdict = AskFirmware();
    s_FirmwareAsked = 1;
    return s_FirmwareVerdict;
}

static ENUM_ERR_ID FirstSteps() {
    ENUM_ERR_ID status = YOZ_RegionFlash_AllocMap();
    if (status == eEID_NO_ERROR) status = ReadKey();
    if (status == eEID_NO_ERROR) status = FirmwareCheck();
    return status;
}

static ENUM_ERR_ID CheckImage(UINT8* image, UINT32 size) {
    YOZ_RomFile_CheckSum(image, size);  // finds the "$FID" file header; its verdict does not stop the stage
    return YOZ_RomFile_CheckRomID(image, size);
}

// The key in the "$FID" record of `image` (the ROM image or the system copy),
// then the boot-block list.
static ENUM_ERR_ID FidKeySteps(UINT8* image, UINT32 size, bool systemCopy) {
    UINT8* system = YOZ_SysRom_GetBuffer();
    if (system == nullptr) return eEID_MEM_ALLOC;
    bool updated = false;
    // Without a record to take the key nothing is flashed.
    if (YOZ_SysRom_GetVer4Fid(system) == nullptr) {
        WriteOut(" - Warning: System doesn't have Activation Key, Activation Key update canceled.\n");
        return eEID_OAK_NO_SUPPORT_ERROR;
    }
    if (YOZ_RomFile_FindImageFidOffset(image) != 0) {
        YOZ_RomFile_CheckSum(image, size);
        ENUM_ERR_ID status = OAK_Proc_UpdateOemActKey(system, image, gOAKF_pBinFile, gOAKF_BinFileSize);
        if (status != eEID_NO_ERROR) return status;
        updated = true;
    } else if (systemCopy) {
        // In eMMC 2x2 mode the copy holds only the OA volumes.
        WriteOut(" - Warning: System FID table error, Activation Key update canceled.\n");
        return eEID_OAK_NO_SUPPORT_ERROR;
    } else if (!YOZ_RomFile_CheckOAKey()) {
        return eEID_UPDATE_CANCEL_BY_USER;
    }
    ENUM_ERR_ID status = CheckImage(image, size);
    if (status != eEID_NO_ERROR) return status;
    gOAKF_AllBlockSize = OAK_Proc_MakeTypeDoItList(YOZ_pFlashMap, static_cast<char>(YOZ_BLOCK_BOOT));
    // A key outside the boot block goes with the blocks that hold it.
    if (updated) gOAKF_AllBlockSize += OAK_MarkKeyBlocks(YOZ_pFlashMap, image);
    if (!systemCopy) {
        status = YOZ_Oak_CarrySystemData(&YOZ_OAKProc, image, size);
        if (status != eEID_NO_ERROR) return status;
    }
    if (YOZ_bCAFFlag) {
        YOZ_SetFlashMsg(YOZ_FLASH_MSG_BOOT, gOAKF_AllBlockSize);
        gOAKF_AllBlockSize = OAK_Proc_MakeCAFDoItList(image, YOZ_pFlashMap, gOAKF_AllBlockSize);
    }
    return eEID_NO_ERROR;
}

// ---- Flash stages ----

static ENUM_ERR_ID OAK_NCBFlashFunc() {
    return YOZ_Oak_BlockStage(YOZ_pOpenFileBuff, YOZ_FLASH_MSG_OA, gOAKF_AllBlockSize, &OAK_bRunOAKNotify);
}
static ENUM_ERR_ID OAK_SingNCBFlashFunc() {
    return YOZ_Oak_BlockStage(YOZ_pFlashBuff, YOZ_FLASH_MSG_OA, gOAKF_AllBlockSize, &OAK_bRunOAKNotify);
}

static ENUM_ERR_ID OAK_FlashFunc() {
    if (YOZ_pOpenFileBuff == nullptr) return eEID_MEM_ALLOC;
    if (YOZ_GetSecureFlashStatus()) {
        ENUM_ERR_ID status = YOZ_Oak_SecureStart(YOZ_pOpenFileBuff);
        if (status != eEID_NO_ERROR) return status;
    }
    return YOZ_Oak_ActionStage(YOZ_pOpenFileBuff, YOZ_FLASH_MSG_BOOT, gOAKF_AllBlockSize, &OAK_bRunOAKNotify);
}

static ENUM_ERR_ID OAK_SingFlashFunc() {
    if (YOZ_GetSecureFlashStatus()) return YOZ_Oak_ItemsStage(YOZ_pFlashBuff, gOAKF_AllBlockSize, &OAK_bRunOAKNotify);
    return YOZ_Oak_ActionStage(YOZ_pFlashBuff, YOZ_FLASH_MSG_BOOT, gOAKF_AllBlockSize, &OAK_bRunOAKNotify);
}

// ---- Processing stages ----

static ENUM_ERR_ID OAK_ProcOAKFlashBuffFunc() {
    ENUM_ERR_ID status = FirstSteps();
    if (status != eEID_NO_ERROR) return status;
    if (YOZ_pOpenFileBuff == nullptr) return eEID_MEM_ALLOC;
    return FidKeySteps(YOZ_pOpenFileBuff, YOZ_OpenFileSize, false);
}

static ENUM_ERR_ID OAK_ProcSingleOAKFlashBuffFunc() {
    ENUM_ERR_ID status = YOZ_RegionFlash_AllocMap();
    if (status == eEID_NO_ERROR) status = CheckImage(YOZ_pFlashBuff, gRomSize);
    if (status == eEID_NO_ERROR) status = FirstSteps();
    if (status != eEID_NO_ERROR) return status;
    s_Slots.FlashFunc = OAK_SingFlashFunc;
    return FidKeySteps(YOZ_pFlashBuff, gRomSize, true);
}

// The key against OA block 0 of `buffer`: it must fit the block, and the
// block must hold no key yet; `readsFid`: the old key length comes from the
// system's "$FID" record (else the whole key area counts).
static ENUM_ERR_ID OABlockCheck(UINT8* buffer, UINT32 bufferSize, bool readsFid) {
    UINT32 start = YOZ_SysRom_GetOAKeyStartAddress(0), size = YOZ_SysRom_GetOAKeyBlockSize(0);
    if (gOAKF_BinFileSize > size) return eEID_OAK_FILE_SIZE_ERROR;
    if (buffer == nullptr || !YOZ_RangeInside(start, size, bufferSize)) return eEID_OAK_REGION_ERROR;
    // The old key is as long as the system's "$FID" record says; without a
    // length there, the block's own key area counts.
    UINT32 oldLength = YOZ_OA_KEY_AREA;
    if (readsFid) {
        UINT8* system = YOZ_SysRom_GetBuffer();
        if (system == nullptr) return eEID_MEM_ALLOC;
        UINT8* fid = YOZ_SysRom_GetVer4Fid(system);
        if (fid != nullptr && RomScan_Get32(fid + YOZ_FID_KEY_LENGTH) != 0) oldLength = RomScan_Get32(fid + YOZ_FID_KEY_LENGTH);
    }
    if (oldLength > size) oldLength = size;  // read only inside the block
    UINT8* checked = readsFid && buffer == YOZ_pOpenFileBuff ? YOZ_SysRom_GetBuffer() : buffer;
    return OAK_Proc_CheckOldOAData(checked + start, oldLength);
}

// The key into OA block 0 of `buffer`.
static ENUM_ERR_ID OABlockSteps(UINT8* buffer, UINT32 bufferSize, bool readsFid, YOZ_StageFunc flash) {
    ENUM_ERR_ID status = YOZ_RegionFlash_AllocMap();
    if (status == eEID_NO_ERROR) status = ReadKey();
    if (status == eEID_NO_ERROR) status = OABlockCheck(buffer, bufferSize, readsFid);
    if (status == eEID_NO_ERROR) status = FirmwareCheck();
    if (status != eEID_NO_ERROR) return status;
    memcpy(buffer + YOZ_SysRom_GetOAKeyStartAddress(0), gOAKF_pBinFile, gOAKF_BinFileSize);
    gOAKF_AllBlockSize = OAK_Proc_MakeTypeDoItList(YOZ_pFlashMap, static_cast<char>(YOZ_BLOCK_OA));
    s_Slots.FlashFunc = flash;
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID OAK_ProcNCBOAKFlashBuffFunc() {
    ENUM_ERR_ID status = OABlockSteps(YOZ_pOpenFileBuff, YOZ_OpenFileSize, true, OAK_NCBFlashFunc);
    if (status != eEID_NO_ERROR) return status;
    return YOZ_Oak_CarrySystemData(&YOZ_OAKProc, YOZ_pOpenFileBuff, YOZ_OpenFileSize);
}
static ENUM_ERR_ID OAK_ProcSingNCBOAKFlashBuffFunc() {
    return OABlockSteps(YOZ_pFlashBuff, gRomSize, true, OAK_SingNCBFlashFunc);
}
static ENUM_ERR_ID OAK_Proc_2x2_SingNCBOAKFlashBuffFunc() {
    return OABlockSteps(YOZ_pFlashBuff, gRomSize, false, OAK_SingNCBFlashFunc);
}

// ---- Selection stages ----

static ENUM_ERR_ID OAK_CheckBlockFunc() {
    if (YOZ_SysRom_HaveOAKeyBlock()) {
        OAK_bOABlockFlag = 1;
        s_Slots.ProcessFunc = OAK_ProcNCBOAKFlashBuffFunc;
    }
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID OAK_OpenRomFileFunc() {
    ENUM_ERR_ID status = YOZ_RomFile_LoadToBuff();
    if (YOZ_pFileName != nullptr || gOAKF_BinFilePath[0] == '\0') return status;
    OAK_bSingBinFileFlag = 1;
    s_Slots.ProcessFunc = OAK_ProcSingleOAKFlashBuffFunc;
    if (OAK_bOABlockFlag)
        s_Slots.ProcessFunc =
            YOZ_GetEMMC_2x2_Mode() ? OAK_Proc_2x2_SingNCBOAKFlashBuffFunc : OAK_ProcSingNCBOAKFlashBuffFunc;
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID OAK_LoadSysTemBiosFunc() { return OAK_bSingBinFileFlag ? YOZ_Oak_LoadSystemCopy() : eEID_NO_ERROR; }

// ---- Before the run's first erase ----

// What the processing stage would refuse, asked in the run's pre-flash walk
// without changing anything: the key file, the firmware's verdict, the key
// against the system's key area and the image's, what the blocks keep. The
// operator's word on an image without a key record is asked in the turn.
static ENUM_ERR_ID OakPreFlash(const void*) {
    if (!YOZ_ModuleRuns(oemactkeyQueueItem)) return eEID_NO_ERROR;
    ENUM_ERR_ID status = ReadKey();
    if (status == eEID_NO_ERROR) status = FirmwareCheck();
    if (status != eEID_NO_ERROR) return status;
    UINT8* system = YOZ_SysRom_GetBuffer();
    if (system == nullptr) return eEID_MEM_ALLOC;
    bool romFile = YOZ_pFileName != nullptr;
    if (!romFile) YOZ_Oak_KeepCopy(true);
    if (YOZ_SysRom_HaveOAKeyBlock()) return OABlockCheck(system, gRomSize, !YOZ_GetEMMC_2x2_Mode());
    if (YOZ_SysRom_GetVer4Fid(system) == nullptr) {
        WriteOut(" - Warning: System doesn't have Activation Key, Activation Key update canceled.\n");
        return eEID_OAK_NO_SUPPORT_ERROR;
    }
    UINT8* image = romFile ? YOZ_pOpenFileBuff : system;
    if (image == nullptr || YOZ_RomFile_FindImageFidOffset(image) == 0) return eEID_NO_ERROR;
    status = OAK_Proc_CheckUpdate(system, image, gOAKF_pBinFile, gOAKF_BinFileSize);
    return status == eEID_NO_ERROR && romFile ? YOZ_Oak_KeyBlocksKept(image, false) : status;
}

// ---- Module ----

static void ResetState() {
    OAK_bSingBinFileFlag = OAK_bOABlockFlag = OAK_bRunOAKNotify = 0;
    s_FirmwareAsked = 0;
    OAK_FuncVar_Init();
    s_Slots = YOZ_STAGE_SLOTS{};
    s_Slots.BlockCheckFunc = OAK_CheckBlockFunc;
    s_Slots.OpenFileFunc = OAK_OpenRomFileFunc;
    s_Slots.LoadSysMemFunc = OAK_LoadSysTemBiosFunc;
    s_Slots.ProcessFunc = OAK_ProcOAKFlashBuffFunc;
    s_Slots.FlashFunc = OAK_FlashFunc;
}

static ENUM_ERR_ID OakParse(TKXArgvList& args, TKX_QUEUE_ITEM* self) {
    ResetState();
    self->Enabled = 0;
    if (!YOZ_ModeTakesPart(self->ModeMask)) return eEID_NO_ERROR;
    for (unsigned long i = 1; i < args.size(); ++i) {
        const char* word = args[i]->text;
        if (strlen(word) <= 2 || strncasecmp(word, "/A", 2) != 0) continue;
        // A name that does not fit is refused rather than cut.
        if (strlen(word + 2) >= sizeof(gOAKF_BinFilePath)) return eEID_OAK_FILE_ERROR;
        TKX_BoundedCopy(gOAKF_BinFilePath, word + 2, sizeof(gOAKF_BinFilePath) - 1);
        self->Enabled = 1;
        args[i]->claimed = 1;
    }
    YOZ_Oak_ImageChecks(OAKCheckFunc, self->Enabled && YOZ_pFileName != nullptr);
    YOZ_SetOAKeyCmdIsEnable(&self->Enabled);
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID OakExecute(TKXQueueItemList& items) {
    if (YOZ_ModuleRuns(oemactkeyQueueItem)) {
        ENUM_ERR_ID checked = YOZ_PreFlash_Run();
        if (checked != eEID_NO_ERROR) return checked;
    }
    return YOZ_Oak_Execute(oemactkeyQueueItem, s_Slots, "B O L Z P F ZF", &OAK_bRunOAKNotify, items, eMID_OAKNOTIFY);
}

static void OakHelp(UINT8 pass) {
    YOZ_Oak_Help(oemactkeyQueueItem, pass, "/A",
                 "|%*s - Refer to Options: /A                                         |\n",
                 "|%*s - Oem Activation file                                          |\n");
}

// The follow-up: the firmware is told of the new key.
static ENUM_ERR_ID OakNotifyExecute(TKXQueueItemList&) {
    if (!YOZ_ModeTakesPart(oaknotifyQueueItem.ModeMask)) return eEID_NO_ERROR;
    if (YOZ_GetEMMC_2x2_Mode()) {
        OutPortByte(gSmiPort, kSmiOaNotify);
        return eEID_NO_ERROR;
    }
    UINT8* system = YOZ_SysRom_GetBuffer();
    if (system == nullptr) return eEID_MEM_ALLOC;
    if (YOZ_SysRom_GetVer4Fid(system) == nullptr) return eEID_NO_ERROR;
    // The key goes with the SMI only where the buffer is the firmware's
    // mailbox; it must fit the buffer.
    if (TKX_GetWSMTisEnabled() && gpIntrBuf != nullptr && gOAKF_pBinFile != nullptr &&
        gOAKF_BinFileSize <= INTERFACE_BUFFER_SIZE)
        memcpy(gpIntrBuf, gOAKF_pBinFile, gOAKF_BinFileSize);
    OutPortByte(gSmiPort, YOZ_SysRom_HaveOA31Guid() ? kSmiOa31Notify : kSmiOaNotify);
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID NoParse(TKXArgvList&, TKX_QUEUE_ITEM*) { return eEID_NO_ERROR; }
static void NoHelp(UINT8) {}

ENUM_ERR_ID RegisteroemactkeyQueueItem(TKXQueueItemList& items) {
    oemactkeyQueueItem = TKX_QUEUE_ITEM{eMID_OEMACTKEY, OakParse, OakExecute, OakHelp, nullptr, 0, 0, 0x8002,
                                        YOZ_MODE_NORMAL | YOZ_MODE_2X2 | YOZ_MODE_FTF, 0};
    items.push_back(&oemactkeyQueueItem);
    YOZ_ZOZ_RegisterModule(eMID_OEMACTKEY, "/A");
    OAKCheckFunc = CHECK_FUNC_ITEM{OAK_CheckRomFunc, nullptr, 0, 0, 0, 0, 0, 0, &oemactkeyQueueItem.Enabled};
    PtrOAKCheckFunc = &OAKCheckFunc;
    ResetState();
    YOZ_PreFlash_Join(&oemactkeyQueueItem.Enabled, OakPreFlash, nullptr);
    return eEID_NO_ERROR;
}

ENUM_ERR_ID RegisteroaknotifyQueueItem(TKXQueueItemList& items) {
    oaknotifyQueueItem = TKX_QUEUE_ITEM{eMID_OAKNOTIFY, NoParse, OakNotifyExecute, NoHelp, nullptr, 0, 0, 0x801F,
                                        YOZ_MODE_NORMAL | YOZ_MODE_2X2 | YOZ_MODE_FTF, 0};
    items.push_back(&oaknotifyQueueItem);
    return eEID_NO_ERROR;
}
