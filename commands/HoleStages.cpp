// Stages and parse steps shared by the ROM-hole modules.
#include <cstring>
#include "SecureFlash.h"
#include "TKXPhysMem.h"
#include "TKXString.h"
#include "YozFlash.h"
#include "YozGlobal.h"
#include "YozHoleStages.h"
#include "YozOptionStore.h"
#include "YozRomFile.h"
#include "YozSwitchMode.h"
#include "YozSysRom.h"

static UINT32 BlockCount() { return gpFlashInfo != nullptr ? gpFlashInfo->BlockCount : 0; }

UINT8* YOZ_Hole_DoItList() {
    if (YOZ_pFlashMap == nullptr && gpFlashInfo != nullptr) YOZ_pFlashMap = AllocMem(BlockCount() ? BlockCount() : 1);
    return YOZ_pFlashMap;
}

ENUM_ERR_ID YOZ_Hole_FlashStage(UINT32 total) {
    UINT8* system = YOZ_SysRom_GetBuffer();
    if (system == nullptr) return eEID_MEM_ALLOC;
    YOZ_SetFlashMsg(YOZ_FLASH_MSG_ROMHOLE, total);
    return YOZ_Flash_Action(system);
}

ENUM_ERR_ID YOZ_Hole_WriteOnceStage(UINT32 total) {
    return YOZ_FlashItemList_Run(YOZ_SysRom_GetBuffer(), YOZ_FLASH_MSG_ROMHOLE, total);
}

// The do-it list of the (chosen) holes and its total; a chosen hole the
// image lacks leaves nothing to write.
static ENUM_ERR_ID MarkHoles(UINT8* map, UINT8* chosen, UINT32* total) {
    *total = chosen == nullptr ? RHF_Proc_MakeDoItList(map) : RHN_Proc_MakeDoItList(map, chosen);
    return chosen != nullptr && *total == 0 ? eEID_ROMHOLE_NOT_EXIST : eEID_NO_ERROR;
}

ENUM_ERR_ID YOZ_Hole_ProcessImage(const YOZ_HOLE_MODULE& m, UINT8* chosen) {
    UINT8* map = YOZ_Hole_DoItList();
    if (map == nullptr) return eEID_MEM_ALLOC;
    UINT32& total = *m.Proc->AllBlockSize;
    if (YOZ_GetSecureFlashStatus()) {
        // The volumes that hold the holes are written from the image by
        // their region modules: nothing of the image goes into the system copy.
        ENUM_ERR_ID merged = RHP_SecureMergeRHList(YOZ_SysRHRECList, YOZ_RomFileRHRECList, chosen == nullptr);
        if (merged == eEID_NO_ERROR) merged = MarkHoles(map, chosen, &total);
        if (merged == eEID_NO_ERROR) m.Slots->FlashFunc = m.SecureFlashFunc;
        return merged;
    }
    UINT8 write[YOZ_MAX_ROMHOLE];
    ENUM_ERR_ID result = RHP_PairHoles(YOZ_SysRHRECList, YOZ_RomFileRHRECList, chosen, write);
    if (result != eEID_NO_ERROR) return result;
    UINT8* system = YOZ_SysRom_GetBuffer();
    if (system == nullptr) return eEID_MEM_ALLOC;
    result = RHP_FileRHToFlashBuff(system, YOZ_RomFile_GetBuffer(), YOZ_OpenFileSize, YOZ_SysRHRECList, write);
    if (result != eEID_NO_ERROR) return result;
    total = RHP_MakeDoItList(map, YOZ_SysRHRECList, YOZ_MAX_ROMHOLE, write, nullptr, nullptr, nullptr);
    if (YOZ_bCAFFlag) {
        YOZ_SetFlashMsg(chosen == nullptr ? YOZ_FLASH_MSG_ROMHOLE : YOZ_FLASH_MSG_NCB, total);
        total = RP_MakeCAFDoItList(m.Proc, system, map, total);
    }
    return eEID_NO_ERROR;
}

