// The walk of the pre-flash entries and the run's secure-flash upload.
#include <cstring>
#include "SecureFlash.h"
#include "YozGlobal.h"
#include "YozOptionStore.h"
#include "YozPreFlash.h"

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

}  // namespace

void YOZ_PreFlash_Join(const UINT8* active, YOZ_PreFlashCheck check, const void* context) {
    for (UINT32 i = 0; i < s_Count; ++i)
        if (s_Entries[i].Check == check && s_Entries[i].Context == context) return;
    if (s_Count < kMaxEntries && active != nullptr && check != nullptr) s_Entries[s_Count++] = Entry{active, check, context};
}

void YOZ_PreFlash_Reset() {
    s_Done = 0;
    s_PolicyBytes = s_Areas = s_Carried = 0;
}

UINT8 YOZ_PreFlash_Done() { return s_Done; }

ENUM_ERR_ID YOZ_PreFlash_Run() {
    if (s_Done) return eEID_NO_ERROR;
    s_Done = 1;
    for (UINT32 i = 0; i < s_Count; ++i) {
        if (*s_Entries[i].Active != 1) continue;
        ENUM_ERR_ID status = s_Entries[i].Check(s_Entries[i].Context);
        if (status != eEID_NO_ERROR) return status;
    }
    // One upload covers every area the run writes through the firmware.
    if (s_Areas == 0 || !YOZ_GetSecureFlashStatus()) return eEID_NO_ERROR;
    return YOZ_SecureFlash_Open(s_PolicyBytes, s_Areas);
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
