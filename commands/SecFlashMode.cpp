// "/CAPSULE" and "/RECOVERY" (module slots 91 and 92), one implementation
// over two descriptors. Parsing turns the mode on; executing (after the
// region variants have described the update) writes the recovery copy to
// the EFI system partition when one was asked for, opens the secure-flash
// session and, when the session is of the module's own kind, asks before the
// power-off (capsule) or the restart (recovery) that lets the firmware do
// the update. "/RECOVERY:esp" asks for the copy; "/RECOVERY:" with any other
// value is "/RECOVERY".
#include <cstdio>
#include <cstring>
#include "EspCopyLnx.h"
#include "FlashBlock.h"
#include "HuxCompat.h"
#include "HuxCoreHooks.h"
#include "RunControl.h"
#include "SecureFlash.h"
#include "TKXPortIo.h"
#include "TKXSignal.h"
#include "TKXString.h"
#include "YozOptionStore.h"
#include "YozRegionStages.h"
#include "YozSecFlash.h"
#include "YozSwitchMode.h"
#include "YozZozRecords.h"
#include "ZoktOutcome.h"

static const ENUM_ERR_ID kEspInitFailed = static_cast<ENUM_ERR_ID>(0x36);
static const ENUM_ERR_ID kEspCopyFailed = static_cast<ENUM_ERR_ID>(0x37);
static const UINT8 kModeMask = YOZ_MODE_NORMAL | YOZ_MODE_2X2 | YOZ_MODE_FTF;
// What stays with the firmware once its session is accepted.
static const char kRecoveryArmed[] = " - The recovery stays armed: the next restart recovers the BIOS from %s%s.";
static const char kCapsuleArmed[] =
    " - The capsule stays armed: the next restart applies the BIOS update; the signal stopped only what remained "
    "(the power-off).";

static TKX_QUEUE_ITEM SecFlashCapsuleQueueItem;
static TKX_QUEUE_ITEM SecFlashRecoveryQueueItem;
// The value after "/RECOVERY:", lower-cased.
static char gCopyFilePath[256];

struct SECFLASH_MODE {
    TKX_QUEUE_ITEM* Item;
    ENUM_MODULE_ID ModuleId;
    const char* Word;
    const char* ValuePrefix;  // the word form that carries a value, or null
    void (*SetMode)(UINT8* enabled);
    UINT8 OpType;             // the session kind that ends with this module's question
    const char* Question;
    int (*Power)();
    ENUM_ERR_ID PowerFailed;
    const char* HelpLine;
};

static const SECFLASH_MODE kCapsule = {
    &SecFlashCapsuleQueueItem, eMID_SECFLASHCAPSULE, "/CAPSULE", nullptr, YOZ_SetCapsuleMode, FLASH_OP_CAPSULE,
    " System is going to shut down, are you ready? (Y/N)...", OsShutDown, eEID_SHUTDOWN_FAIL,
    "|%*s - Override Secure Flash policy to Capsule                      |\n"};
static const SECFLASH_MODE kRecovery = {
    &SecFlashRecoveryQueueItem, eMID_SECFLASHRECOVERY, "/RECOVERY", "/RECOVERY:", YOZ_SetRecoveryMode,
    FLASH_OP_RECOVERY, " System is going to reboot, are you ready? (Y/N)...", OsRestart, eEID_REBOOT_FAIL,
    "|%*s - Override Secure Flash policy to Recovery                     |\n"};

static const SECFLASH_MODE& ModeOf(const TKX_QUEUE_ITEM* item) {
    return item == kRecovery.Item ? kRecovery : kCapsule;
}