// Runs the volume's modules of one id (its open module checks the volume
// and arms its flash module; the flash module writes it), unless the
// volume's option was given (then they ran already); the first of them that
// fails ends the step with its result.
static ENUM_ERR_ID VolumeModules(const YOZ_HOLE_MODULE& m, UINT8 given, UINT32 moduleId) {
    if (given || m.Items == nullptr || *m.Items == nullptr) return eEID_NO_ERROR;
    TKXQueueItemList& items = **m.Items;
    for (unsigned long i = 0; i < items.size(); ++i) {
        TKX_QUEUE_ITEM* item = items[i];
        if (item->ModuleId != moduleId) continue;
        ENUM_ERR_ID status = item->ExecutionActionFunction(items);
        if (status != eEID_NO_ERROR) return status;
    }
    return eEID_NO_ERROR;
}

// The volumes that hold marked blocks, boot block first.
struct SecureVolume {
    UINT8* Enable;
    UINT8 (*Given)();
    UINT32 OpenId, FlashId;
    UINT8 PolicyByte;
    FLASH_BLOCK_TYPE Area;
    UINT8* Armed;  // set by the open module: the flash module writes the volume when it runs
    const YOZ_REGION_PROC* Proc;
    YOZ_OAKEY_RULE OAKeyRule;
};
static const UINT32 kVolumes = 2;

static void MakeVolumes(const YOZ_HOLE_MODULE& m, SecureVolume* volumes) {
    volumes[0] = {m.BootEnable, YOZ_GetBCmdIsEnable, eMID_BOOTBLOCKOPEN, eMID_BOOTBLOCKFLASH,
                  1,            FLASH_BLOCK_BOOT,    YOZ_BBProc.FlashEnable, &YOZ_BBProc, YOZ_OAKEY_BOOT};
    volumes[1] = {m.MainEnable, YOZ_GetPCmdIsEnable, eMID_MAINBIOSOPEN, eMID_MAINBIOSFLASH,
                  0,            FLASH_BLOCK_MAIN,    YOZ_MBProc.FlashEnable, &YOZ_MBProc, YOZ_OAKEY_MAIN};
}

// Every volume is checked (its open module, the firmware's policy for it)
// before the first is written: a volume refused then leaves the flash as it
// was, not half updated. A check made `ahead` (in the run's pre-flash walk)
// disarms the volume's flash module again, so that it still runs in the
// hole stage's turn, which arms it without asking again; the walk also has
// the volume's data carried into the image that the run uploads.
static ENUM_ERR_ID CheckVolumes(const YOZ_HOLE_MODULE& m, bool ahead) {
    SecureVolume volumes[kVolumes];
    MakeVolumes(m, volumes);
    for (UINT32 i = 0; i < kVolumes; ++i) {
        const SecureVolume& v = volumes[i];
        if (!*v.Enable) continue;
        if (m.Ahead->Volume[i]) {
            *v.Armed = 1;
        } else {
            ENUM_ERR_ID status = VolumeModules(m, v.Given(), v.OpenId);
            if (status != eEID_NO_ERROR) return status;
            if (ahead && !v.Given()) {
                m.Ahead->Volume[i] = 1;
                *v.Armed = 0;
            }
        }
        ENUM_ERR_ID status =
            ahead ? YOZ_RegionFlash_SecureCarry(v.Proc, static_cast<UINT8>(v.Area), v.OAKeyRule, v.PolicyByte)
                  : YOZ_SecureFlash_PolicyAllows(static_cast<UINT8>(1u << v.PolicyByte));
        if (status != eEID_NO_ERROR) return status;
    }
    return eEID_NO_ERROR;
}

// Then each volume is flashed and its session set up.
static ENUM_ERR_ID SecureVolumes(const YOZ_HOLE_MODULE& m) {
    ENUM_ERR_ID status = CheckVolumes(m, false);
    if (status != eEID_NO_ERROR) return status;
    SecureVolume volumes[kVolumes];
    MakeVolumes(m, volumes);
    for (const SecureVolume& v : volumes) {
        if (!*v.Enable) continue;
        status = VolumeModules(m, v.Given(), v.FlashId);
        if (status != eEID_NO_ERROR) return status;
        FLASH_ConfigFlashSessionBlock(FLASH_OP_RUNTIME, v.Area, nullptr, YOZ_SecureFileSize);
    }
    return eEID_NO_ERROR;
}

