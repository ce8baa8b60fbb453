// "/U": prints the ROM ID and firmware GUID of a ROM image file. A
// stand-alone command: it ends the parse pass, so nothing after it (the
// global check included) takes part in the run.
#include <cstring>
#include "HuxCompat.h"
#include "InfoCommands.h"
#include "RomScan.h"
#include "YozGlobal.h"
#include "YozOptionStore.h"
#include "YozRomFile.h"
#include "YozSwitchMode.h"
#include "YozZozRecords.h"

char g_RomId[9];
UINT8 g_RomGuid[16];
static TKX_QUEUE_ITEM DisplayRomIdQueueItem;
static CHECK_FUNC_ITEM DisplayRomIDCheckFunc;
CHECK_FUNC_ITEM* PtrDisplayRomIDCheckFunc = nullptr;

// Windows of 0x400 bytes from the end of the image, moved down by 0x37E;
// each tests its first 0x37E offsets for the firmware-ID file GUID with the
// section GUID 0x1C bytes further, and a match is searched 0x82 bytes on
// for "$FID" (ROM ID at +7, GUID at +0x10).
static const UINT32 kWindow = 0x400;
static const UINT32 kStep = 0x37E;
static const UINT32 kSectionAt = 0x1C;
static const UINT32 kFidSpan = 0x82;
static const UINT32 kIdAt = 7;
static const UINT32 kGuidAt = 0x10;
static const UINT32 kFidHead = kGuidAt + 16;

ENUM_ERR_ID YOZ_FindRomFileId(const UINT8* image, UINT32 size, char (&id)[9], UINT8 (&guid)[16]) {
    memset(id, 0, sizeof(id));
    memset(guid, 0, sizeof(guid));
    if (image == nullptr || size < kWindow) return eEID_INEXIST_ROM_FILE_ID;
    for (UINT32 start = size - kWindow;; start -= kStep) {
        for (UINT32 at = start; at < start + kStep && size - at >= kSectionAt + 16; ++at) {
            if (memcmp(image + at, kGuidFidFile, 16) != 0) continue;
            if (memcmp(image + at + kSectionAt, kGuidFidSection, 16) != 0) continue;
            // "$FID" starts within kFidSpan bytes of the file and its head fits the image.
            UINT32 spanEnd = at + kFidSpan - 1 + 4;
            UINT32 headEnd = size - kFidHead + 4;
            UINT32 fid = RomScan_Find(image, spanEnd < headEnd ? spanEnd : headEnd, at, "$FID", 4);
            if (fid == ROMSCAN_NONE) continue;
            memcpy(id, image + fid + kIdAt, 8);
            memcpy(guid, image + fid + kGuidAt, 16);
            return eEID_NO_ERROR;
        }
        if (start < kStep) break;
    }
    return eEID_INEXIST_ROM_FILE_ID;
}

static ENUM_ERR_ID GetRomFileRomId() {
    ENUM_ERR_ID status = YOZ_RomFile_LoadToBuff();
    if (status != eEID_NO_ERROR) return status;
    return YOZ_FindRomFileId(YOZ_RomFile_GetBuffer(), YOZ_RomFile_Size(), g_RomId, g_RomGuid);
}

static ENUM_ERR_ID DisplayRomIdParse(TKXArgvList& args, TKX_QUEUE_ITEM* self) {
    self->Enabled = 0;
    if (!YOZ_ModeTakesPart(self->ModeMask)) return eEID_NO_ERROR;
    ENUM_ERR_ID status = YOZ_InfoCommand_Parse(args, "/U", &self->Enabled, YOZ_INFO_TAKES_FILE | YOZ_INFO_COUNTS);
    if (status != eEID_NO_ERROR) return status;
    YOZ_SetUCmdIsEnable(&self->Enabled);
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID DisplayRomIdExecute(TKXQueueItemList&) {
    if (!YOZ_ModeTakesPart(DisplayRomIdQueueItem.ModeMask)) return eEID_NO_ERROR;
    ENUM_ERR_ID status = GetRomFileRomId();
    if (status != eEID_NO_ERROR) return status;
    WriteOut(" - ROM File ROM ID = ");
    WriteOut("%s\n", g_RomId);
    WriteOut(" - ROM File ROM GUID = ");
    YOZ_PrintGuid(g_RomGuid);
    return eEID_NO_ERROR;
}

static void DisplayRomIdHelp(UINT8 pass) {
    if (!YOZ_ModeTakesPart(DisplayRomIdQueueItem.ModeMask) || pass != 1) return;
    WriteOut("|%*s - Display ROM File's ROMID                                     |\n", 11, "/U");
    YOZ_CheckGlobalLineCont(1);
}

ENUM_ERR_ID RegisterDisplayRomIdQueueItem(TKXQueueItemList& items) {
    DisplayRomIdQueueItem = TKX_QUEUE_ITEM{eMID_DISPLAYROMID, DisplayRomIdParse, DisplayRomIdExecute,
                                           DisplayRomIdHelp, nullptr, 0, 1, 0x4E52,
                                           YOZ_MODE_NORMAL | YOZ_MODE_FTF, 0};
    items.push_back(&DisplayRomIdQueueItem);
    HuxDeclareCompat(&DisplayRomIdQueueItem, HUX_COMPAT_STANDS_ALONE, "/U");
    DisplayRomIDCheckFunc = CHECK_FUNC_ITEM{nullptr, nullptr, 1, 0, 0, 0, 0, 0, &DisplayRomIdQueueItem.Enabled};
    PtrDisplayRomIDCheckFunc = &DisplayRomIDCheckFunc;
    YOZ_ZOZ_RegisterModule(eMID_DISPLAYROMID, "/U");
    return eEID_NO_ERROR;
}
