// The always-on BIOS-information module: finds the SMI port and takes the
// interface buffer at registration; at the start of the execute pass it
// opens the flash interface and reads the ROM information.
#include "FlashBlock.h"
#include "HuxCoreHooks.h"
#include "RomInfo.h"
#include "TKXPhysMem.h"
#include "TKXPortIo.h"
#include "TKXString.h"

static TKX_QUEUE_ITEM InitBiosInfoQueueItem;

static const UINT32 kBiosAreaSize = 0x10000;
static ENUM_ERR_ID ParsingCommandFunction(TKXArgvList&, TKX_QUEUE_ITEM*) { return eEID_NO_ERROR; }

static void CommandHelp(UINT8) {}

static ENUM_ERR_ID ExecutionActionFunction(TKXQueueItemList&) {
    ENUM_ERR_ID result = EnableFlashIfc();
    if (result != eEID_NO_ERROR) return result;
    sROMInfo* answer = nullptr;
    result = GetFlashInfo(&answer);
    if (result != eEID_NO_ERROR) return result;
    return TakeFlashInfoAnswer(answer);
}

ENUM_ERR_ID RegisterInitBiosInfoQueueItem(TKXQueueItemList& items) {
    TKX_QUEUE_ITEM& item = InitBiosInfoQueueItem;
    item.ModuleId = eMID_INITBIOSINFO;
    item.ParsingCommandFunction = ParsingCommandFunction;
    item.ExecutionActionFunction = ExecutionActionFunction;
    item.CommandHelp = CommandHelp;
    item.OnErrorFunction = nullptr;
    item.Enabled = 1;
    item.StopParse = 0;
    item.OrderKey = 0x4000;
    item.ModeMask = 0;
    item.RegionOpen = 0;
    items.push_back(&item);
    CleanBiosInfoHook = CleanBiosInfo;

    gSmiPort = GetSystemSmiPort();
    if (AllocPhyMem(INTERFACE_BUFFER_SIZE, &gIntrBufPhyAddr, &gpIntrBuf) == 0 || gpIntrBuf == nullptr) {
        return eEID_BIOS_BUFFER_ALLOC;
    }
    MemSet(gpIntrBuf, 0, INTERFACE_BUFFER_SIZE);
    gpFuncBlock = reinterpret_cast<FunctionBlock*>(gpIntrBuf);
    return eEID_NO_ERROR;
}

void CleanBiosInfo() {
    if (m_BIOSBuf != nullptr) UnMapPhyMem(m_BIOSBuf, kBiosAreaSize);
    if (gpFlashInfo != nullptr) FreeMem(gpFlashInfo);
    if (gIntrBufPhyAddr != 0) FreePhyMem(gIntrBufPhyAddr, INTERFACE_BUFFER_SIZE);
    m_BIOSBuf = nullptr;
    g_ASFData = nullptr;
    gpFlashInfo = nullptr;
    gIntrBufPhyAddr = 0;
    gpIntrBuf = nullptr;
    gpFuncBlock = nullptr;
}
