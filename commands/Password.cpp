// Firmware password file: the option word is the firmware's manufacturing
// word 1 and the file name follows it in the same word. Execute reads the
// file through the file hub and hands it to the system ROM's password
// dialogue.
#include "HuxCompat.h"
#include "RunControl.h"
#include "TKXFile.h"
#include "TKXString.h"
#include "YozOptionStore.h"
#include "YozSysRom.h"
#include "YozSwitchMode.h"
#include "YozZozRecords.h"
#include "YozRegionStages.h"

char gPW_FileName[256];
UINT8* gPW_FileBuff;
UINT32 gPW_FileSize;
static TKX_QUEUE_ITEM s_PwItem;

static ENUM_ERR_ID PwParse(TKXArgvList& args, TKX_QUEUE_ITEM* self) {
    MemSet(gPW_FileName, 0, sizeof(gPW_FileName));
    gPW_FileBuff = nullptr;
    gPW_FileSize = 0;
    self->Enabled = 0;
    YOZ_TakeMfgWord(1, gPW_HC_IdfStr);
    if (!YOZ_ModeTakesPart(self->ModeMask)) return eEID_NO_ERROR;
    UINT32 length = StringLength(gPW_HC_IdfStr);
    if (length == 0) return eEID_NO_ERROR;
    for (unsigned long i = 1; i < args.size(); ++i) {
        const char* value = YOZ_MatchPrefixWord(args[i]->text, length, gPW_HC_IdfStr);
        if (value == nullptr) continue;
        self->Enabled = 1;
        args[i]->claimed = 1;
        YOZ_ClaimFileWord(args, i);
        TKX_BoundedCopy(gPW_FileName, value, sizeof(gPW_FileName) - 1);
    }
    YOZ_SetPWCmdIsEnable(&self->Enabled);
    return eEID_NO_ERROR;
}

// Every name is read, an absolute path ("/...") too: handing the firmware
// no data while reporting success would hide a missing file.
static ENUM_ERR_ID PwExecute(TKXQueueItemList&) {
    if (!YOZ_ModeTakesPart(s_PwItem.ModeMask)) return eEID_NO_ERROR;
    WriteOut("Read Password File......");
    ENUM_ERR_ID status = QueryFileHub(gPW_FileName, &gPW_FileBuff, gPW_FileSize);
    if (status != eEID_NO_ERROR) {
        WriteOut("Fail.\n");
        return status;
    }
    WriteOut("OK.\n");
    YOZ_SysRom_PassWord(gPW_FileBuff, gPW_FileSize);
    return eEID_NO_ERROR;
}

static void PwHelp(UINT8) {}

ENUM_ERR_ID RegisterPWQueueItem(TKXQueueItemList& items) {
    s_PwItem = TKX_QUEUE_ITEM{eMID_PW, PwParse, PwExecute, PwHelp, nullptr, 0, 0, 25, YOZ_MODE_NORMAL, 0};
    items.push_back(&s_PwItem);
    HuxDeclareCompat(&s_PwItem, HUX_COMPAT_RUN_CONTROL, nullptr);
    YOZ_ZOZ_RegisterModule(eMID_PW, "/PW:");
    return eEID_NO_ERROR;
}
