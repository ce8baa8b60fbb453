// The eight region variants of capsule and recovery mode (module slots 55 to
// 62), written once over their descriptors. A variant parses long before the
// mode modules, so its mode is known only when it executes: then it checks
// the firmware's policy for the mode, adds its area to the secure-flash
// session and, in capsule mode, uploads the signed image (once per run). In
// recovery mode the session names the recovery file instead: the ROM file
// by its base name, or the copy the "/RECOVERY:esp" form puts on the EFI
// system partition. The region word itself is left to the module that owns it.
#include <cstring>
#include "EspCopyLnx.h"
#include "HuxCoreHooks.h"
#include "TKXFile.h"
#include "TKXPortIo.h"
#include "TKXString.h"
#include "YozGlobal.h"
#include "YozOptionStore.h"
#include "YozRomFile.h"
#include "YozSecFlash.h"

static TKX_QUEUE_ITEM SecFlashBootBlockCapsuleQueueItem;
static TKX_QUEUE_ITEM SecFlashBootBlockRecoveryQueueItem;
static TKX_QUEUE_ITEM SecFlashEmbeddedEcCapsuleQueueItem;
static TKX_QUEUE_ITEM SecFlashEmbeddedEcRecoveryQueueItem;
static TKX_QUEUE_ITEM SecFlashMainBiosCapsuleQueueItem;
static TKX_QUEUE_ITEM SecFlashMainBiosRecoveryQueueItem;
static TKX_QUEUE_ITEM SecFlashNvramCapsuleQueueItem;
static TKX_QUEUE_ITEM SecFlashNvramRecoveryQueueItem;
static YOZ_SECFLASH_FILE s_Files[YOZ_SECFLASH_VARIANTS];

const YOZ_SECFLASH_VARIANT YOZ_SecFlashVariants[YOZ_SECFLASH_VARIANTS] = {
    {eMID_SECFLASHBOOTBLOCKCAPSULE, "/B", FLASH_BLOCK_BOOT, FLASH_OP_CAPSULE, &SecFlashBootBlockCapsuleQueueItem,
     &s_Files[0]},
    {eMID_SECFLASHBOOTBLOCKRECOVERY, "/B", FLASH_BLOCK_BOOT, FLASH_OP_RECOVERY, &SecFlashBootBlockRecoveryQueueItem,
     &s_Files[1]},
    {eMID_SECFLASHEMBEDDEDECCAPSULE, "/E", FLASH_BLOCK_EC, FLASH_OP_CAPSULE, &SecFlashEmbeddedEcCapsuleQueueItem,
     &s_Files[2]},
    {eMID_SECFLASHEMBEDDEDECRECOVERY, "/E", FLASH_BLOCK_EC, FLASH_OP_RECOVERY, &SecFlashEmbeddedEcRecoveryQueueItem,
     &s_Files[3]},
    {eMID_SECFLASHMAINBIOSCAPSULE, "/P", FLASH_BLOCK_MAIN, FLASH_OP_CAPSULE, &SecFlashMainBiosCapsuleQueueItem,
     &s_Files[4]},
    {eMID_SECFLASHMAINBIOSRECOVERY, "/P", FLASH_BLOCK_MAIN, FLASH_OP_RECOVERY, &SecFlashMainBiosRecoveryQueueItem,
     &s_Files[5]},
    {eMID_SECFLASHNVRAMCAPSULE, "/N", FLASH_BLOCK_NVRAM, FLASH_OP_CAPSULE, &SecFlashNvramCapsuleQueueItem,
     &s_Files[6]},
    {eMID_SECFLASHNVRAMRECOVERY, "/N", FLASH_BLOCK_NVRAM, FLASH_OP_RECOVERY, &SecFlashNvramRecoveryQueueItem,
     &s_Files[7]},
};

