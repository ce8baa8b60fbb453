// "/D": runs the pre-flash checks on a ROM image file and reports them
// without flashing. The global check item (before it in the table) loads
// the image and runs the checks its record asks for (size, volume
// checksums, ROM ID); any failure there has ended the run already, so the
// report reads the outcome.
#include "HuxCompat.h"
#include "InfoCommands.h"
#include "YozGlobal.h"
#include "YozOptionStore.h"
#include "YozSwitchMode.h"
#include "YozZozRecords.h"

static TKX_QUEUE_ITEM VerifyQueueItem;
static CHECK_FUNC_ITEM VerifyCheckFunc;
CHECK_FUNC_ITEM* PtrVerifyCheckFunc = nullptr;
static UINT8 bRomSizeResult;  // the image is as large as the flash

static ENUM_ERR_ID CheckRomSizeFunc(INT16 sizeStatus) {
    bRomSizeResult = sizeStatus == 0;
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID VerifyParse(TKXArgvList& args, TKX_QUEUE_ITEM* self) {
    self->Enabled = 0;
    if (!YOZ_ModeTakesPart(self->ModeMask)) return eEID_NO_ERROR;
    ENUM_ERR_ID status = YOZ_InfoCommand_Parse(args, "/D", &self->Enabled, YOZ_INFO_TAKES_FILE | YOZ_INFO_COUNTS);
    if (status != eEID_NO_ERROR) return status;
    YOZ_SetDCmdIsEnable(&self->Enabled);
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID VerifyExecute(TKXQueueItemList&) {
    if (!YOZ_ModeTakesPart(VerifyQueueItem.ModeMask)) return eEID_NO_ERROR;
    WriteOut(" - ROM File Capsule Header checking.. ");
    WriteOut("%s", YOZ_bCapHead ? "Enable\n" : "Disable\n");
    WriteOut(" - ROM File Size checking ........... ");
    WriteOut("%s", bRomSizeResult ? "ok\n" : "fail\n");
    WriteOut(" - ROM ID checking .................. ");
    WriteOut("ok\n");
    WriteOut(" - ROM File verification status ..... ");
    WriteOut("ok\n");
    return eEID_NO_ERROR;
}

static void VerifyHelp(UINT8 pass) {
    if (!YOZ_ModeTakesPart(VerifyQueueItem.ModeMask) || pass != 1) return;
    WriteOut("|%*s - Verification test of given ROM File without flashing BIOS.   |\n", 11, "/D");
    YOZ_CheckGlobalLineCont(1);
}

ENUM_ERR_ID RegisterVerifyQueueItem(TKXQueueItemList& items) {
    VerifyQueueItem = TKX_QUEUE_ITEM{eMID_VERIFY, VerifyParse, VerifyExecute, VerifyHelp, nullptr, 0, 1, 0x4E5C,
                                     YOZ_MODE_NORMAL | YOZ_MODE_FTF, 0};
    items.push_back(&VerifyQueueItem);
    bRomSizeResult = 0;
    VerifyCheckFunc = CHECK_FUNC_ITEM{CheckRomSizeFunc, nullptr, 1, 1, 1, 1, 1, 1, &VerifyQueueItem.Enabled};
    PtrVerifyCheckFunc = &VerifyCheckFunc;
    YOZ_ZOZ_RegisterModule(eMID_VERIFY, "/D");
    HuxDeclareCompat(&VerifyQueueItem, HUX_COMPAT_STANDS_ALONE, "/D");
    return eEID_NO_ERROR;
}
