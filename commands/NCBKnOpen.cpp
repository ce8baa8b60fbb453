// "/K" followed by a block number (0-15): open half of the chosen
// non-critical blocks command. The parse notes the numbers; the firmware's
// selection record then decides which blocks are flashed. A file smaller
// than the flash part is taken as non-critical block data only.
#include <cstring>
#include "TKXString.h"
#include "YozGlobal.h"
#include "YozNcbStages.h"
#include "YozOptionStore.h"
#include "YozRomFile.h"
#include "YozSwitchMode.h"
#include "YozZozRecords.h"
#include "ZoktCfgCmd.h"

static TKX_QUEUE_ITEM s_Item;
static YOZ_STAGE_SLOTS s_Slots;
static const YOZ_REGION_OPEN kOpen = {&YOZ_NBNProc, &s_Item, &s_Slots, YOZ_SetNCBKnCmdIsEnable, 0, 0};
static CHECK_FUNC_ITEM NCBKnCheckFunc;
CHECK_FUNC_ITEM* PtrNCBKnCheckFunc = nullptr;

static ENUM_ERR_ID NBNO_CheckRomFunc(INT16 sizeStatus) {
    if (sizeStatus == 0) return eEID_NO_ERROR;
    if (sizeStatus != -1) return eEID_WRONG_ROM_FILE_SIZE;
    // Block data only: no volumes to check, no firmware ID to compare.
    NCBKnCheckFunc.needsFileProcessing = 0;
    NCBKnCheckFunc.spare1 = 0;
    NCBKnCheckFunc.needsFfsChecksum = 0;
    NCBKnCheckFunc.spare2 = 0;
    NCBKnCheckFunc.needsRomIdCheck = 0;
    gNBN_UseBinFile = 1;
    return eEID_NO_ERROR;
}
static ENUM_ERR_ID NBNO_CheckBlockFunc() { return YOZ_NcbOpen_HaveNcb(); }
// Once the firmware has chosen: block data beyond the chosen block's room
// would be dropped, so the file is refused before anything is erased.
static ENUM_ERR_ID NBNO_CheckFileFunc() {
    if (gNBN_UseBinFile && !NBN_Proc_BinFileFits(YOZ_OpenFileSize, gNBN_InputKnList)) return eEID_WRONG_ROM_FILE_SIZE;
    return eEID_NO_ERROR;
}
static ENUM_ERR_ID NBNO_FlashFunc() { return YOZ_RegionOpen_Arm(kOpen); }

static ENUM_ERR_ID NCBKnOpenParse(TKXArgvList& args, TKX_QUEUE_ITEM*) {
    NBN_FuncVar_Init();
    s_Item.Enabled = 0;
    if (!YOZ_ModeTakesPart(s_Item.ModeMask)) return eEID_NO_ERROR;
    memset(gNBN_InputKnList, 0, sizeof(gNBN_InputKnList));
    for (unsigned long i = 1; i < args.size(); ++i) {
        const char* number = IdentifyArgPrefix(args[i]->text, "/K");
        if (number == nullptr || number[0] == '\0') continue;
        if (args.size() <= 2) return eEID_COMMAND_LINE;
        int n = YOZ_RegionNumberWord(number);
        if (n == -1) continue;
        YOZ_RegionOpen_Claim(kOpen, args, i);
        // A number longer than the field names no block.
        if (n < 0 || n >= YOZ_MAX_NCB) return eEID_INVALID_NCB;
        gNBN_InputKnList[n] = 1;
    }
    YOZ_SetNCBKnCmdIsEnable(&s_Item.Enabled);
    return eEID_NO_ERROR;
}

// The selection becomes the firmware's: bits (offset 4) XOR mask (offset 6)
// of its record; 0 when there is no record.
static UINT16 NBNO_BitDataToKnValue() {
    const ZOKT_DC_EXT_ENTRY* record = GetKnEx_HDRData();
    UINT16 selection = record != nullptr ? static_cast<UINT16>(record->Bits ^ record->Mask) : 0;
    for (UINT32 n = 0; n < YOZ_MAX_NCB; ++n) gNBN_InputKnList[n] = (selection >> n) & 1;
    return selection;
}

static ENUM_ERR_ID NCBKnOpenExecute(TKXQueueItemList&) {
    if (!YOZ_ModeTakesPart(s_Item.ModeMask)) return eEID_NO_ERROR;
    if (YOZ_GetCapsuleMode() || YOZ_GetRecoveryMode()) return eEID_NO_ERROR;
    if (NBNO_BitDataToKnValue() == 0) return eEID_NO_ERROR;
    return YOZ_NcbOpen_Execute(kOpen);
}

static void NCBKnOpenHelp(UINT8 pass) {
    YOZ_RegionOpen_Help(kOpen, pass, "/K", "|%*s - Program n'th non-critical block(n=0-15).                     |\n", "n");
}

ENUM_ERR_ID RegisterNCBKnOpenQueueItem(TKXQueueItemList& items) {
    s_Item = TKX_QUEUE_ITEM{eMID_NCBKNOPEN, NCBKnOpenParse, NCBKnOpenExecute, NCBKnOpenHelp, nullptr, 0, 0, 0x58F0, 0x11, 1};
    items.push_back(&s_Item);
    NCBKnCheckFunc = CHECK_FUNC_ITEM{NBNO_CheckRomFunc, NBNO_CheckBlockFunc, 1, 1, 1, 1, 1, 1, &s_Item.Enabled};
    PtrNCBKnCheckFunc = &NCBKnCheckFunc;
    YOZ_ZOZ_RegisterModule(eMID_NCBKNOPEN, "/K");
    s_Slots = YOZ_STAGE_SLOTS{};
    s_Slots.CheckFunc = NBNO_CheckFileFunc;
    s_Slots.FlashFunc = NBNO_FlashFunc;
    NBN_FuncVar_Init();
    memset(gNBN_InputKnList, 0, sizeof(gNBN_InputKnList));
    return eEID_NO_ERROR;
}
