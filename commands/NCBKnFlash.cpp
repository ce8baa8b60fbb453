// Flash half of the chosen non-critical blocks command: the chosen blocks
// of the image (or the block data of a smaller file) go into the system ROM
// copy, which is flashed.
#include <cstring>
#include "YozFlash.h"
#include "YozNcbStages.h"
#include "YozOptionStore.h"
#include "YozRomFile.h"
#include "YozSysRom.h"

static TKX_QUEUE_ITEM s_Item;
static YOZ_STAGE_SLOTS s_Slots;
static ENUM_ERR_ID NBNF_SecureFlashFunc();
static const YOZ_REGION_FLASH kFlash = {&YOZ_NBNProc, &s_Item, &s_Slots, YOZ_FLASH_MSG_NCB, YOZ_OAKEY_MAIN, 0, NBNF_SecureFlashFunc};

static ENUM_ERR_ID NBNF_FlashFunc() { return YOZ_NcbFlash_Flash(kFlash); }
static ENUM_ERR_ID NBNF_SigleSecureFlashFunc() { return YOZ_NcbFlash_Flash(kFlash); }
static ENUM_ERR_ID NBNF_SecureFlashFunc() { return YOZ_NcbFlash_SecureFlash(kFlash); }

// The chosen blocks into the system ROM copy and the do-it list.
static ENUM_ERR_ID TakeChosenBlocks(UINT8** system) {
    ENUM_ERR_ID status = YOZ_NcbFlash_Buffers(system);
    if (status != eEID_NO_ERROR) return status;
    if (!NBN_Proc_FileRHToFlashBuff(*system, YOZ_RomFile_GetBuffer(), YOZ_OpenFileSize, gNBN_InputKnList))
        return eEID_NOT_MATCH_NCB;
    gNBNF_AllBlockSize = NBN_Proc_MakeDoItList(YOZ_pFlashMap, gNBN_InputKnList);
    return gNBNF_AllBlockSize == 0 ? eEID_INVALID_NCB : eEID_NO_ERROR;
}

static ENUM_ERR_ID NBNF_ProcFullFlashBuffFunc() {
    UINT8* system = nullptr;
    ENUM_ERR_ID status = TakeChosenBlocks(&system);
    if (status != eEID_NO_ERROR) return status;
    if (YOZ_GetSecureFlashStatus()) {
        s_Slots.FlashFunc = NBNF_SecureFlashFunc;
        return eEID_NO_ERROR;
    }
    return YOZ_RegionFlash_CafPass(&YOZ_NBNProc, YOZ_FLASH_MSG_NCB, system);
}

// Block data only: a system whose flash carries the embedded capsule file
// takes the data without a session.
static ENUM_ERR_ID NBNF_ProcSigleFlashBuffFunc() {
    UINT8* system = nullptr;
    ENUM_ERR_ID status = TakeChosenBlocks(&system);
    if (status != eEID_NO_ERROR) return status;
    if (YOZ_GetSecureFlashStatus()) {
        if (!YOZ_RomFile_CheckNewCAPGUID(system, gRomSize)) {
            s_Slots.FlashFunc = NBNF_SecureFlashFunc;
            return eEID_NO_ERROR;
        }
        s_Slots.FlashFunc = NBNF_SigleSecureFlashFunc;
    }
    return YOZ_RegionFlash_CafPass(&YOZ_NBNProc, YOZ_FLASH_MSG_NCB, system);
}

// Before the run's first erase: a chosen block that the system lacks would
// be found only after the regions ahead of this one were written. A file of
// block data only leaves the chosen blocks the system copy's bytes beyond it.
static ENUM_ERR_ID NBNF_PreFlash(const void*) {
    if (NBN_Proc_MakeDoItList(nullptr, gNBN_InputKnList) == 0) return eEID_INVALID_NCB;
    for (UINT32 n = 0; gNBN_UseBinFile && n < YOZ_SysRom_GetNCBNumber() && n < YOZ_MAX_NCB; ++n)
        if (gNBN_InputKnList[n]) YOZ_PreFlash_KeepType(YOZ_SysRom_GetNCBType(n));
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID NBNF_OpenRomFileFunc() {
    if (gNBN_UseBinFile) s_Slots.ProcessFunc = NBNF_ProcSigleFlashBuffFunc;
    return eEID_NO_ERROR;
}

static ENUM_ERR_ID NCBKnFlashParse(TKXArgvList&, TKX_QUEUE_ITEM*) { return YOZ_RegionFlash_Parse(kFlash); }
static ENUM_ERR_ID NCBKnFlashExecute(TKXQueueItemList&) { return YOZ_RegionFlash_Execute(kFlash); }
static void NCBKnFlashHelp(UINT8) {}

ENUM_ERR_ID RegisterNCBKnFlashQueueItem(TKXQueueItemList& items) {
    s_Item = TKX_QUEUE_ITEM{eMID_NCBKNFLASH, NCBKnFlashParse, NCBKnFlashExecute, NCBKnFlashHelp, nullptr, 0, 0, 0x8000, 0x11, 0};
    items.push_back(&s_Item);
    YOZ_PreFlash_Join(&gNBN_FlashEnable, NBNF_PreFlash, nullptr);
    YOZ_RegionFlash_Join(kFlash);
    s_Slots = YOZ_STAGE_SLOTS{};
    s_Slots.OpenFileFunc = NBNF_OpenRomFileFunc;
    s_Slots.ProcessFunc = NBNF_ProcFullFlashBuffFunc;
    s_Slots.FlashFunc = NBNF_FlashFunc;
    memset(gNBN_InputKnList, 0, sizeof(gNBN_InputKnList));
    return eEID_NO_ERROR;
}