// The value of a "/RECOVERY:" word: "esp" (any case) asks for the copy,
// which needs the partition to be there.
static ENUM_ERR_ID TakeRecoveryValue(const char* value) {
    MemSet(gCopyFilePath, 0, sizeof(gCopyFilePath));
    TKX_BoundedCopy(gCopyFilePath, value, sizeof(gCopyFilePath) - 1);
    StrToLow(gCopyFilePath);
    if (strcmp(gCopyFilePath, "esp") != 0) return eEID_NO_ERROR;
    if (!InitESPDriver()) return kEspInitFailed;
    SetCopyToESPStatus(1);
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID ModeParse(TKXArgvList& args, TKX_QUEUE_ITEM* self) {
    const SECFLASH_MODE& m = ModeOf(self);
    self->Enabled = 0;
    if (!YOZ_ModeTakesPart(self->ModeMask)) return eEID_NO_ERROR;
    // The mode follows the enabled byte in every run, also when the
    // firmware's configuration answer is what enables the module.
    m.SetMode(&self->Enabled);
    UINT32 prefix = m.ValuePrefix != nullptr ? StringLength(m.ValuePrefix) : 0;
    for (unsigned long i = 1; i < args.size(); ++i) {
        const char* word = args[i]->text;
        const char* value = prefix != 0 ? YOZ_MatchPrefixWord(word, prefix, m.ValuePrefix) : nullptr;
        if (value == nullptr && IdentifyArg(word, m.Word, 1) != 1) continue;
        args[i]->claimed = 1;
        self->Enabled = 1;
        if (value == nullptr) continue;
        ENUM_ERR_ID status = TakeRecoveryValue(value);
        if (status != eEID_NO_ERROR) return status;
    }
    return eEID_NO_ERROR;
}

// The session is accepted: what stands when a signal stops the run from
// here, in the words of a question answered N.
static void PassArmed() {
    char line[160];
    if (FLASH_GetCurrentFlashOpType() == FLASH_OP_RECOVERY) {
        char name[sizeof(FUNC_FLASH_SESSION_BLOCK::Name) + 1];
        FLASH_GetCurrentFlashName(name);
        snprintf(line, sizeof(line), kRecoveryArmed, name, "; the signal stopped only what remained (the restart)");
    } else if (FLASH_GetCurrentFlashOpType() == FLASH_OP_CAPSULE) {
        snprintf(line, sizeof(line), "%s", kCapsuleArmed);
    } else {
        return;
    }
    TKX_PassNoReturn(line);
}

// The recovery copy is written whole and stands under its name when the
// session names it, so the firmware finds this run's file there; the file it
// replaced is kept aside until the answer. A refused session gets the
// partition back as it was. A session whose answer never came may have been
// taken: the copy stays (no older file under the name the firmware may use)
// and the run ends with the session error. A mode word with no region word
// to carry (or one the mode does not carry, such as "/K") describes no
// update: it is refused before the session.
static ENUM_ERR_ID OpenSession() {
    if (FLASH_GetCurrentFlashOpType() == FLASH_OP_NONE) {
        WriteOut(" - Nothing to update: the command line names nothing for capsule or recovery mode.\n");
        return eEID_INVALID_USER_OPTION;
    }
    bool copy = GetCopyToESPStatus() && GetESPCopyPending();
    if (copy && !RunESPCopy()) {
        ReleaseESPDriver();
        return kEspCopyFailed;
    }
    // The file the copy replaces goes aside just before the session request
    // and its fate is settled just after; no signal cuts in between. The
    // session arms the firmware: a signal that came before it cancels the
    // run here, with nothing sent and the copy gone; once it is accepted the
    // update stands.
    TKX_HoldSignalsForStep();
    TKX_LeaveBeforeNoReturn();
    if (copy && !CommitESPCopy()) {
        TKX_ReleaseSignalsOfStep();
        ReleaseESPDriver();
        return kEspCopyFailed;
    }
    UINT8 status = FLASH_SetFlashMethod();
    bool refused = status != 0 && !Zokt_LastUnanswered();
    if (refused) {
        UndoESPCopy();
    } else {
        KeepESPCopy();
    }
    if (status == 0) PassArmed();
    TKX_ReleaseSignalsOfStep();
    ReleaseESPDriver();
    if (status == 0) return eEID_NO_ERROR;
    if (!refused) WriteOut(" - No answer to the secure-flash session: the firmware may have taken it.\n");
    return eEID_SECURE_FLASH_SESSION_START;
}

static ENUM_ERR_ID ModeExecute(const SECFLASH_MODE& m) {
    if (!YOZ_ModeTakesPart(m.Item->ModeMask)) return eEID_NO_ERROR;
    if (!FLASH_IsSecureFlashSupported())
        return YOZ_GetCapsuleMode() || YOZ_GetRecoveryMode() ? eEID_SECURE_FLASH_SUPPORT : eEID_NO_ERROR;
    ENUM_ERR_ID status = OpenSession();
    if (status != eEID_NO_ERROR) return status;
    if (FLASH_GetCurrentFlashOpType() != m.OpType) return eEID_NO_ERROR;
    if (YOZ_PromptYesOrNo(m.Question) != 0) {
        // The session stays with the firmware: the operator learns what the
        // next restart does.
        if (m.OpType == FLASH_OP_RECOVERY) {
            char name[sizeof(FUNC_FLASH_SESSION_BLOCK::Name) + 1];
            FLASH_GetCurrentFlashName(name);
            WriteOut(kRecoveryArmed, name, "");
            WriteOut("\n");
        }
        return eEID_NO_ERROR;
    }
    CleanFlashIfc();
    // The operator said Yes: a machine that stays up is no success.
    return m.Power() != 0 ? m.PowerFailed : eEID_NO_ERROR;
}

static ENUM_ERR_ID CapsuleExecute(TKXQueueItemList&) { return ModeExecute(kCapsule); }
static ENUM_ERR_ID RecoveryExecute(TKXQueueItemList&) { return ModeExecute(kRecovery); }
static void CapsuleHelp(UINT8 pass) { YOZ_OptionHelp(*kCapsule.Item, pass, kCapsule.Word, "", &kCapsule.HelpLine, 1); }
static void RecoveryHelp(UINT8 pass) {
    YOZ_OptionHelp(*kRecovery.Item, pass, kRecovery.Word, "", &kRecovery.HelpLine, 1);
}

static ENUM_ERR_ID RegisterMode(TKXQueueItemList& items, const SECFLASH_MODE& m, ExecutionActionFunctionT execute,
                                CommandHelpT help) {
    *m.Item = TKX_QUEUE_ITEM{m.ModuleId, ModeParse, execute, help, nullptr, 0, 0, 0x8000, kModeMask, 0};
    YOZ_ZOZ_RegisterModule(m.ModuleId, m.Word);
    items.push_back(m.Item);
    HuxDeclareCompat(m.Item, HUX_COMPAT_OWN_POWER, m.Word);
    return eEID_NO_ERROR;
}

ENUM_ERR_ID RegisterSecFlashCapsuleQueueItem(TKXQueueItemList& items) {
    return RegisterMode(items, kCapsule, CapsuleExecute, CapsuleHelp);
}

ENUM_ERR_ID RegisterSecFlashRecoveryQueueItem(TKXQueueItemList& items) {
    MemSet(gCopyFilePath, 0, sizeof(gCopyFilePath));
    return RegisterMode(items, kRecovery, RecoveryExecute, RecoveryHelp);
}
