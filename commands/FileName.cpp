// The file-name module: notices that the first word names a ROM file and,
// when no region or action command was given, enables the main-BIOS pair so
// that a file name alone flashes the main BIOS (and, in capsule or recovery
// mode, hands the main block to the firmware).
#include "YozOptionStore.h"
#include "YozRegionStages.h"
#include "YozRomFile.h"
#include "YozSecFlash.h"
#include "YozSwitchMode.h"
#include "YozZozRecords.h"

UINT8 FN_pbcmd = 0;
UINT8 CMD_Size = 0;
static TKX_QUEUE_ITEM s_Item;
static YOZ_STAGE_SLOTS s_Slots;

// True when a command that decides what to do was given.
static UINT8 CheckRunModule() {
    if (YOZ_GetSCmdIsEnable() && CMD_Size <= 2) return 1;
    UINT8 (*const flags[])() = {
        YOZ_GetOCmdIsEnable,        YOZ_GetPCmdIsEnable,       YOZ_GetBCmdIsEnable,
        YOZ_GetB2CmdIsEnable,       YOZ_GetNCmdIsEnable,       YOZ_GetDCmdIsEnable,
        YOZ_GetHOLECmdIsEnable,     YOZ_GetHOLEOUTCmdIsEnable, YOZ_GetNSECCmdIsEnable,
        YOZ_GetECCmdIsEnable,       YOZ_GetECUFCmdIsEnable,    YOZ_GetECXCmdIsEnable,
        YOZ_GetMECmdIsEnable,       YOZ_GetMEUFCmdIsEnable,    YOZ_GetMERCmdIsEnable,
        YOZ_GetMEBULCmdIsEnable,
        YOZ_GetUCmdIsEnable,        YOZ_GetNCBFullCmdIsEnable, YOZ_GetNCBKnCmdIsEnable,
        YOZ_GetRHFullCmdIsEnable,   YOZ_GetRHLnCmdIsEnable,    YOZ_GetGANCmdIsEnable,
        YOZ_GetODeleteAKeyCmdIsEnable, YOZ_GetOAKeyCmdIsEnable,
    };
    for (auto flag : flags)
        if (flag()) return 1;
    return 0;
}

static TKX_QUEUE_ITEM* FindItem(TKXQueueItemList& items, UINT32 id) {
    for (unsigned long i = 0; i < items.size(); ++i)
        if (items[i]->ModuleId == id) return items[i];
    return nullptr;
}

static ENUM_ERR_ID FileNameParse(TKXArgvList& args, TKX_QUEUE_ITEM* self) {
    FN_pbcmd = 0;
    CMD_Size = 0;
    self->Enabled = 0;
    if (!YOZ_ModeTakesPart(self->ModeMask)) return eEID_NO_ERROR;
    if (args.size() < 2) return eEID_NO_ERROR;
    YOZ_RomFile_SetFileEnable(args[1]->text);
    // The embedded image's name before options alone is not counted: "/S"
    // typed alone stays an information command.
    UINT32 words = YOZ_ZOZ_GivenWordCount(args);
    CMD_Size = static_cast<UINT8>(words > 0xFF ? 0xFF : words);
    if (YOZ_RomFile_GetFileEnable()) self->Enabled = 1;
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID FileNameExecute(TKXQueueItemList& items) {
    if (!YOZ_ModeTakesPart(s_Item.ModeMask)) return eEID_NO_ERROR;
    FN_pbcmd = CheckRunModule();
    if (FN_pbcmd) return eEID_NO_ERROR;
    // A stand-alone command that ended the parse early leaves the global
    // check (which loads the image) off: nothing would be there to flash.
    TKX_QUEUE_ITEM* check = FindItem(items, eMID_YOZGLOBALCHECK);
    if (check == nullptr || check->Enabled != 1) return eEID_NO_ERROR;
    TKX_QUEUE_ITEM* open = FindItem(items, eMID_MAINBIOSOPEN);
    TKX_QUEUE_ITEM* flash = FindItem(items, eMID_MAINBIOSFLASH);
    if (open != nullptr) open->Enabled = 1;
    if (flash != nullptr) flash->Enabled = 1;
    if (open != nullptr) YOZ_SetPCmdIsEnable(&open->Enabled);
    YOZ_SecFlash_TakeMainBlock(YOZ_pFileName);
    return YOZ_RunStages(s_Slots, YOZ_ORDER_FLASH);
}

static void FileNameHelp(UINT8) { YOZ_ModeTakesPart(s_Item.ModeMask); }

ENUM_ERR_ID RegisterfilenameQueueItem(TKXQueueItemList& items) {
    s_Item = TKX_QUEUE_ITEM{eMID_FILENAME, FileNameParse, FileNameExecute, FileNameHelp, nullptr, 0, 0, 0x4E66, 0x11, 0};
    items.push_back(&s_Item);
    s_Slots = YOZ_STAGE_SLOTS{};
    return eEID_NO_ERROR;
}
