// The ME-region options: one word per command of the firmware's ME-region
// table ("/" and at most four characters of the command text), each
// updating its region; the chosen regions are pushed to the firmware and
// updated in one region session inside an entire-ME update. When the table
// lists the entire ME (command id 4), "/ME" is carried out here.
#include <cstring>
#include "HuxCompat.h"
#include "RomInfo.h"
#include "TKXPhysMem.h"
#include "TKXString.h"
#include "YozGlobal.h"
#include "YozMeStages.h"
#include "YozOptionStore.h"
#include "YozPreFlash.h"
#include "YozRomFile.h"
#include "YozRomRecords.h"
#include "YozSwitchMode.h"

static TKX_QUEUE_ITEM merfQueueItem;
static CHECK_FUNC_ITEM MERFCheckFunc;
CHECK_FUNC_ITEM* PtrMERFCheckFunc = nullptr;
static YOZ_STAGE_SLOTS s_Slots;
UINT32 CmdTotalCnt = 0;       // commands in the firmware's table
UINT8* CmdEnable = nullptr;   // one byte per command: chosen
static UINT8* s_FtfBuffer = nullptr;

static const UINT32 kHelpColumns = 60;
// The word the compatibility check names the module's update by: the first
// region word given, or "/ME" when only that was.
static char s_Word[8] = "";

static ENUM_ERR_ID MERF_CheckBlockFunc() { return eEID_NO_ERROR; }

static ENUM_ERR_ID MERF_ZOKTCheck() {
    if (!YOZ_ME_Held(ZOKT_ME_Full_FlashStart) && !ZOKT_ME_CheckSupport()) {
        YOZ_bMESupport = 0;
        s_Slots.ZOKTFunc = nullptr;
        return ZOKT_ME_GetLastError();
    }
    YOZ_bMESupport = 1;
    return eEID_NO_ERROR;
}

// FTF and APL platforms: the ME data are the image's bytes of every
// non-BIOS region, one region after another in table order. Every region
// must lie inside the image.
static ENUM_ERR_ID MERF_FillFtfBuffer() {
    UINT64 total = 0;
    for (UINT32 n = 0; n < CmdTotalCnt; ++n) {
        if (ZOKT_MER_GetCmdID(n) == ME_BIOS_REGION_ID) continue;
        if (!YOZ_RangeInside(ZOKT_MER_GetStartAddr(n), ZOKT_MER_GetBlockSize(n), YOZ_OpenFileSize))
            return eEID_ANALYZE_ME_DATA;
        total += ZOKT_MER_GetBlockSize(n);
    }
    if (YOZ_pOpenFileBuff == nullptr || total == 0 || total > 0xFFFFFFFFu) return eEID_ANALYZE_ME_DATA;
    s_FtfBuffer = AllocMem(static_cast<UINT32>(total));
    if (s_FtfBuffer == nullptr) return eEID_MEM_ALLOC;
    UINT32 at = 0;
    for (UINT32 n = 0; n < CmdTotalCnt; ++n) {
        if (ZOKT_MER_GetCmdID(n) == ME_BIOS_REGION_ID) continue;
        memcpy(s_FtfBuffer + at, YOZ_pOpenFileBuff + ZOKT_MER_GetStartAddr(n), ZOKT_MER_GetBlockSize(n));
        at += ZOKT_MER_GetBlockSize(n);
    }
    YOZ_pMEBuff = s_FtfBuffer;
    YOZ_MESize = static_cast<UINT32>(total);
    return eEID_NO_ERROR;
}

// Where command n's bytes lie in the pushed data: at its start address
// (the push is the flash from offset 0), or on FTF and APL platforms behind
// the regions before it. False when the push does not hold them.
static bool PushedBytes(UINT32 n, bool packed, UINT8** bytes) {
    UINT64 offset = ZOKT_MER_GetStartAddr(n);
    if (packed) {
        offset = 0;
        for (UINT32 k = 0; k < n; ++k)
            if (ZOKT_MER_GetCmdID(k) != ME_BIOS_REGION_ID) offset += ZOKT_MER_GetBlockSize(k);
    }
    if (offset + ZOKT_MER_GetBlockSize(n) > ZOKT_MER_PushSize() || offset + ZOKT_MER_GetBlockSize(n) > YOZ_MESize)
        return false;
    *bytes = YOZ_pMEBuff + offset;
    return true;
}

