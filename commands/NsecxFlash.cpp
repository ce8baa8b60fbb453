// The EC-file option: in manufacturing mode the firmware names its word
// (entry 13, "/ECX:" in help texts); the rest of the word names a separate
// EC file, which the firmware's ECX interface programs: size query, erase,
// write and verify of the controller's whole ROM.
#include "HuxCoreHooks.h"
#include "RunControl.h"
#include "TKXFile.h"
#include "TKXString.h"
#include "YozEcStages.h"
#include "YozFlash.h"
#include "YozGlobal.h"
#include "YozOptionStore.h"
#include "YozRomFile.h"
#include "YozSwitchMode.h"
#include "ZoktEc.h"

static TKX_QUEUE_ITEM nsecxflashQueueItem;
static CHECK_FUNC_ITEM NESECXCheckFunc;
CHECK_FUNC_ITEM* PtrNESECXCheckFunc = nullptr;
static YOZ_STAGE_SLOTS s_Slots;
char gNSECX_HC_IdfStr[YOZ_MFG_WORD_CHARS + 1];
char gNSEXC_BinFileName[256];
UINT32 gNSECX_BinFileSize = 0;
UINT8* gNSECX_BinFileBuff = nullptr;  // owned by the file hub
static UINT8 s_FileRead = 0;

static const UINT8 kEcxCmdString = 13;
static const UINT32 kEcxTries = 5;  // counted down before each attempt: four attempts

// Any name is read, an absolute path too.
static ENUM_ERR_ID NSECX_OpenRomFileFunc() {
    if (gNSEXC_BinFileName[0] == '\0') return eEID_NO_ERROR;
    ENUM_ERR_ID status = QueryFileHub(gNSEXC_BinFileName, &gNSECX_BinFileBuff, gNSECX_BinFileSize);
    s_FileRead = status == eEID_NO_ERROR;
    return status;
}

typedef ENUM_ERR_ID (*EcxRequest)(UINT32 size, UINT8* data, CallBackFn_T printer);
static ENUM_ERR_ID EraseRequest(UINT32 size, UINT8*, CallBackFn_T printer) { return ECX_EraseBlk(size, printer); }

// The controller's position is its own: before a request is repeated the
// retry notice puts it back at the start of the ROM, and a write gets the
// erase it needs again.
static void Rewind(EcxRequest request, UINT32 length) {
    EC_Base_ReTryBlk(0, nullptr, 1);
    if (request == ECX_WriteBlk) ECX_EraseBlk(length, nullptr);
}

// One step of the controller's update with its own tries: a failed attempt
// sends the request once more without progress, a new attempt restarts the
// progress line; `failure` after the last one.
static ENUM_ERR_ID EcxStep(EcxRequest request, CallBackFn_T printer, ENUM_ERR_ID failure, UINT32 length, UINT8* data) {
    YOZ_FlashWay = YOZ_FLASH_WAY_ECX;
    ENUM_ERR_ID result = failure;
    for (UINT32 tries = kEcxTries; --tries > 0;) {
        if (tries != kEcxTries - 1) {
            printer(YOZ_PROGRESS_CLOSE, 0, YOZ_PROGRESS_CLOSE);
            Rewind(request, length);
        }
        if (request(length, data, printer) == eEID_NO_ERROR) {
            printer(YOZ_PROGRESS_CLOSE, 0, 0);
            result = eEID_NO_ERROR;
            break;
        }
        Rewind(request, length);
        request(length, data, nullptr);
    }
    if (result != eEID_NO_ERROR) printer(YOZ_PROGRESS_CLOSE, YOZ_PROGRESS_CLOSE, YOZ_PROGRESS_CLOSE);
    YOZ_FlashWay = YOZ_FLASH_WAY_IDLE;
    return result;
}

static ENUM_ERR_ID NSECX_EraseFlash(UINT32 length) {
    return EcxStep(EraseRequest, YOZ_CallBack_Erase, eEID_ERASE_FLASH, length, nullptr);
}
static ENUM_ERR_ID NSECX_WriteFlash(UINT32 length, UINT8* data) {
    return EcxStep(ECX_WriteBlk, YOZ_CallBack_Update, eEID_WRITE_FLASH, length, data);
}
static ENUM_ERR_ID NSECX_VerfiyFlash(UINT32 length, UINT8* data) {
    return EcxStep(ECX_VerifyBlk, YOZ_CallBack_Verify, eEID_VERIFY_FLASH, length, data);
}

