// ROM-ID length: compare only the first N (0 to 8) characters of the ROM
// ID. The option word is the firmware's manufacturing word 14, the count
// follows it in the same word.
#include "HuxCompat.h"
#include "RunControl.h"
#include "TKXString.h"
#include "YozRomFile.h"
#include "YozSwitchMode.h"
#include "YozRegionStages.h"

INT32 ICC_CheckCount;
static TKX_QUEUE_ITEM s_IccItem;

static ENUM_ERR_ID IccParse(TKXArgvList& args, TKX_QUEUE_ITEM* self) {
    self->Enabled = 0;
    YOZ_TakeMfgWord(14, gICC_HC_IdfStr);
    if (!YOZ_ModeTakesPart(self->ModeMask)) return eEID_NO_ERROR;
    UINT32 length = StringLength(gICC_HC_IdfStr);
    if (length == 0) return eEID_NO_ERROR;
    for (unsigned long i = 1; i < args.size(); ++i) {
        const char* value = YOZ_MatchPrefixWord(args[i]->text, length, gICC_HC_IdfStr);
        if (value == nullptr) continue;
        if (args.size() <= 2) return eEID_COMMAND_LINE;
        self->Enabled = 1;
        args[i]->claimed = 1;
        bool fileWord = YOZ_ClaimFileWord(args, i);
        long long count = YOZ_OptionNumber(value);
        if (count < 0 || count > 8) return eEID_INVALID_ROMID_DEF_LENGTH;
        ICC_CheckCount = static_cast<INT32>(count);
        if (fileWord && YOZ_pFileName == nullptr) YOZ_pFileName = args[1]->text;
    }
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID IccExecute(TKXQueueItemList&) {
    if (!YOZ_ModeTakesPart(s_IccItem.ModeMask)) return eEID_NO_ERROR;
    YOZ_RomFile_SetCheckRomIDCount(1, static_cast<UINT8>(ICC_CheckCount));
    return eEID_NO_ERROR;
}

static void IccHelp(UINT8) {}

ENUM_ERR_ID RegistercheckromidcntQueueItem(TKXQueueItemList& items) {
    ICC_CheckCount = 0;
    s_IccItem = TKX_QUEUE_ITEM{eMID_CHECKROMIDCNT, IccParse, IccExecute, IccHelp, nullptr, 0, 0, 34,
                               YOZ_MODE_NORMAL, 0};
    items.push_back(&s_IccItem);
    HuxDeclareCompat(&s_IccItem, HUX_COMPAT_RUN_CONTROL, nullptr);
    return eEID_NO_ERROR;
}
