// Stages shared by the ME update-library modules: the "/MEUL:" word, the ME
// file, the push progress, the update-library session of "/MEUL:" and the
// capsule session of the two capsule forms.
#include "RomInfo.h"
#include "RunControl.h"
#include "SecureFlash.h"
#include "TKXFile.h"
#include "TKXString.h"
#include "YozFlash.h"
#include "YozGlobal.h"
#include "YozMeStages.h"
#include "YozMeulStages.h"
#include "YozOptionStore.h"
#include "YozSecFlash.h"
#include "YozSwitchMode.h"
#include "YozSysRom.h"

static const char kMeulWord[] = "/MEUL:";
static const UINT32 kMeulWordLength = sizeof(kMeulWord) - 1;

ENUM_ERR_ID YOZ_MEUL_ParseFileWord(TKX_QUEUE_ITEM* item, TKXArgvList& args, YOZ_MEUL_DATA& d, bool capsuleForm) {
    MemSet(&d, 0, sizeof(d));
    item->Enabled = 0;
    if (!YOZ_ModeTakesPart(item->ModeMask)) return eEID_NO_ERROR;
    // The word belongs to the form that "/CAPSULE" chooses: the other
    // leaves it to that one.
    bool named = false, capsule = false;
    for (unsigned long i = 1; i < args.size(); ++i) capsule = capsule || IdentifyArg(args[i]->text, "/CAPSULE", 1) == 1;
    if (capsule != capsuleForm) return eEID_NO_ERROR;
    for (unsigned long i = 1; i < args.size(); ++i) {
        const char* name = YOZ_MatchPrefixWord(args[i]->text, kMeulWordLength, kMeulWord);
        if (name == nullptr) continue;
        // A name that does not fit is refused rather than cut.
        if (StringLength(name) >= sizeof(d.FileName)) return eEID_COMMAND_LINE;
        MemSet(d.FileName, 0, sizeof(d.FileName));
        TKX_BoundedCopy(d.FileName, name, sizeof(d.FileName) - 1);
        args[i]->claimed = 1;
        // Word 1 goes with it only when it names a file: a mistyped name
        // before the option is an unknown word, not silently dropped.
        YOZ_ClaimFileWord(args, i);
        named = true;
    }
    item->Enabled = named ? 1 : 0;
    return eEID_NO_ERROR;
}

ENUM_ERR_ID YOZ_MEUL_Gates(bool capsule) {
    ENUM_ERR_ID status = YOZ_GlobalCheck_Gates();
    if (status == eEID_NO_ERROR && capsule) status = YOZ_SecFlash_CheckModePolicy(FLASH_OP_CAPSULE);
    return status;
}

ENUM_ERR_ID YOZ_MEUL_OpenFile(YOZ_MEUL_DATA& d, bool capsule) {
    d.Buff = nullptr;
    d.Size = 0;
    ENUM_ERR_ID gates = YOZ_MEUL_Gates(capsule);
    if (gates != eEID_NO_ERROR) return gates;
    UINT8* data = nullptr;
    UINT32 size = 0;
    ENUM_ERR_ID status = QueryFileHub(d.FileName, &data, size);
    if (status != eEID_NO_ERROR) return status;
    if (data == nullptr || size == 0) return eEID_ANALYZE_ME_DATA;
    d.Buff = data;
    d.Size = size;
    return eEID_NO_ERROR;
}

void YOZ_MEUL_Progress(YOZ_MEUL_DATA& d, UINT32 offset, UINT32, UINT32 piece) {
    if (d.Size == 0) return;
    WriteOut(" Input the ME Local data into the BIOS ..... ");
    if (offset == YOZ_PROGRESS_CLOSE) {
        WriteOut("done                \n");
        return;
    }
    d.Pushed = piece < d.Size - d.Pushed ? d.Pushed + piece : d.Size;
    WriteOut("0x%08lX (%d%%) \r", static_cast<unsigned long>(offset), static_cast<int>(d.Pushed * 100ull / d.Size));
}

// ---- Sessions ----

