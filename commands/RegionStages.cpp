// The stage runner and the open and flash halves shared by every region
// command module.
#include <cstdlib>
#include <cstring>
#include "SecureFlash.h"
#include "TKXPhysMem.h"
#include "TKXString.h"
#include "YozFlash.h"
#include "YozGlobal.h"
#include "YozHoleStages.h"
#include "YozNcbProc.h"
#include "YozOptionStore.h"
#include "YozRegionStages.h"
#include "YozRomFile.h"
#include "YozSwitchMode.h"
#include "YozSysRom.h"
#include "YozWorkCopy.h"
#include "YozZozRecords.h"

static YOZ_StageFunc SlotOf(const YOZ_STAGE_SLOTS& s, const char* token, size_t length) {
    if (length == 2 && strncmp(token, "ZF", 2) == 0) return s.ZOKTFunc;
    if (length != 1) return nullptr;
    switch (token[0]) {
    case 'O': return s.OpenFileFunc;
    case 'L': return s.LoadSysMemFunc;
    case 'C': return s.CheckFunc;
    case 'B': return s.BlockCheckFunc;
    case 'A': return s.CheckOABlockFunc;
    case 'Z': return s.ZOKTCheck;
    case 'P': return s.ProcessFunc;
    case 'F': return s.FlashFunc;
    default: return nullptr;
    }
}

ENUM_ERR_ID YOZ_RunStages(const YOZ_STAGE_SLOTS& slots, const char* order) {
    ENUM_ERR_ID result = eEID_NO_ERROR;
    for (const char* p = order; *p != '\0';) {
        while (*p == ' ') ++p;
        size_t length = strcspn(p, " ");
        if (length == 0) break;
        // Read at the time of the stage: an earlier stage may have replaced it.
        YOZ_StageFunc stage = SlotOf(slots, p, length);
        p += length;
        if (stage == nullptr) continue;
        result = stage();
        if (result != eEID_NO_ERROR) break;
    }
    return result;
}

// ---- Open half ----

ENUM_ERR_ID YOZ_RegionOpen_Parse(const YOZ_REGION_OPEN& r, TKXArgvList& args, const char* word) {
    RP_FuncVar_Init(r.Proc);
    r.Item->Enabled = 0;
    if (!YOZ_ModeTakesPart(r.Item->ModeMask)) return eEID_NO_ERROR;
    if (YOZ_GetCapsuleMode() || YOZ_GetRecoveryMode()) return eEID_NO_ERROR;
    if (YOZ_ParseOptionWord(r.Item, args, word) != eEID_NO_ERROR) return eEID_COMMAND_LINE;
    r.SetCmdFlag(&r.Item->Enabled);
    return eEID_NO_ERROR;
}

ENUM_ERR_ID YOZ_ParseOptionWord(TKX_QUEUE_ITEM* item, TKXArgvList& args, const char* word) {
    if (word == nullptr || word[0] == '\0') return eEID_NO_ERROR;
    for (unsigned long i = 1; i < args.size(); ++i) {
        if (IdentifyArg(args[i]->text, word, 1) != 1) continue;
        if (YOZ_ClaimOptionWord(item, args, i) != eEID_NO_ERROR) return eEID_COMMAND_LINE;
    }
    return eEID_NO_ERROR;
}

bool YOZ_ModuleRuns(const TKX_QUEUE_ITEM& item) {
    return YOZ_ModeTakesPart(item.ModeMask) && !YOZ_GetCapsuleMode() && !YOZ_GetRecoveryMode();
}

ENUM_ERR_ID YOZ_RunModuleStages(const TKX_QUEUE_ITEM& item, const YOZ_STAGE_SLOTS& slots, const char* order) {
    return YOZ_ModuleRuns(item) ? YOZ_RunStages(slots, order) : eEID_NO_ERROR;
}

ENUM_ERR_ID YOZ_RunWritingStages(const TKX_QUEUE_ITEM& item, const YOZ_STAGE_SLOTS& slots, const char* order) {
    if (!YOZ_ModuleRuns(item)) return eEID_NO_ERROR;
    ENUM_ERR_ID result = YOZ_PreFlash_Run();
    return result != eEID_NO_ERROR ? result : YOZ_RunStages(slots, order);
}