void YOZ_SecFlash_TakeFile(YOZ_SECFLASH_FILE& file, const char* word, UINT8 baseName) {
    file.RomFileName = word;
    if (!baseName) return;
    file.RomFileBaseEnable = 0;
    // The base-name service may change its argument: it gets a copy.
    char path[4096];
    if (word == nullptr || StringLength(word) >= sizeof(path)) return;
    memcpy(path, word, StringLength(word) + 1);
    if (TKX_GetFileBaseName(path, file.RomFileBaseName, sizeof(file.RomFileBaseName))) file.RomFileBaseEnable = 1;
}

const char* YOZ_SecFlash_SessionName(const YOZ_SECFLASH_FILE& file) {
    const char* name = file.RomFileBaseEnable ? file.RomFileBaseName : file.RomFileName;
    if (name == nullptr) return nullptr;
    return StringLength(name) <= sizeof(FUNC_FLASH_SESSION_BLOCK::Name) ? name : nullptr;
}

void YOZ_SecFlash_TakeMainBlock(const char* word) {
    for (const YOZ_SECFLASH_VARIANT& v : YOZ_SecFlashVariants) {
        if (v.Area != FLASH_BLOCK_MAIN) continue;
        v.Item->Enabled = 1;
        YOZ_SecFlash_TakeFile(*v.File, word, v.OpType == FLASH_OP_RECOVERY);
    }
}

static const YOZ_SECFLASH_VARIANT* VariantOf(const TKX_QUEUE_ITEM* item) {
    for (const YOZ_SECFLASH_VARIANT& v : YOZ_SecFlashVariants)
        if (v.Item == item) return &v;
    return nullptr;
}

