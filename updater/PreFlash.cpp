// The walk of the pre-flash entries and the run's secure-flash upload.
#include <cstring>
#include <initializer_list>
#include "FlashBlock.h"
#include "RomInfo.h"
#include "RomScan.h"
#include "SecureFlash.h"
#include "TKXPhysMem.h"
#include "YozGlobal.h"
#include "YozOptionStore.h"
#include "YozPreFlash.h"
#include "YozRegionProc.h"
#include "YozSysRom.h"

namespace {

struct Entry {
    const UINT8* Active;
    YOZ_PreFlashCheck Check;
    const void* Context;
};

// One entry per joining module; registration happens once per process.
const UINT32 kMaxEntries = 32;
Entry s_Entries[kMaxEntries];
UINT32 s_Count = 0;

UINT8 s_Done = 0;
UINT8 s_PolicyBytes = 0, s_Areas = 0, s_Carried = 0;
YOZ_PreFlashStep s_Last = nullptr;

// The blocks the run writes back, whole or in part, from the flash copy:
// one byte per block of the table, gathered while the walk runs.
UINT8* s_Kept = nullptr;

UINT32 BlockCount() { return gpFlashInfo != nullptr ? gpFlashInfo->BlockCount : 0; }

void ForgetKept() {
    FreeMem(s_Kept);
    s_Kept = nullptr;
}

// What the region and key commands keep: the boot and main blocks the run
// writes (where the protected files are found) and the blocks of every file
// it keeps (the hole commands write those blocks from the flash copy).
void KeepSystemFiles() {
    bool carries = RP_RunWritesType(YOZ_BLOCK_BOOT, 0xFF) || RP_RunWritesType(YOZ_BLOCK_MAIN, 0xFF) ||
                   YOZ_GetRHFullCmdIsEnable() == 1 || YOZ_GetRHLnCmdIsEnable() == 1 || YOZ_GetHOLECmdIsEnable() == 1 ||
                   YOZ_GetOAKeyCmdIsEnable() == 1 || YOZ_GetODeleteAKeyCmdIsEnable() == 1;
    if (!carries) return;
    for (UINT8 type : {YOZ_BLOCK_BOOT, YOZ_BLOCK_MAIN})
        if (RP_RunWritesType(type, 0xFF)) YOZ_PreFlash_KeepType(type);
    for (const _ROMHOLEREC& r : YOZ_SysRHRECList) YOZ_PreFlash_KeepFlash(r.RomOffset, r.Size);
    for (const _ROMHOLEREC& r : YOZ_SysSLPRHRECList) YOZ_PreFlash_KeepFlash(r.RomOffset, r.Size);
    if (YOZ_pFIDVer4 != nullptr) YOZ_PreFlash_KeepFlash(gYOZ_FidSystemOffset, RomScan_Get16(YOZ_pFIDVer4 + 5));
}

// Read again before the first erase: every block the run keeps bytes of,
// each run of adjacent blocks at once.
ENUM_ERR_ID CheckKeptFlash() {
    if (!YOZ_SysRomLoadOK || YOZ_pSystembuff == nullptr || s_Kept == nullptr) return eEID_NO_ERROR;
    KeepSystemFiles();
    ENUM_ERR_ID status = eEID_NO_ERROR;
    UINT64 start = 0, end = 0;  // the run of adjacent kept blocks gathered so far
    for (UINT32 i = 0; i < BlockCount() && status == eEID_NO_ERROR; ++i) {
        const sBlockInfo& b = gpFlashInfo->Blocks[i];
        if (!s_Kept[i]) continue;
        if (end > start && b.StartAddress == end) {
            end += b.BlockSize;
            continue;
        }
        if (end > start) status = YOZ_SysRom_CopyAgrees(static_cast<UINT32>(start), static_cast<UINT32>(end - start));
        start = b.StartAddress;
        end = start + b.BlockSize;
    }
    if (status == eEID_NO_ERROR && end > start)
        status = YOZ_SysRom_CopyAgrees(static_cast<UINT32>(start), static_cast<UINT32>(end - start));
    return status;
}

ENUM_ERR_ID Walk() {
    for (UINT32 i = 0; i < s_Count; ++i) {
        if (*s_Entries[i].Active != 1) continue;
        ENUM_ERR_ID status = s_Entries[i].Check(s_Entries[i].Context);
        if (status != eEID_NO_ERROR) return status;
    }
    return CheckKeptFlash();
}

}  // namespace