// The data and progress printer of the session being run.
static YOZ_MEUL_DATA* s_Data = nullptr;
static CallBackFn_T s_Progress = nullptr;

static ENUM_ERR_ID Push() {
    s_Data->Pushed = 0;
    return ZOKT_MEUL_PushData(s_Data->Buff, s_Data->Size, s_Progress) ? eEID_NO_ERROR : YOZ_ME_DataFailed();
}

// The file lands at the start of the ME area, which the ME information
// bounds by the BIOS region's base: where it fits there it is read back.
static ENUM_ERR_ID ReadBack() {
    ZOKT_TC_55_MEUD_STRUCT* info = YOZ_ME_Info();
    if (info == nullptr) return eEID_NO_ERROR;
    UINT64 end = static_cast<UINT64>(info->RuntimeBase) + s_Data->Size;
    if (end > info->BiosRegionBase || end > gRomSize) return eEID_NO_ERROR;
    return YOZ_ME_ReadBack(info->RuntimeBase, s_Data->Size, s_Data->Buff);
}

static ENUM_ERR_ID PushAndUpdate() {
    ENUM_ERR_ID status = Push();
    if (status != eEID_NO_ERROR) return status;
    WriteOut(" - Update MEUL....\r");
    if (!ZOKT_MEUL_Update()) return YOZ_ME_LastError();
    status = ReadBack();
    if (status != eEID_NO_ERROR) return status;
    WriteOut(" - Update success for MEUL.\n");
    return eEID_NO_ERROR;
}

// The support check, then the data must be there.
static ENUM_ERR_ID Begin(YOZ_MEUL_DATA& d, CallBackFn_T progress) {
    if (!YOZ_SysRom_CheckMESupport()) return YOZ_ME_LastError();
    if (d.Buff == nullptr || d.Size == 0) return eEID_ANALYZE_ME_DATA;
    s_Data = &d;
    s_Progress = progress;
    return eEID_NO_ERROR;
}

ENUM_ERR_ID YOZ_MEUL_Update(YOZ_MEUL_DATA& d, CallBackFn_T progress) {
    ENUM_ERR_ID status = Begin(d, progress);
    if (status != eEID_NO_ERROR) return status;
    return YOZ_ME_RunSession(ZOKT_MEUL_Init, d.Size, PushAndUpdate, true);
}

ENUM_ERR_ID YOZ_MEUL_Capsule(YOZ_MEUL_DATA& d, UINT8 (*form)(UINT32 size), CallBackFn_T progress) {
    ENUM_ERR_ID status = Begin(d, progress);
    if (status == eEID_NO_ERROR) status = YOZ_ME_RunSession(form, d.Size, Push, false);
    if (status != eEID_NO_ERROR) return status;
    FLASH_ConfigFlashSessionBlock(FLASH_OP_CAPSULE, FLASH_BLOCK_MAIN, nullptr, d.Size);
    return eEID_NO_ERROR;
}

// ---- Module pattern ----

ENUM_ERR_ID YOZ_MEUL_RunCapsuleStages(const TKX_QUEUE_ITEM& item, const YOZ_STAGE_SLOTS& slots) {
    if (!YOZ_ModeTakesPart(item.ModeMask) || !YOZ_GetCapsuleMode() || YOZ_GetRecoveryMode()) return eEID_NO_ERROR;
    return YOZ_RunStages(slots, "O P F Z ZF");
}

void YOZ_MEUL_Register(TKXQueueItemList& items, TKX_QUEUE_ITEM& item, ENUM_MODULE_ID id,
                       ParsingCommandFunctionT parse, ExecutionActionFunctionT execute, CommandHelpT help,
                       UINT8 stopParse, YOZ_STAGE_SLOTS& slots, YOZ_StageFunc openFile, YOZ_StageFunc zoktFunc) {
    item = TKX_QUEUE_ITEM{id, parse, execute, help, nullptr, 0, stopParse, 0x8000, YOZ_MODE_NORMAL, 0};
    items.push_back(&item);
    slots = YOZ_STAGE_SLOTS{};
    slots.OpenFileFunc = openFile;
    slots.ZOKTFunc = zoktFunc;
}