ENUM_ERR_ID YOZ_RunStageAhead(const TKX_QUEUE_ITEM& item, YOZ_StageFunc& slot) {
    YOZ_StageFunc stage = slot;
    if (!YOZ_ModuleRuns(item) || stage == nullptr) return eEID_NO_ERROR;
    slot = nullptr;
    return stage();
}

ENUM_ERR_ID YOZ_RegionOpen_Claim(const YOZ_REGION_OPEN& r, TKXArgvList& args, unsigned long i) {
    return YOZ_ClaimOptionWord(r.Item, args, i);
}

ENUM_ERR_ID YOZ_ClaimOptionWord(TKX_QUEUE_ITEM* item, TKXArgvList& args, unsigned long i) {
    if (args.size() <= 2) return eEID_COMMAND_LINE;
    item->Enabled = 1;
    args[i]->claimed = 1;
    args[1]->claimed = 1;
    if (YOZ_pFileName == nullptr) YOZ_pFileName = args[1]->text;
    return eEID_NO_ERROR;
}

bool YOZ_ClaimFileWord(TKXArgvList& args, unsigned long i) {
    if (args.size() < 2 || (i != 1 && !YOZ_RomFile_IsFileWord(args[1]->text))) return false;
    args[1]->claimed = 1;
    return true;
}

bool YOZ_OperatorFileWord(TKXArgvList& args, unsigned long i) {
    return args.size() > 2 && i != 1 && !YOZ_ZOZ_ImageNameBeforeOptions(args);
}

static bool DigitOrEnd(char c) { return c == '\0' || (c >= '0' && c <= '9'); }

int YOZ_RegionNumberWord(const char* number) {
    char field[4] = {0};
    TKX_BoundedCopy(field, number, 3);
    if (!DigitOrEnd(field[0]) || !DigitOrEnd(field[1])) return -1;
    if (strlen(number) > 3) return -2;
    return atoi(field);
}

ENUM_ERR_ID YOZ_RegionOpen_Execute(const YOZ_REGION_OPEN& r) {
    if (!YOZ_ModeTakesPart(r.Item->ModeMask)) return eEID_NO_ERROR;
    if (r.SkipIn2x2 && YOZ_GetEMMC_2x2_Mode()) return eEID_NO_ERROR;
    return YOZ_RunStages(*r.Slots, YOZ_ORDER_OPEN);
}

ENUM_ERR_ID YOZ_SecureFlashFileCheck() {
    return FLASH_IsSecureFlashSupported() && !YOZ_bCapHead ? eEID_SECURE_FLASH_SUPPORT_FILE : eEID_NO_ERROR;
}

ENUM_ERR_ID YOZ_RegionOpen_BlockCheck(const YOZ_REGION_OPEN& r, UINT8 blockType) {
    if (YOZ_SecureFlashFileCheck() != eEID_NO_ERROR) return eEID_SECURE_FLASH_SUPPORT_FILE;
    YOZ_RomFile_SearchNCB(YOZ_RomFile_GetBuffer());
    UINT8 systemHoles = YOZ_SysRom_GetRomHoleNumber();
    UINT8 imageHoles = YOZ_RomFile_GetRomHoleNumber();
    if (YOZ_GetRHFullCmdIsEnable()) YOZ_SetLayOutChang(1);
    if (!YOZ_GetLayOutChang() && systemHoles == 0 && imageHoles != 0) return eEID_INVALID_HOLE_LAYOUT;
    // Holes and non-critical runs share 16 places: no run could read the flash afterwards.
    if (static_cast<UINT32>(imageHoles) + YOZ_SysNCBCnt > YOZ_MAX_ROMHOLE) return eEID_NON_CRITICAL_BLOCK;
    // Nothing is erased before what the region's blocks hold is known to survive.
    ENUM_ERR_ID carry = RP_CheckCarryOver(blockType);
    if (carry != eEID_NO_ERROR) return carry;
    if (r.AsksOAKey && !YOZ_RomFile_CheckOAKey()) return eEID_UPDATE_CANCEL_BY_USER;
    carry = RP_CheckOAKeyCarry(blockType);
    // A key given up at the warning still leaves the flash its firmware ID.
    return carry != eEID_NO_ERROR ? carry : RP_CheckFirmwareIdKept(blockType);
}