void YOZ_PreFlash_Join(const UINT8* active, YOZ_PreFlashCheck check, const void* context) {
    for (UINT32 i = 0; i < s_Count; ++i)
        if (s_Entries[i].Check == check && s_Entries[i].Context == context) return;
    if (s_Count < kMaxEntries && active != nullptr && check != nullptr) s_Entries[s_Count++] = Entry{active, check, context};
}

void YOZ_PreFlash_Reset() {
    s_Done = 0;
    s_PolicyBytes = s_Areas = s_Carried = 0;
    s_Last = nullptr;
    ForgetKept();
}

UINT8 YOZ_PreFlash_Done() { return s_Done; }

ENUM_ERR_ID YOZ_PreFlash_Run() {
    if (s_Done) return eEID_NO_ERROR;
    s_Done = 1;
    if (BlockCount() != 0) {
        s_Kept = AllocMem(BlockCount());
        if (s_Kept == nullptr) return eEID_MEM_ALLOC;
    }
    ENUM_ERR_ID status = Walk();
    ForgetKept();
    // One upload covers every area the run writes through the firmware.
    if (status == eEID_NO_ERROR && s_Areas != 0 && YOZ_GetSecureFlashStatus())
        status = YOZ_SecureFlash_Open(s_PolicyBytes, s_Areas);
    if (status == eEID_NO_ERROR && s_Last != nullptr) status = s_Last();
    return status;
}

void YOZ_PreFlash_Last(YOZ_PreFlashStep step) {
    if (s_Last == nullptr) s_Last = step;
}

void YOZ_PreFlash_KeepFlash(UINT32 offset, UINT32 size) {
    if (s_Kept == nullptr || size == 0) return;
    UINT64 from = offset, to = from + size;
    for (UINT32 i = 0; i < BlockCount(); ++i) {
        const sBlockInfo& b = gpFlashInfo->Blocks[i];
        if (from < static_cast<UINT64>(b.StartAddress) + b.BlockSize && to > b.StartAddress) s_Kept[i] = 1;
    }
}

void YOZ_PreFlash_KeepType(UINT8 type) {
    if (s_Kept == nullptr) return;
    for (UINT32 i = 0; i < BlockCount(); ++i)
        if (gpFlashInfo->Blocks[i].Type == type) s_Kept[i] = 1;
}

void YOZ_PreFlash_SecureAreas(UINT8 policyBytes, UINT8 areas) {
    s_PolicyBytes = static_cast<UINT8>(s_PolicyBytes | policyBytes);
    s_Areas = static_cast<UINT8>(s_Areas | areas);
}

UINT8 YOZ_PreFlash_Carried(UINT8 type) { return type < 8 && (s_Carried & (1u << type)) ? 1 : 0; }

void YOZ_PreFlash_SetCarried(UINT8 type) {
    if (type < 8) s_Carried = static_cast<UINT8>(s_Carried | (1u << type));
}

ENUM_ERR_ID YOZ_SecureFlash_PolicyAllows(UINT8 policyBytes) {
    FLASH_POLICY_INFO_BLOCK policy;
    memset(&policy, 0, sizeof(policy));
    if (!FLASH_GetSupportedPolicy(&policy)) return eEID_SECURE_FLASH_POLICY_GET;
    for (UINT8 b = 0; b < 2; ++b)
        if ((policyBytes & (1u << b)) && !(policy.Policy[b] & FLASH_OP_RUNTIME)) return eEID_SECURE_FLASH_POLICY_MATCH;
    return eEID_NO_ERROR;
}

ENUM_ERR_ID YOZ_SecureFlash_Start(UINT8 policyByte, UINT8 area) {
    UINT8 policyBytes = policyByte == YOZ_NO_POLICY_BYTE ? 0 : static_cast<UINT8>(1u << policyByte);
    return YOZ_SecureFlash_Open(policyBytes, static_cast<UINT8>(1u << area));
}

ENUM_ERR_ID YOZ_SecureFlash_Open(UINT8 policyBytes, UINT8 areas) {
    ENUM_ERR_ID status = YOZ_SecureFlash_PolicyAllows(policyBytes);
    if (status != eEID_NO_ERROR) return status;
    for (UINT8 area = 0; area < 8; ++area)
        if (areas & (1u << area))
            FLASH_ConfigFlashSessionBlock(FLASH_OP_RUNTIME, static_cast<FLASH_BLOCK_TYPE>(area), nullptr,
                                          YOZ_SecureFileSize);
    if (!FLASH_LoadFwImage(YOZ_pSecureFileBuff, YOZ_SecureFileSize, 0, LoadProgress))
        return eEID_SECURE_FLASH_LOAD_IMAGE;
    if (FLASH_SetFlashMethod() != 0) return eEID_SECURE_FLASH_SESSION_START;
    return eEID_NO_ERROR;
}
