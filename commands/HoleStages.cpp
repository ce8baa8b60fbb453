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
    UINT8 secure = YOZ_GetSecureFlashStatus();
    bool matched = true;
    if (secure) {
        ENUM_ERR_ID merged = RHP_SecureMergeRHList(YOZ_SysRHRECList, YOZ_RomFileRHRECList, chosen == nullptr);
        if (merged != eEID_NO_ERROR) return merged;
    } else {
        matched = RP_MergeRHList(m.Proc, YOZ_SysRHRECList, YOZ_RomFileRHRECList) != 0;
    }
    ENUM_ERR_ID result = eEID_NO_ERROR;
    UINT32& total = *m.Proc->AllBlockSize;
    UINT8* system = YOZ_SysRom_GetBuffer();
    if (matched) {
        if (system == nullptr) return eEID_MEM_ALLOC;
        ENUM_ERR_ID copied =
            RHP_FileRHToFlashBuff(system, YOZ_RomFile_GetBuffer(), YOZ_OpenFileSize, YOZ_SysRHRECList, chosen);
        if (copied != eEID_NO_ERROR) return copied;
        ENUM_ERR_ID marked = MarkHoles(map, chosen, &total);
        if (marked != eEID_NO_ERROR) return marked;
    } else {
        result = eEID_NOT_MATCH_NCB;
    }
    if (secure) {
        m.Slots->FlashFunc = m.SecureFlashFunc;
    } else if (YOZ_bCAFFlag) {
        // The by-number form compares the image; the image and the system
        // copy agree on every byte of a marked block the hole does not hold.
        UINT8* compared = chosen == nullptr ? system : YOZ_RomFile_GetBuffer();
        YOZ_SetFlashMsg(chosen == nullptr ? YOZ_FLASH_MSG_ROMHOLE : YOZ_FLASH_MSG_NCB, total);
        total = RP_MakeCAFDoItList(m.Proc, compared, map, total);
    }
    return result;
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
};
static const UINT32 kVolumes = 2;

static void MakeVolumes(const YOZ_HOLE_MODULE& m, SecureVolume* volumes) {
    volumes[0] = {m.BootEnable, YOZ_GetBCmdIsEnable, eMID_BOOTBLOCKOPEN, eMID_BOOTBLOCKFLASH,
                  1,            FLASH_BLOCK_BOOT,    YOZ_BBProc.FlashEnable};
    volumes[1] = {m.MainEnable, YOZ_GetPCmdIsEnable, eMID_MAINBIOSOPEN, eMID_MAINBIOSFLASH,
                  0,            FLASH_BLOCK_MAIN,    YOZ_MBProc.FlashEnable};
}

// Every volume is checked (its open module, the firmware's policy for it)
// before the first is written: a volume refused then leaves the flash as it
// was, not half updated. A check made `ahead` (before the run's first region
// is written) disarms the volume's flash module again, so that it still runs
// in the hole stage's turn; that turn arms it without asking again.
static ENUM_ERR_ID CheckVolumes(const YOZ_HOLE_MODULE& m, const FLASH_POLICY_INFO_BLOCK& policy, bool ahead) {
    SecureVolume volumes[kVolumes];
    MakeVolumes(m, volumes);
    for (UINT32 i = 0; i < kVolumes; ++i) {
        const SecureVolume& v = volumes[i];
        if (!*v.Enable) continue;
        if (m.Ahead != nullptr && m.Ahead->Volume[i]) {
            *v.Armed = 1;
        } else {
            ENUM_ERR_ID status = VolumeModules(m, v.Given(), v.OpenId);
            if (status != eEID_NO_ERROR) return status;
            if (ahead && m.Ahead != nullptr && !v.Given()) {
                m.Ahead->Volume[i] = 1;
                *v.Armed = 0;
            }
        }
        if (!(policy.Policy[v.PolicyByte] & FLASH_OP_RUNTIME)) return eEID_SECURE_FLASH_POLICY_MATCH;
    }
    return eEID_NO_ERROR;
}

// Then each volume is flashed and its session set up.
static ENUM_ERR_ID SecureVolumes(const YOZ_HOLE_MODULE& m, const FLASH_POLICY_INFO_BLOCK& policy) {
    ENUM_ERR_ID status = CheckVolumes(m, policy, false);
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

bool YOZ_Hole_AheadDue(const YOZ_HOLE_MODULE& m, const TKX_QUEUE_ITEM& item) {
    if (m.Ahead == nullptr || m.Ahead->Done || !item.Enabled) return false;
    m.Ahead->Done = 1;
    return YOZ_ModuleRuns(item) && m.Items != nullptr && *m.Items != nullptr;
}

// Without secure flash the hole stage writes the holes itself: its merge
// and, for chosen holes, its marking are made on a copy of the system's
// hole list, so that the stage later starts from the list as it is.
static ENUM_ERR_ID PlainCheckAhead(const YOZ_HOLE_MODULE& m, UINT8* chosen) {
    _ROMHOLEREC list[YOZ_MAX_ROMHOLE];
    memcpy(list, YOZ_SysRHRECList, sizeof(list));
    if (!RP_MergeRHList(m.Proc, list, YOZ_RomFileRHRECList)) return eEID_NOT_MATCH_NCB;
    if (chosen == nullptr) return eEID_NO_ERROR;
    UINT32 blocks = BlockCount();
    UINT8* map = AllocMem(blocks != 0 ? blocks : 1);
    if (map == nullptr) return eEID_MEM_ALLOC;
    UINT32 total = RHP_MakeDoItList(map, list, YOZ_MAX_ROMHOLE, chosen, YOZ_RomFileRHRECList, nullptr, nullptr);
    FreeMem(map);
    return total == 0 ? eEID_ROMHOLE_NOT_EXIST : eEID_NO_ERROR;
}

ENUM_ERR_ID YOZ_Hole_SecureCheckAhead(const YOZ_HOLE_MODULE& m, UINT8* chosen) {
    if (!YOZ_GetSecureFlashStatus()) return PlainCheckAhead(m, chosen);
    ENUM_ERR_ID result = RHP_SecureMergeRHList(YOZ_SysRHRECList, YOZ_RomFileRHRECList, chosen == nullptr);
    if (result != eEID_NO_ERROR) return result;
    // The volumes, marked as the hole stage marks them; its own list stays as it is.
    UINT32 blocks = BlockCount();
    UINT8* map = AllocMem(blocks != 0 ? blocks : 1);
    if (map == nullptr) return eEID_MEM_ALLOC;
    UINT32 total = 0;
    result = MarkHoles(map, chosen, &total);
    FreeMem(map);
    if (result != eEID_NO_ERROR) return result;
    FLASH_POLICY_INFO_BLOCK policy;
    memset(&policy, 0, sizeof(policy));
    if (!FLASH_GetSupportedPolicy(&policy)) return eEID_SECURE_FLASH_POLICY_GET;
    return CheckVolumes(m, policy, true);
}

ENUM_ERR_ID YOZ_Hole_SecureFlash(const YOZ_HOLE_MODULE& m) {
    FLASH_POLICY_INFO_BLOCK policy;
    memset(&policy, 0, sizeof(policy));
    if (!FLASH_GetSupportedPolicy(&policy)) return eEID_SECURE_FLASH_POLICY_GET;
    UINT32 blocks = BlockCount();
    UINT8* saved = AllocMem(blocks != 0 ? blocks : 1);
    if (saved == nullptr) return eEID_MEM_ALLOC;
    if (YOZ_pFlashMap != nullptr) memcpy(saved, YOZ_pFlashMap, blocks);
    ENUM_ERR_ID result = SecureVolumes(m, policy);
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