ENUM_ERR_ID YOZ_RegionOpen_Arm(const YOZ_REGION_OPEN& r) {
    *r.Proc->FlashEnable = 1;
    return eEID_NO_ERROR;
}

ENUM_ERR_ID YOZ_RegionOpen_SizeCheck(INT16 sizeStatus) {
    return sizeStatus == 0 ? eEID_NO_ERROR : eEID_WRONG_ROM_FILE_SIZE;
}

void YOZ_RegionOpen_Help(const YOZ_REGION_OPEN& r, UINT8 pass, const char* word, const char* format,
                         const char* suffix) {
    YOZ_OptionHelp(*r.Item, pass, word, suffix, &format, 1);
}

void YOZ_OptionHelp(const TKX_QUEUE_ITEM& item, UINT8 pass, const char* word, const char* suffix,
                    const char* const* lines, UINT32 count) {
    if (!YOZ_ModeTakesPart(item.ModeMask) || pass != 0) return;
    char column[64] = {0};
    UINT32 length = TKX_BoundedCopy(column, word, sizeof(column) - 1);
    StrToUpper(column);
    TKX_BoundedCopy(column + length, suffix, sizeof(column) - 1 - length);
    for (UINT32 k = 0; k < count; ++k) WriteOut(lines[k], 11, k == 0 ? column : "");
    YOZ_CheckGlobalLineCont(count);
}

// ---- Flash half ----

ENUM_ERR_ID YOZ_RegionFlash_Parse(const YOZ_REGION_FLASH& r) {
    if (!YOZ_ModeTakesPart(r.Item->ModeMask)) return eEID_NO_ERROR;
    r.Item->Enabled = 1;
    return eEID_NO_ERROR;
}

ENUM_ERR_ID YOZ_RegionFlash_Execute(const YOZ_REGION_FLASH& r) {
    if (!YOZ_ModeTakesPart(r.Item->ModeMask)) return eEID_NO_ERROR;
    if (*r.Proc->FlashEnable == 0) return eEID_NO_ERROR;
    if (YOZ_GetCapsuleMode() || YOZ_GetRecoveryMode()) return eEID_NO_ERROR;
    // Every module of the run has made its checks before this region is written.
    ENUM_ERR_ID result = YOZ_PreFlash_Run();
    if (result == eEID_NO_ERROR) result = YOZ_RunStages(*r.Slots, YOZ_ORDER_FLASH);
    *r.Proc->FlashEnable = 0;
    return result;
}

ENUM_ERR_ID YOZ_RegionFlash_AllocMap() {
    if (gpFlashInfo == nullptr) return eEID_MEM_ALLOC;
    if (YOZ_pFlashMap == nullptr) YOZ_pFlashMap = AllocMem(gpFlashInfo->BlockCount);
    return YOZ_pFlashMap != nullptr ? eEID_NO_ERROR : eEID_MEM_ALLOC;
}

// Whether the flash half carries the system's OEM activation key (kept in
// its "$FID" record) into the image; an operator who forced the update at
// the OA-key warning has given it up.
static bool CarriesOAKey(YOZ_OAKEY_RULE rule) {
    if (!YOZ_SysRom_CheckOAKeyInRom() || YOZ_GetOAKeyForced()) return false;
    return rule == YOZ_OAKEY_BOOT2 || !YOZ_SysRom_HaveOAKeyBlock();
}

// The checks of what the region keeps, then the system's OEM activation
// key into the loaded image (where the check made sure it fits) and, with
// `work`, its SLP files and holes into it, each at the image's place of its
// GUID.
static ENUM_ERR_ID CarryIntoImage(const YOZ_REGION_PROC* p, UINT8 type, YOZ_OAKEY_RULE rule, UINT8* work) {
    UINT8* system = YOZ_SysRom_GetBuffer();
    if (system == nullptr || YOZ_pOpenFileBuff == nullptr) return eEID_MEM_ALLOC;
    ENUM_ERR_ID result = RP_CheckCarryOver(type);
    if (result == eEID_NO_ERROR) result = RP_CheckOAKeyCarry(type);
    if (result != eEID_NO_ERROR) return result;
    if (CarriesOAKey(rule)) RP_UpdateOemActKey(system, YOZ_pOpenFileBuff);
    if (work != nullptr) RP_CarrySystemData(p, work, system, YOZ_OpenFileSize);
    return eEID_NO_ERROR;
}