// Every occurrence of the region word after word 1 enables the variant and
// claims word 1, the ROM file; the region word stays for its own module. A
// region word in place of the ROM file names none: it is left to its
// module's own verdict.
static ENUM_ERR_ID VariantParse(TKXArgvList& args, TKX_QUEUE_ITEM* self) {
    const YOZ_SECFLASH_VARIANT* v = VariantOf(self);
    if (v == nullptr) return eEID_NO_ERROR;
    self->Enabled = 0;
    for (unsigned long i = 2; i < args.size(); ++i) {
        if (IdentifyArg(args[i]->text, v->Word, 1) != 1) continue;
        self->Enabled = 1;
        args[1]->claimed = 1;
        YOZ_SecFlash_TakeFile(*v->File, args[1]->text, v->OpType == FLASH_OP_RECOVERY);
    }
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID CapsuleSession(const YOZ_SECFLASH_VARIANT& v) {
    FLASH_ConfigFlashSessionBlock(FLASH_OP_CAPSULE, v.Area, nullptr, YOZ_OpenFileSize);
    // The signed file as read, capsule header included; a later variant finds it loaded.
    if (YOZ_pSecureFileBuff == nullptr || YOZ_SecureFileSize == 0) return eEID_SECURE_FLASH_LOAD_IMAGE;
    if (!FLASH_LoadFwImage(YOZ_pSecureFileBuff, YOZ_SecureFileSize, 0, LoadProgress))
        return eEID_SECURE_FLASH_LOAD_IMAGE;
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID RecoverySession(const YOZ_SECFLASH_VARIANT& v) {
    UINT8* data = nullptr;
    UINT32 size = 0;
    if (v.File->RomFileName == nullptr) return eEID_OPEN_IN_FILE;
    ENUM_ERR_ID status = QueryFileHub(v.File->RomFileName, &data, size);
    if (status != eEID_NO_ERROR) return status;
    // The firmware recovers only from a signed file: an unsigned one is
    // refused before it is copied or named to the firmware.
    if (FLASH_ExtractRomImageFromCapsule(data, size) == nullptr) return eEID_SECURE_FLASH_SUPPORT_FILE;
    if (GetCopyToESPStatus()) {
        SetESPCopy(ESP_RECOVERY_FILE_NAME, data, size);
        FLASH_ConfigFlashSessionBlock(FLASH_OP_RECOVERY, v.Area, ESP_RECOVERY_FILE_NAME, size);
        return eEID_NO_ERROR;
    }
    const char* name = YOZ_SecFlash_SessionName(*v.File);
    if (name == nullptr) {
        WriteOut(" - Recovery file name longer than %u characters: %s\n",
                 static_cast<unsigned>(sizeof(FUNC_FLASH_SESSION_BLOCK::Name)), v.File->RomFileName);
        return eEID_INVALID_USER_OPTION;
    }
    FLASH_ConfigFlashSessionBlock(FLASH_OP_RECOVERY, v.Area, name, size);
    return eEID_NO_ERROR;
}

ENUM_ERR_ID YOZ_SecFlash_CheckModePolicy(UINT8 opType) {
    if (!FLASH_IsSecureFlashSupported()) return eEID_SECURE_FLASH_SUPPORT;
    FLASH_POLICY_INFO_BLOCK policy;
    MemSet(&policy, 0, sizeof(policy));
    if (!FLASH_GetSupportedPolicy(&policy)) return eEID_SECURE_FLASH_POLICY_GET;
    // Every area is judged by policy byte 1, the bit of the mode's operation.
    if ((policy.Policy[1] & opType) == 0) return eEID_SECURE_FLASH_POLICY_MATCH;
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID VariantExecute(const YOZ_SECFLASH_VARIANT& v) {
    bool capsule = v.OpType == FLASH_OP_CAPSULE;
    if (!(capsule ? YOZ_GetCapsuleMode() : YOZ_GetRecoveryMode())) return eEID_NO_ERROR;
    ENUM_ERR_ID status = YOZ_SecFlash_CheckModePolicy(v.OpType);
    if (status != eEID_NO_ERROR) return status;
    return capsule ? CapsuleSession(v) : RecoverySession(v);
}

static ENUM_ERR_ID RegisterVariant(TKXQueueItemList& items, UINT32 index, ExecutionActionFunctionT execute) {
    const YOZ_SECFLASH_VARIANT& v = YOZ_SecFlashVariants[index];
    *v.Item = TKX_QUEUE_ITEM{v.ModuleId, VariantParse, execute, nullptr, nullptr, 0, 0, 0x8000, 0, 0};
    v.File->RomFileName = nullptr;
    v.File->RomFileBaseEnable = 0;
    items.push_back(v.Item);
    return eEID_NO_ERROR;
}

// The registrars of the module table, each over its descriptor.
#define YOZ_SECFLASH_REGISTRAR(Registrar, index)                                                    \
    static ENUM_ERR_ID Registrar##Execute(TKXQueueItemList&) {                                    \
        return VariantExecute(YOZ_SecFlashVariants[index]);                                        \
    }                                                                                              \
    ENUM_ERR_ID Registrar(TKXQueueItemList& items) { return RegisterVariant(items, index, Registrar##Execute); }

YOZ_SECFLASH_REGISTRAR(RegisterSecFlashBootBlockCapsuleQueueItem, 0)
YOZ_SECFLASH_REGISTRAR(RegisterSecFlashBootBlockRecoveryQueueItem, 1)
YOZ_SECFLASH_REGISTRAR(RegisterSecFlashEmbeddedEcCapsuleQueueItem, 2)
YOZ_SECFLASH_REGISTRAR(RegisterSecFlashEmbeddedEcRecoveryQueueItem, 3)
YOZ_SECFLASH_REGISTRAR(RegisterSecFlashMainBiosCapsuleQueueItem, 4)
YOZ_SECFLASH_REGISTRAR(RegisterSecFlashMainBiosRecoveryQueueItem, 5)
YOZ_SECFLASH_REGISTRAR(RegisterSecFlashNvramCapsuleQueueItem, 6)
YOZ_SECFLASH_REGISTRAR(RegisterSecFlashNvramRecoveryQueueItem, 7)
