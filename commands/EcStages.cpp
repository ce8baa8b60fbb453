// Steps shared by the EC modules.
#include "YozEcStages.h"
#include "TKXOutput.h"
#include "TKXRunEnd.h"
#include "ZoktEc.h"
#include "YozOptionStore.h"
#include "YozRomFile.h"
#include "YozSwitchMode.h"
#include "YozZozRecords.h"

ENUM_ERR_ID YOZ_Ec_Register(TKXQueueItemList& items, TKX_QUEUE_ITEM* item, const char* text, CHECK_FUNC_ITEM* record,
                            CHECK_FUNC_ITEM** published, void (*reset)()) {
    items.push_back(item);
    YOZ_ZOZ_RegisterModule(static_cast<ENUM_MODULE_ID>(item->ModuleId), text);
    *published = record;
    reset();
    return eEID_NO_ERROR;
}

ENUM_ERR_ID YOZ_Ec_NotLargerCheck(INT16 sizeStatus) {
    return sizeStatus == 0 || sizeStatus == -1 ? eEID_NO_ERROR : eEID_WRONG_ROM_FILE_SIZE;
}

ENUM_ERR_ID YOZ_Ec_ParseWord(TKX_QUEUE_ITEM* item, TKXArgvList& args, const char* word, void (*reset)(),
                             void (*setFlag)(UINT8* enabled)) {
    reset();
    item->Enabled = 0;
    if (!YOZ_ModeTakesPart(item->ModeMask)) return eEID_NO_ERROR;
    if (YOZ_ParseOptionWord(item, args, word) != eEID_NO_ERROR) return eEID_COMMAND_LINE;
    setFlag(&item->Enabled);
    return eEID_NO_ERROR;
}

ENUM_ERR_ID YOZ_Ec_NoBlock(YOZ_STAGE_SLOTS& slots) {
    slots.ProcessFunc = nullptr;
    slots.FlashFunc = nullptr;
    slots.ZOKTCheck = nullptr;
    slots.ZOKTFunc = nullptr;
    return eEID_EC_NOT_FOUND;
}

ENUM_ERR_ID YOZ_Ec_ImageCoversBlock(UINT32 start, UINT32 size) {
    return static_cast<UINT64>(start) + size > YOZ_OpenFileSize ? eEID_EC_FILE_ERROR : eEID_NO_ERROR;
}

ENUM_ERR_ID YOZ_Ec_CheckImage(UINT8* image, UINT32 size, ZOKT_EC_HDR_STRUCT* header) {
    UINT8 found = 0;
    if (YOZ_RomFile_CheckECBuffer(image, size, header, &found)) return eEID_NO_ERROR;
    return found ? eEID_EC_FILE_CHKSUM_ERROR : eEID_EC_TABLE_ERROR;
}

ENUM_ERR_ID YOZ_Ec_PreFlash(const TKX_QUEUE_ITEM& item, YOZ_STAGE_SLOTS& slots, const YOZ_REGION_FLASH* secure) {
    ENUM_ERR_ID status = YOZ_RunStageAhead(item, slots.ZOKTCheck);
    if (status == eEID_NO_ERROR) status = YOZ_RunStageAhead(item, slots.OpenFileFunc);
    if (status != eEID_NO_ERROR || secure == nullptr || !YOZ_ModuleRuns(item) || !YOZ_GetSecureFlashStatus())
        return status;
    return YOZ_RegionFlash_SecureCarry(nullptr, secure->BlockType, secure->OAKeyRule, secure->PolicyByte);
}

void YOZ_Ec_Help(const TKX_QUEUE_ITEM& item, UINT8 pass, const char* word, const char* line) {
    YOZ_OptionHelp(item, pass, word, "", &line, 1);
}

// The controller whose flash mode the run may hold.
static UINT16 s_ChipId = 0;
static UINT8 s_EcxForm = 0;

static ENUM_ERR_ID LeaveAtRunEnd() {
    EC_MODE_AFTER_FAILURE mode = EC_LeaveAfterFailure(s_ChipId, s_EcxForm);
    if (mode == eEC_MODE_LEFT) return eEID_NO_ERROR;
    TKX_EndProgressLine();
    if (mode == eEC_MODE_KEPT)
        WriteOut(" - The EC stays in flash mode: its firmware update did not complete.\n");
    else
        WriteOut(" - The EC may still be in flash mode: leaving it was not confirmed.\n");
    return eEID_EC_EXIT_ERROR;
}

void YOZ_Ec_Started(UINT16 chipId, UINT8 ecxForm) {
    s_ChipId = chipId;
    s_EcxForm = ecxForm;
    TKX_RunEndPush(LeaveAtRunEnd);
}

void YOZ_Ec_Left() { TKX_RunEndPop(LeaveAtRunEnd); }