ENUM_ERR_ID YOZ_RegionFlash_SecureCarry(const YOZ_REGION_PROC* p, UINT8 type, YOZ_OAKEY_RULE rule, UINT8 policyByte) {
    UINT8 policyBytes = policyByte == YOZ_NO_POLICY_BYTE ? 0 : static_cast<UINT8>(1u << policyByte);
    ENUM_ERR_ID status = YOZ_SecureFlash_PolicyAllows(policyBytes);
    if (status != eEID_NO_ERROR) return status;
    YOZ_PreFlash_SecureAreas(policyBytes, static_cast<UINT8>(1u << type));
    if (p == nullptr || YOZ_PreFlash_Carried(type)) return eEID_NO_ERROR;
    // Read from the system copy before any region of the run is written.
    status = CarryIntoImage(p, type, rule, YOZ_pOpenFileBuff);
    if (status == eEID_NO_ERROR) YOZ_PreFlash_SetCarried(type);
    return status;
}

// The entry of a region flash module that is armed: under secure flash its
// area, the firmware's policy for it and, for the boot and main blocks, the
// system's data carried into the image before the run's one upload.
static ENUM_ERR_ID RegionPreFlash(const void* context) {
    const YOZ_REGION_FLASH& r = *static_cast<const YOZ_REGION_FLASH*>(context);
    if (!YOZ_ModuleRuns(*r.Item) || !YOZ_GetSecureFlashStatus() || r.SecureFlashFunc == nullptr)
        return eEID_NO_ERROR;
    bool keeps = r.Proc == &YOZ_MBProc || r.Proc == &YOZ_BBProc || r.Proc == &YOZ_BB2Proc;
    // The non-critical blocks go in a session of the boot-block area without
    // a policy bit; one block's data alone (bin-file mode) is no upload.
    if (r.BlockType == YOZ_FLASH_MSG_NCB) {
        if (r.Proc == &YOZ_NBNProc && gNBN_UseBinFile) return eEID_NO_ERROR;
        return YOZ_RegionFlash_SecureCarry(nullptr, FLASH_BLOCK_BOOT, r.OAKeyRule, YOZ_NO_POLICY_BYTE);
    }
    return YOZ_RegionFlash_SecureCarry(keeps ? r.Proc : nullptr, r.BlockType, r.OAKeyRule, r.PolicyByte);
}

void YOZ_RegionFlash_Join(const YOZ_REGION_FLASH& r) { YOZ_PreFlash_Join(r.Proc->FlashEnable, RegionPreFlash, &r); }

ENUM_ERR_ID YOZ_RegionFlash_Process(const YOZ_REGION_FLASH& r) {
    UINT8* image = YOZ_RomFile_GetBuffer();
    if (YOZ_SysRom_GetBuffer() == nullptr || image == nullptr || YOZ_RegionFlash_AllocMap() != eEID_NO_ERROR)
        return eEID_MEM_ALLOC;
    // Under secure flash the run's walk has carried it before the upload.
    bool carried = YOZ_GetSecureFlashStatus() && YOZ_PreFlash_Carried(r.BlockType);
    ENUM_ERR_ID result = carried ? eEID_NO_ERROR : CarryIntoImage(r.Proc, r.BlockType, r.OAKeyRule, nullptr);
    if (result != eEID_NO_ERROR) return result;

    // The image merged with what the flash keeps; the image itself where it
    // covers the ROM (its merged ranges are put back after the flash).
    UINT8* work = YOZ_WorkCopy_Make(image, YOZ_OpenFileSize);
    if (work == nullptr) return eEID_MEM_ALLOC;
    if (!carried) RP_CarrySystemData(r.Proc, work, YOZ_SysRom_GetBuffer(), YOZ_OpenFileSize);
    *r.Proc->AllBlockSize = RP_MakeTypeDoItList(r.Proc, YOZ_pFlashMap, static_cast<char>(r.BlockType));
    if (YOZ_GetSecureFlashStatus()) {
        // The secure flash uploads and flashes the loaded image: it takes the merged data.
        if (work != YOZ_pOpenFileBuff)
            memcpy(YOZ_pOpenFileBuff, work, YOZ_OpenFileSize < gRomSize ? YOZ_OpenFileSize : gRomSize);
        YOZ_WorkCopy_Keep();
        r.Slots->FlashFunc = r.SecureFlashFunc;
    } else if (YOZ_RegionFlash_CafPass(r.Proc, r.BlockType, work) != eEID_NO_ERROR) {
        YOZ_WorkCopy_Done();
        return eEID_MEM_ALLOC;
    }
    return result;
}