// An updated region is read back where the push holds its bytes and the
// flash holds the region.
static ENUM_ERR_ID MERF_ReadBack(UINT32 n, bool packed) {
    UINT8* bytes = nullptr;
    UINT32 start = ZOKT_MER_GetStartAddr(n), size = ZOKT_MER_GetBlockSize(n);
    if (size == 0 || !YOZ_RangeInside(start, size, gRomSize) || !PushedBytes(n, packed, &bytes)) return eEID_NO_ERROR;
    return YOZ_ME_ReadBack(start, size, bytes);
}

// Push, then one update per chosen region (the BIOS region never), each
// read back; the first refusal ends it.
static ENUM_ERR_ID MERF_UpdateRegions(bool packed) {
    if (!ZOKT_MER_PushData(YOZ_pMEBuff, nullptr)) return YOZ_ME_DataFailed();
    for (UINT32 n = 0; n < CmdTotalCnt; ++n) {
        UINT8 id = ZOKT_MER_GetCmdID(n);
        if (CmdEnable[n] == 0 || id == ME_BIOS_REGION_ID) continue;
        if (!ZOKT_MER_Update(id)) return eEID_ME_IS_PROTECT;
        ENUM_ERR_ID status = MERF_ReadBack(n, packed);
        if (status != eEID_NO_ERROR) return status;
    }
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID MERF_UpdateChosen() { return MERF_UpdateRegions(false); }

static UINT8 MERF_Open(UINT32) { return ZOKT_MER_Init(); }

static ENUM_ERR_ID MERF_FtfSession() {
    ZOKT_MER_FTFMode_Enable();
    return MERF_UpdateRegions(true);
}

static ENUM_ERR_ID MERF_ZOKTFunc() {
    if (CmdEnable == nullptr) return eEID_NO_ERROR;
    UINT8* meBuff = YOZ_pMEBuff;
    UINT32 meSize = YOZ_MESize;
    bool ftf = YOZ_GetMLAP_FTF_isExist() || YOZ_GetMLAP_APL_isExist();
    ENUM_ERR_ID status = ftf ? MERF_FillFtfBuffer() : eEID_NO_ERROR;
    // The session takes its bytes from the ME data: they must be there.
    if (status == eEID_NO_ERROR && (YOZ_pMEBuff == nullptr || ZOKT_MER_PushSize() > YOZ_MESize))
        status = eEID_ANALYZE_ME_DATA;
    // Once the session is allocated, every path frees it and ends the update.
    if (status == eEID_NO_ERROR)
        status = YOZ_ME_RunSession(MERF_Open, 0, ftf ? MERF_FtfSession : MERF_UpdateChosen, true);
    if (s_FtfBuffer != nullptr) {
        FreeMem(s_FtfBuffer);
        s_FtfBuffer = nullptr;
        YOZ_pMEBuff = meBuff;
        YOZ_MESize = meSize;
    }
    return status;
}

// A chosen region the table marks locked would be refused its update.
static ENUM_ERR_ID MERF_ChosenUnlocked() {
    for (UINT32 n = 0; n < CmdTotalCnt; ++n) {
        if (CmdEnable[n] != 0 && ZOKT_MER_GetCmdID(n) != ME_BIOS_REGION_ID && ZOKT_MER_GetCmdLock(n) != 0)
            return eEID_ME_IS_PROTECT;
    }
    return eEID_NO_ERROR;
}

// Before another module's first erase: the chosen regions are not locked,
// and the update is started there.
static ENUM_ERR_ID MerfPreFlash(const void*) {
    if (!YOZ_ModuleRuns(merfQueueItem) || CmdEnable == nullptr) return eEID_NO_ERROR;
    return YOZ_ME_CheckSession(ZOKT_ME_CheckSupport, MERF_ChosenUnlocked);
}

static void ResetState() {
    FreeMem(CmdEnable);
    CmdEnable = nullptr;
    CmdTotalCnt = 0;
    s_Slots = YOZ_STAGE_SLOTS{};
    s_Slots.ZOKTCheck = MERF_ZOKTCheck;
    s_Slots.ZOKTFunc = MERF_ZOKTFunc;
}

// "/" and at most the first four characters of command n's text. The BIOS
// region's command has no word (it is never updated), nor has one without
// text: then the word is "/" alone and false is returned.
static bool RegionWord(UINT32 n, char word[6]) {
    const char* text = ZOKT_MER_GetCmdString(n);
    word[0] = '/';
    word[1] = '\0';
    if (ZOKT_MER_GetCmdID(n) == ME_BIOS_REGION_ID) return false;
    TKX_BoundedCopy(word + 1, text != nullptr ? text : "", 4);
    return word[1] != '\0';
}

static ENUM_ERR_ID MerfParse(TKXArgvList& args, TKX_QUEUE_ITEM* self) {
    ResetState();
    self->Enabled = 0;
    if (!YOZ_ModeTakesPart(self->ModeMask)) return eEID_NO_ERROR;
    CmdTotalCnt = ZOKT_MER_GetTotalCmdNum();
    if (CmdTotalCnt == 0) return eEID_NO_ERROR;
    CmdEnable = AllocMem(CmdTotalCnt);
    if (CmdEnable == nullptr) return eEID_MEM_ALLOC;
    for (unsigned long i = 1; i < args.size(); ++i) {
        for (UINT32 n = 0; n < CmdTotalCnt; ++n) {
            char word[6];
            if (!RegionWord(n, word) || IdentifyArg(args[i]->text, word, 1) != 1) continue;
            args[i]->claimed = 1;
            if (self->Enabled == 0) TKX_BoundedCopy(s_Word, args[i]->text, sizeof(s_Word) - 1);
            self->Enabled = 1;
            CmdEnable[n] = 1;
        }
    }
    if (YOZ_GetMECmdIsEnable() && YOZ_MER_CarriesME()) {
        if (self->Enabled == 0) TKX_BoundedCopy(s_Word, "/ME", sizeof(s_Word) - 1);
        self->Enabled = 1;
        for (UINT32 n = 0; n < CmdTotalCnt; ++n) {
            if (ZOKT_MER_GetCmdID(n) == ME_ENTIRE_REGION_ID) CmdEnable[n] = 1;
        }
    }
    YOZ_SetMERCmdIsEnable(&self->Enabled);
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID MerfExecute(TKXQueueItemList&) { return YOZ_ME_Execute(merfQueueItem, s_Slots, "P F Z ZF"); }

// One line per command with a word; a help text of 60 characters or more
// gets no padding.
static void MerfHelp(UINT8 pass) {
    if (!YOZ_ModeTakesPart(merfQueueItem.ModeMask) || pass != 0) return;
    UINT32 lines = 0;
    for (UINT32 n = 0; n < ZOKT_MER_GetTotalCmdNum(); ++n) {
        char word[6];
        if (!RegionWord(n, word)) continue;
        StrToUpper(word);
        const char* help = ZOKT_MER_GetCmdHelp(n);
        if (help == nullptr) help = "";
        UINT32 length = StringLength(help);
        WriteOut("|%*s - %s.", 11, word, help);
        WriteOut("%*s|\n", static_cast<int>(length < kHelpColumns ? kHelpColumns - length : 0), "");
        ++lines;
    }
    if (lines != 0) YOZ_CheckGlobalLineCont(lines);
}

ENUM_ERR_ID RegistermerfQueueItem(TKXQueueItemList& items) {
    merfQueueItem = TKX_QUEUE_ITEM{eMID_MERF, MerfParse,      MerfExecute, MerfHelp, nullptr, 0, 0, 0x8000,
                                   YOZ_MODE_NORMAL | YOZ_MODE_FTF, 0};
    YOZ_ME_Register(items, merfQueueItem, nullptr, MERFCheckFunc, MERF_CheckBlockFunc, PtrMERFCheckFunc);
    ResetState();
    YOZ_PreFlash_Join(&merfQueueItem.Enabled, MerfPreFlash, nullptr);
    HuxDeclareCompat(&merfQueueItem, HUX_COMPAT_ME_UPDATE, s_Word);
    // The firmware's ME interface version and its region table, asked on every run.
    ZOKT_ME_VersionCheck();
    YOZ_SetMERLoadEnable(ZOKT_MER_Load());
    return eEID_NO_ERROR;
}
