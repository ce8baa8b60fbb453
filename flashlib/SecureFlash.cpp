// Secure-flash state of the run: the firmware's policy, the session block
// that the region modules accumulate, the one-time image upload and session
// opening, the capsule header and the upload progress line.
#include "SecureFlash.h"
#include "TKXString.h"
#include "ZoktOutcome.h"

static FLASH_POLICY_INFO_BLOCK FlashPolicyBlock;
static FUNC_FLASH_SESSION_BLOCK FlashSessionBlock;
static UINT8 IsSecureFlashSupported = 0;
static UINT8 IsRomImageLoaded = 0;
static UINT8 IsFlashSessionOpened = 0;
static UINT8 IsPolicyRefused = 0;

// 4A3CA68B-7723-48FB-803D-578CC1FEC44D
static const EFI_GUID kCapsuleGuid = {0x4A3CA68B, 0x7723, 0x48FB, {0x80, 0x3D, 0x57, 0x8C, 0xC1, 0xFE, 0xC4, 0x4D}};

void FLASH_ResetSecureFlashState() {
    IsSecureFlashSupported = 0;
    IsRomImageLoaded = 0;
    IsFlashSessionOpened = 0;
    IsPolicyRefused = 0;
}

void FLASH_RenewUpload() {
    IsRomImageLoaded = 0;
    IsFlashSessionOpened = 0;
}

static UINT8 AskPolicy(void*) { return ZOKT_GetSupportedPolicy(&FlashPolicyBlock); }

// An answer lost on the way looks like a firmware without secure flash;
// asking again tells them apart.
UINT8 FLASH_InitialSecureFlashPolicy() {
    IsPolicyRefused = 0;
    if (Zokt_SendWhileUnanswered(AskPolicy, nullptr) != 0) {
        MemSet(&FlashSessionBlock, 0, sizeof(FlashSessionBlock));
        FlashSessionBlock.OpType = FLASH_OP_NONE;
        return 1;
    }
    if (Zokt_LastOutcome() == eZOKT_REFUSED) IsPolicyRefused = 1;
    return 0;
}

UINT8 FLASH_PolicyRefused() { return IsPolicyRefused; }

UINT8 FLASH_IsSecureFlashSupported() { return IsSecureFlashSupported; }

void FLASH_SetSecureFlashSupported(UINT8 supported) { IsSecureFlashSupported = supported; }

UINT8 FLASH_GetSupportedPolicy(FLASH_POLICY_INFO_BLOCK* out) {
    if (IsSecureFlashSupported == 0) return 0;
    MemCpy(out, &FlashPolicyBlock, sizeof(FlashPolicyBlock));
    return 1;
}

void FLASH_ConfigFlashSessionBlock(UINT8 opType, FLASH_BLOCK_TYPE area, const char* name, UINT32 size) {
    if (opType < FlashSessionBlock.OpType) FlashSessionBlock.OpType = opType;
    if (area < 32) FlashSessionBlock.AreaBits |= 1u << area;
    if (name != nullptr) {
        // Up to the terminator and zero-padded: no stray bytes go to the firmware.
        MemSet(FlashSessionBlock.Name, 0, sizeof(FlashSessionBlock.Name));
        for (UINT32 i = 0; i < sizeof(FlashSessionBlock.Name) && name[i] != '\0'; ++i) {
            FlashSessionBlock.Name[i] = name[i];
        }
    }
    FlashSessionBlock.ImageSize = size;
}

UINT8 FLASH_GetCurrentFlashOpType() { return FlashSessionBlock.OpType; }

void FLASH_GetCurrentFlashName(char (&name)[sizeof(FUNC_FLASH_SESSION_BLOCK::Name) + 1]) {
    MemSet(name, 0, sizeof(name));
    MemCpy(name, FlashSessionBlock.Name, sizeof(FlashSessionBlock.Name));
}

UINT8 FLASH_LoadFwImageEx(UINT8* piece, UINT32 offset, UINT32 size, CallBackFn_T cb) {
    return ZOKT_LoadFwImageEx(piece, offset, size, cb);
}

UINT8 FLASH_LoadFwImage(UINT8* image, UINT32 size, UINT32 base, CallBackFn_T cb) {
    if (IsRomImageLoaded != 0) return 1;
    UINT32 pieces = size / ZOKT_SF_PIECE_SIZE;
    UINT32 i = 0;
    for (; i < pieces; ++i) {
        UINT32 at = i * ZOKT_SF_PIECE_SIZE;
        if (ZOKT_LoadFwImageEx(image + at, base + at, ZOKT_SF_PIECE_SIZE, nullptr) == 0) return 0;
        if (cb != nullptr) cb(size, base + at, 1);
    }
    UINT32 rest = size % ZOKT_SF_PIECE_SIZE;
    if (rest != 0) {
        UINT32 at = i * ZOKT_SF_PIECE_SIZE;
        if (ZOKT_LoadFwImageEx(image + at, base + at, rest, nullptr) == 0) return 0;
        if (cb != nullptr) cb(size, base + at, 1);
    }
    if (cb != nullptr) cb(0, 0, 0);
    IsRomImageLoaded = 1;
    return 1;
}

UINT8 FLASH_SetFlashMethod() {
    if (IsFlashSessionOpened != 0) return 0;
    UINT8 status = ZOKT_SetFlashMethod(&FlashSessionBlock);
    if (status == 0) IsFlashSessionOpened = 1;
    return status;
}

UINT8* FLASH_ExtractRomImageFromCapsule(UINT8* file, UINT32 size) {
    if (file == nullptr || size < sizeof(ORVEX_FW_CAPSULE_HEADER)) return nullptr;
    const ORVEX_FW_CAPSULE_HEADER* header = reinterpret_cast<const ORVEX_FW_CAPSULE_HEADER*>(file);
    if (MemCmp(&header->CapsuleGuid, &kCapsuleGuid, sizeof(EFI_GUID)) != 1) return nullptr;
    // The header's length counts the header itself and leaves image bytes.
    if (header->HeaderSize < sizeof(ORVEX_FW_CAPSULE_HEADER) || header->HeaderSize >= size) return nullptr;
    return file + header->HeaderSize;
}

void LoadProgress(UINT32 total, UINT32 done, UINT32 running) {
    WriteOut(" Loading capsule to secure memory buffer ... ");
    if (running == 0) {
        WriteOut("done                \n");
        return;
    }
    // 64-bit product: done * 100 overflows an int above about 21 MB.
    UINT64 percent = total == 0 ? 0 : static_cast<UINT64>(done) * 100 / total;
    WriteOut("0x%08lX (%d%%) \r", static_cast<unsigned long>(done), static_cast<int>(percent));
}