ENUM_ERR_ID YOZ_RegionFlash_ProcessImage(const YOZ_REGION_FLASH& r) {
    UINT8* image = YOZ_RomFile_GetBuffer();
    if (image == nullptr || YOZ_RegionFlash_AllocMap() != eEID_NO_ERROR) return eEID_MEM_ALLOC;
    *r.Proc->AllBlockSize = RP_MakeTypeDoItList(r.Proc, YOZ_pFlashMap, static_cast<char>(r.BlockType));
    if (r.SecureFlashFunc != nullptr && YOZ_GetSecureFlashStatus()) {
        r.Slots->FlashFunc = r.SecureFlashFunc;
        return eEID_NO_ERROR;
    }
    return YOZ_RegionFlash_CafPass(r.Proc, r.BlockType, image);
}

ENUM_ERR_ID YOZ_RegionFlash_FlashImage(const YOZ_REGION_FLASH& r) {
    if (YOZ_RomFile_GetBuffer() == nullptr) return eEID_MEM_ALLOC;
    YOZ_SetFlashMsg(r.BlockType, *r.Proc->AllBlockSize);
    return YOZ_Flash_Action(YOZ_RomFile_GetBuffer());
}

ENUM_ERR_ID YOZ_RegionFlash_CafPass(const YOZ_REGION_PROC* p, UINT8 msgSet, UINT8* buffer) {
    if (!YOZ_bCAFFlag) return eEID_NO_ERROR;
    YOZ_SetFlashMsg(msgSet, *p->AllBlockSize);
    *p->AllBlockSize = RP_MakeCAFDoItList(p, buffer, YOZ_pFlashMap, *p->AllBlockSize);
    return *p->AllBlockSize == YOZ_CAF_ALLOC_FAILED ? eEID_MEM_ALLOC : eEID_NO_ERROR;
}

ENUM_ERR_ID YOZ_RegionFlash_Flash(const YOZ_REGION_FLASH& r) {
    UINT8* work = YOZ_WorkCopy_Get();
    if (YOZ_RomFile_GetBuffer() == nullptr || work == nullptr) {
        YOZ_WorkCopy_Done();
        return eEID_MEM_ALLOC;
    }
    YOZ_SetFlashMsg(r.BlockType, *r.Proc->AllBlockSize);
    ENUM_ERR_ID result = YOZ_Flash_Action(work);
    YOZ_WorkCopy_Done();
    return result;
}

ENUM_ERR_ID YOZ_RegionFlash_SecureFlash(const YOZ_REGION_FLASH& r) {
    if (YOZ_RomFile_GetBuffer() == nullptr || YOZ_pOpenFileBuff == nullptr) return eEID_MEM_ALLOC;
    ENUM_ERR_ID status = YOZ_SecureFlash_Start(r.PolicyByte, r.BlockType);
    if (status == eEID_NO_ERROR) status = YOZ_RegionFlash_CafPass(r.Proc, r.BlockType, YOZ_pOpenFileBuff);
    if (status != eEID_NO_ERROR) return status;
    YOZ_SetFlashMsg(r.BlockType, *r.Proc->AllBlockSize);
    return YOZ_Flash_Action(YOZ_pOpenFileBuff);
}