static ENUM_ERR_ID NSECX_ZOKTFunc() {
    if (!s_FileRead) return eEID_EC_STOP;
    // Only whole KiB can be asked for; a rest would go unwritten.
    if (gNSECX_BinFileSize == 0 || gNSECX_BinFileSize % 1024 != 0) return eEID_EC_FILE_ERROR;
    UINT32 length = gNSECX_BinFileSize;
    ENUM_ERR_ID status = ECX_GetSize(&length, nullptr);
    if (status == eEID_NO_ERROR && length != gNSECX_BinFileSize) status = eEID_EC_FILE_ERROR;
    if (status != eEID_NO_ERROR) return status;
    YOZ_SetFlashMsg(YOZ_FLASH_MSG_ECX, length);
    YOZ_Ec_Started(0, 1);
    status = ECX_EnterFlashMode();
    if (status == eEID_NO_ERROR) status = NSECX_EraseFlash(length);
    if (status == eEID_NO_ERROR) status = NSECX_WriteFlash(length, gNSECX_BinFileBuff);
    if (status == eEID_NO_ERROR) status = NSECX_VerfiyFlash(length, gNSECX_BinFileBuff);
    if (status == eEID_NO_ERROR) status = ECX_LeaveFlashMode();
    if (status == eEID_NO_ERROR) YOZ_Ec_Left();
    return status;
}

static void ResetState() {
    MemSet(gNSECX_HC_IdfStr, 0, sizeof(gNSECX_HC_IdfStr));
    MemSet(gNSEXC_BinFileName, 0, sizeof(gNSEXC_BinFileName));
    gNSECX_BinFileSize = 0;
    gNSECX_BinFileBuff = nullptr;
    s_FileRead = 0;
    s_Slots = YOZ_STAGE_SLOTS{};
    s_Slots.OpenFileFunc = NSECX_OpenRomFileFunc;
    s_Slots.ZOKTFunc = NSECX_ZOKTFunc;
}

static ENUM_ERR_ID NsecxParse(TKXArgvList& args, TKX_QUEUE_ITEM* self) {
    ResetState();
    self->Enabled = 0;
    YOZ_TakeMfgWord(kEcxCmdString, gNSECX_HC_IdfStr);
    if (!YOZ_ModeTakesPart(self->ModeMask)) return eEID_NO_ERROR;
    UINT32 length = StringLength(gNSECX_HC_IdfStr);
    if (length == 0) return eEID_NO_ERROR;  // outside manufacturing mode the option does not exist
    for (unsigned long i = 1; i < args.size(); ++i) {
        const char* name = YOZ_MatchPrefixWord(args[i]->text, length, gNSECX_HC_IdfStr);
        if (name == nullptr) continue;
        // A name that does not fit is refused rather than cut.
        if (StringLength(name) >= sizeof(gNSEXC_BinFileName)) return eEID_COMMAND_LINE;
        TKX_BoundedCopy(gNSEXC_BinFileName, name, sizeof(gNSEXC_BinFileName) - 1);
        self->Enabled = 1;
        args[i]->claimed = 1;
        args[1]->claimed = 1;
        if (YOZ_pFileName == nullptr) YOZ_pFileName = gNSEXC_BinFileName;
    }
    YOZ_SetECXCmdIsEnable(&self->Enabled);
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID NsecxExecute(TKXQueueItemList&) {
    return YOZ_RunWritingStages(nsecxflashQueueItem, s_Slots, "L Z O P F ZF");
}

// The EC file read before the run's first erase.
static ENUM_ERR_ID NsecxPreFlash(const void*) { return YOZ_Ec_PreFlash(nsecxflashQueueItem, s_Slots, nullptr); }

static void NsecxHelp(UINT8) {}

ENUM_ERR_ID RegisternsecxflashQueueItem(TKXQueueItemList& items) {
    nsecxflashQueueItem = TKX_QUEUE_ITEM{eMID_NSECXFLASH, NsecxParse, NsecxExecute, NsecxHelp, nullptr, 0, 0, 0x8000,
                                         YOZ_MODE_NORMAL, 0};
    NESECXCheckFunc = CHECK_FUNC_ITEM{YOZ_Ec_NotLargerCheck, nullptr, 0, 0, 0, 0, 0, 0, &nsecxflashQueueItem.Enabled};
    YOZ_PreFlash_Join(&nsecxflashQueueItem.Enabled, NsecxPreFlash, nullptr);
    return YOZ_Ec_Register(items, &nsecxflashQueueItem, "/ECX:", &NESECXCheckFunc, &PtrNESECXCheckFunc, ResetState);
}