ENUM_ERR_ID YOZ_Hole_PreFlash(const YOZ_HOLE_MODULE& m, UINT8* chosen) {
    if (!YOZ_GetSecureFlashStatus()) {
        // The hole stage pairs on the system's list as it is: the walk on a copy.
        _ROMHOLEREC list[YOZ_MAX_ROMHOLE];
        UINT8 write[YOZ_MAX_ROMHOLE];
        memcpy(list, YOZ_SysRHRECList, sizeof(list));
        return RHP_PairHoles(list, YOZ_RomFileRHRECList, chosen, write);
    }
    ENUM_ERR_ID result = RHP_SecureMergeRHList(YOZ_SysRHRECList, YOZ_RomFileRHRECList, chosen == nullptr);
    if (result != eEID_NO_ERROR) return result;
    // The volumes, marked as the hole stage marks them; its own list stays as it is.
    UINT32 blocks = BlockCount();
    UINT8* map = AllocMem(blocks != 0 ? blocks : 1);
    if (map == nullptr) return eEID_MEM_ALLOC;
    UINT32 total = 0;
    result = MarkHoles(map, chosen, &total);
    FreeMem(map);
    return result != eEID_NO_ERROR ? result : CheckVolumes(m, true);
}

ENUM_ERR_ID YOZ_Hole_SecureFlash(const YOZ_HOLE_MODULE& m) {
    if (!FLASH_IsSecureFlashSupported()) return eEID_SECURE_FLASH_POLICY_GET;
    UINT32 blocks = BlockCount();
    UINT8* saved = AllocMem(blocks != 0 ? blocks : 1);
    if (saved == nullptr) return eEID_MEM_ALLOC;
    if (YOZ_pFlashMap != nullptr) memcpy(saved, YOZ_pFlashMap, blocks);
    ENUM_ERR_ID result = SecureVolumes(m);
    // The volume modules rebuilt the list for their regions: the holes' marks come back.
    if (YOZ_pFlashMap != nullptr) memcpy(YOZ_pFlashMap, saved, blocks);
    FreeMem(saved);
    if (result != eEID_NO_ERROR) return result;
    if (!FLASH_LoadFwImage(YOZ_pSecureFileBuff, YOZ_SecureFileSize, 0, LoadProgress))
        return eEID_SECURE_FLASH_LOAD_IMAGE;
    if (FLASH_SetFlashMethod() != 0) return eEID_SECURE_FLASH_SESSION_START;
    UINT32& total = *m.Proc->AllBlockSize;
    if (YOZ_bCAFFlag && YOZ_pFlashMap != nullptr && YOZ_SysRom_GetBuffer() != nullptr) {
        YOZ_SetFlashMsg(YOZ_FLASH_MSG_NCB, total);
        total = RP_MakeCAFDoItList(m.Proc, YOZ_SysRom_GetBuffer(), YOZ_pFlashMap, total);
    }
    // The firmware writes the image; the progress lines only end.
    YOZ_SetFlashMsg(YOZ_FLASH_MSG_ROMHOLE, total);
    if (total != 0) {
        YOZ_CallBack_Erase(YOZ_PROGRESS_CLOSE, 0, 0);
        YOZ_CallBack_Update(YOZ_PROGRESS_CLOSE, 0, 0);
        YOZ_CallBack_Verify(YOZ_PROGRESS_CLOSE, 0, 0);
    }
    return eEID_NO_ERROR;
}

ENUM_ERR_ID YOZ_Hole_GuidParse(TKX_QUEUE_ITEM* item, TKXArgvList& args, const char* prefix, EFI_GUID* guid,
                               char** fileWord) {
    for (unsigned long i = 1; i < args.size(); ++i) {
        const char* value = IdentifyArgPrefix(args[i]->text, prefix);
        if (value == nullptr || *value == '\0') continue;
        // Word 1 names the hole's file: never the option itself (a file at
        // the root named after it) or the embedded image.
        if (!YOZ_OperatorFileWord(args, i)) return eEID_COMMAND_LINE;
        if (YOZ_ClaimOptionWord(item, args, i) != eEID_NO_ERROR) return eEID_COMMAND_LINE;
        // A mistyped GUID ends the parse: no hole is written or saved.
        if (YOZ_Conv_StrtoGUID(value, guid) != eEID_NO_ERROR) return eEID_COMMAND_LINE;
        if (fileWord != nullptr) *fileWord = args[1]->text;
    }
    return eEID_NO_ERROR;
}
