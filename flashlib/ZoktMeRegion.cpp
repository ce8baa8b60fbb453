// ME region table, region requests and the update library: the ME data goes
// to the firmware in pages, then each region (or the whole update) is
// started and polled while the firmware asks to be called again.
#include "TKXOutput.h"
#include "TKXPortIo.h"
#include "TKXPhysMem.h"
#include "TKXRunEnd.h"
#include "TKXString.h"
#include "ZoktFormat.h"
#include "ZoktMe.h"
#include "ZoktOutcome.h"

ZOKT_MER_BLK_DATA_INFO* g_MER_BlkDataInfo = nullptr;
static char g_MER_CmdText[ME_MAX_REGIONS][5];
static UINT8 bFTFMode = 0;
static UINT32 g_MER_PushSize = 0;
static UINT32 g_MEUL_Pages = 0;
static UINT32 g_MER_ProgressCount = 0;
UINT32 g_MER_ddFlash_Page_Size = 0x5000;

UINT16 CalculateSum16(const UINT8* data, UINT32 size) {
    UINT16 sum = 0;
    UINT32 i = 0;
    for (; i + 2 <= size; i += 2) sum = static_cast<UINT16>(sum + (data[i] | (data[i + 1] << 8)));
    if (i < size) sum = static_cast<UINT16>(sum + data[i]);
    return sum;
}

static UINT32 Pages(UINT32 size) { return static_cast<UINT32>((static_cast<UINT64>(size) + ME_PAGE_SIZE - 1) / ME_PAGE_SIZE); }

ENUM_ERR_ID ZOKT_MER_INTERFACE(UINT8* data, UINT32 size, UINT8 regionId, UINT8 request, UINT32 first,
                               UINT32 second, UINT8& callAgain) {
    callAgain = 0;
    Zokt_ResetOutcome();
    if (gpIntrBuf == nullptr) return eEID_BIOS_BUFFER_ALLOC;
    // The data and a message behind it must fit the interface buffer.
    if (size > INTERFACE_BUFFER_SIZE - ME_DATA_OFFSET - 0x100) return eEID_ME_PROCESS_ERROR;
    UINT8* buffer = AllocMem(ZOKT_REQUEST_SIZE);
    if (buffer == nullptr) return eEID_MEM_ALLOC;
    MemSet(buffer, 0, ZOKT_REQUEST_SIZE);
    ZOKT_TC_55_MER_STRUCT* record =
        reinterpret_cast<ZOKT_TC_55_MER_STRUCT*>(ZOKT_ME_BuildRequest(buffer, ME_REGION_RECORD_SIZE));
    record->ReturnStatus = 0;
    record->SubFunction = eMFD_REGION_REQUEST;
    record->First = first;
    record->Second = second;
    record->Request = request;
    record->RegionId = regionId;
    record->Status = 0;
    record->DataAddress = gIntrBufPhyAddr + ME_DATA_OFFSET;
    record->DataSize = size;
    record->DataSum = (request == ME_REQUEST_TRANSFER_DATA && data != nullptr) ? CalculateSum16(data, size) : 0;
    record->DataEnd = gIntrBufPhyAddr + ME_DATA_OFFSET + size;
    MemSet(gpIntrBuf, 0, ME_CLEAR_SIZE);
    MemCpy(gpIntrBuf, buffer, ZOKT_REQUEST_SIZE);
    FreeMem(buffer);
    if (request == ME_REQUEST_TRANSFER_DATA && data != nullptr) MemCpy(gpIntrBuf + ME_DATA_OFFSET, data, size);
    Zokt_SMI_26();

    const ZOKT_STRUCT_V2* answer = reinterpret_cast<const ZOKT_STRUCT_V2*>(gpIntrBuf);
    if (Zokt_LastUnanswered()) return g_ME_LastError = eEID_ME_INFO_NO_SUPPORT;
    char text[256];
    if ((answer->dwRetuenStatus & ZOKT_RS_DIS_OEMSTR) != 0 && Zokt_GetAnswerText(gpIntrBuf, text) != 0)
        WriteOut(" - %s\n", text);
    ZOKT_TC_55_MER_STRUCT answered;
    MemCpy(&answered, gpIntrBuf + ZOKT_RECORD_OFFSET, sizeof(answered));
    if (answered.ReturnStatus == 0) return g_ME_LastError = eEID_ME_INFO_NO_SUPPORT;
    // 1 is "done"; any other value is no answer the program can take as one.
    if (answered.ReturnStatus != 1) return g_ME_LastError = eEID_ME_PROCESS_ERROR;
    if ((answered.Status & ME_STATUS_CALL_AGAIN) != 0) callAgain = 1;
    if ((answered.Status & ME_STATUS_MESSAGE) != 0) {
        const char* message = reinterpret_cast<const char*>(gpIntrBuf + ME_DATA_OFFSET + size);
        TKX_BoundedCopy(text, message, 255);
        if (text[0] != '\0') WriteOut(" - %s\n", text);
    }
    if ((answered.Status & ME_STATUS_FAILED) != 0) return g_ME_LastError = eEID_ME_PROCESS_ERROR;
    return eEID_NO_ERROR;
}

UINT8 ZOKT_MER_Load() {
    if (gpIntrBuf == nullptr) return 0;
    UINT8* record = nullptr;
    UINT8* request = ZOKT_ME_NewRequest(0x800, ME_TABLE_RECORD_SIZE, &record);
    if (request == nullptr) {
        g_ME_LastError = eEID_MEM_ALLOC;
        return 0;
    }
    record[1] = eMFD_REGION_TABLE;
    ZOKT_ME_SendRequest(request, 0x800, ME_CLEAR_SIZE);
    return ZOKT_MER_TakeTable(gpIntrBuf);
}

UINT8 ZOKT_MER_TakeTable(const UINT8* buffer) {
    const ZOKT_STRUCT_V2* answer = reinterpret_cast<const ZOKT_STRUCT_V2*>(buffer);
    const ZOKT_MER_TABLE_RECORD* table = reinterpret_cast<const ZOKT_MER_TABLE_RECORD*>(buffer + ZOKT_RECORD_OFFSET);
    if ((answer->dwRetuenStatus & ZOKT_RS_SUPPORT) == 0 || table->ReturnStatus == 0) {
        g_ME_LastError = eEID_ME_INFO_NO_SUPPORT;
        return 0;
    }
    // The record holds at most 17 entries, whatever count the firmware gives.
    UINT16 count = table->Count > ME_MAX_REGIONS ? ME_MAX_REGIONS : table->Count;
    FreeMem(g_MER_BlkDataInfo);
    g_MER_BlkDataInfo = reinterpret_cast<ZOKT_MER_BLK_DATA_INFO*>(AllocMem(count * sizeof(ZOKT_MER_BLK_ENTRY) + 84));
    if (g_MER_BlkDataInfo == nullptr) {
        g_ME_LastError = eEID_MEM_ALLOC;
        return 0;
    }
    g_MER_BlkDataInfo->Count = count;
    MemCpy(g_MER_BlkDataInfo->Entries, table->Entries, count * sizeof(ZOKT_MER_BLK_ENTRY));
    UINT32 total = 0;
    for (UINT32 i = 0; i < count; ++i) {
        ZOKT_MER_BLK_ENTRY& entry = g_MER_BlkDataInfo->Entries[i];
        entry.Help[sizeof(entry.Help) - 1] = '\0';
        MemCpy(g_MER_CmdText[i], entry.Cmd, 4);
        g_MER_CmdText[i][4] = '\0';
        if (entry.Id != ME_BIOS_REGION_ID) total += entry.Size;
    }
    g_MER_BlkDataInfo->TotalSize = total;
    return 1;
}

static const ZOKT_MER_BLK_ENTRY* Entry(UINT32 n) {
    if (g_MER_BlkDataInfo == nullptr || n >= g_MER_BlkDataInfo->Count) return nullptr;
    return &g_MER_BlkDataInfo->Entries[n];
}

UINT16 ZOKT_MER_GetTotalCmdNum() { return g_MER_BlkDataInfo != nullptr ? g_MER_BlkDataInfo->Count : 0; }
const char* ZOKT_MER_GetCmdString(UINT32 n) { return Entry(n) != nullptr ? g_MER_CmdText[n] : nullptr; }
const char* ZOKT_MER_GetCmdHelp(UINT32 n) { return Entry(n) != nullptr ? Entry(n)->Help : nullptr; }
UINT8 ZOKT_MER_GetCmdID(UINT32 n) { return Entry(n) != nullptr ? Entry(n)->Id : 0; }
UINT32 ZOKT_MER_GetStartAddr(UINT32 n) { return Entry(n) != nullptr ? Entry(n)->StartAddress : 0; }
UINT32 ZOKT_MER_GetBlockSize(UINT32 n) { return Entry(n) != nullptr ? Entry(n)->Size : 0; }
UINT8 ZOKT_MER_GetCmdLock(UINT32 n) { return Entry(n) != nullptr ? Entry(n)->Lock : 0; }

const char* ZOKT_MER_GetRegionName(UINT8 regionId) {
    static const char* const kNames[] = {"FDT", "PDR",   "GBE",    "MER",   "OPR",  "Unknown", "DER",  "REG7",    "BMC, EC",
                                         "REG9", "IE",   "10 GbE", "Oprom", "REGD", "REGE",    "REGF", "2nd BIOS"};
    return regionId < sizeof(kNames) / sizeof(kNames[0]) ? kNames[regionId] : "Unknown";
}

// A session (or capsule push) the firmware may hold: from its request,
// unless clearly refused, until it is freed.
static UINT8 s_SessionMayBeOpen = 0;
// One request without data; a failure of any kind is kept as the last error.
// The run ends with a session the firmware may hold: it is freed.
static ENUM_ERR_ID ReleaseAtRunEnd() {
    ZOKT_MER_Release();
    return eEID_NO_ERROR;
}

static UINT8 Request(UINT8 request, UINT8 regionId, UINT32 first) {
    UINT8 callAgain = 0;
    bool opens = request == ME_REQUEST_ALLOC_SMM || request == ME_REQUEST_TRAN_ONLY_ME ||
                 request == ME_REQUEST_TRAN_BIOS_ME;
    if (opens) {
        s_SessionMayBeOpen = 1;
        TKX_RunEndPush(ReleaseAtRunEnd);
    }
    ENUM_ERR_ID err = ZOKT_MER_INTERFACE(nullptr, 0, regionId, request, first, 0, callAgain);
    if (err != eEID_NO_ERROR) g_ME_LastError = err;
    if (opens && err != eEID_NO_ERROR && !Zokt_LastUnanswered()) {
        s_SessionMayBeOpen = 0;
        TKX_RunEndPop(ReleaseAtRunEnd);
    }
    return err == eEID_NO_ERROR ? 1 : 0;
}

UINT8 ZOKT_MER_SessionMayBeOpen() { return s_SessionMayBeOpen; }

void ZOKT_MER_HandOver() { TKX_RunEndPop(ReleaseAtRunEnd); }

UINT32 ZOKT_MER_PushSize() {
    UINT32 total = g_MER_BlkDataInfo != nullptr ? g_MER_BlkDataInfo->TotalSize : 0;
    UINT32 runtime = g_pMEInfo != nullptr ? g_pMEInfo->RuntimeLength : 0;
    if (g_ME_NewInterface != 0 && g_MER_BlkDataInfo != nullptr) return total;
    return total > runtime ? total : runtime;
}

UINT8 ZOKT_MER_Init() {
    bFTFMode = 0;
    g_MER_PushSize = ZOKT_MER_PushSize();
    return Request(ME_REQUEST_ALLOC_SMM, ME_REGION_ALL, Pages(g_MER_PushSize));
}

UINT8 ZOKT_MER_FTFMode_Enable() {
    bFTFMode = 1;
    return 1;
}

// Sends size bytes as transfers of 4 KB pages through a bounce block, each
// page repeated while the firmware asks to be called again.
static UINT8 Push(UINT8* data, UINT32 size, CallBackFn_T cb, bool regionForm) {
    if (data == nullptr && size != 0) {
        g_ME_LastError = eEID_ANALYZE_ME_DATA;
        return 0;
    }
    UINT8* bounce = AllocMem(ME_PAGE_SIZE);
    if (bounce == nullptr) {
        g_ME_LastError = eEID_MEM_ALLOC;
        return 0;
    }
    UINT8 ok = 1;
    // Counted in 64 bits: the step past the last page of a 4 GiB push must not wrap.
    for (UINT64 at = 0; at < size && ok != 0; at += ME_PAGE_SIZE) {
        UINT32 done = static_cast<UINT32>(at);
        UINT32 piece = size - done < ME_PAGE_SIZE ? size - done : ME_PAGE_SIZE;
        MemCpy(bounce, data + done, piece);
        if (cb != nullptr) {
            if (regionForm) cb(0xFFFFFFFEu, size, 0);
            else cb(done, size, piece);
        }
        UINT8 callAgain = 0;
        do {
            ENUM_ERR_ID err = ZOKT_MER_INTERFACE(bounce, piece, ME_REGION_ALL, ME_REQUEST_TRANSFER_DATA, ME_PAGE_SIZE,
                                                 0, callAgain);
            if (err != eEID_NO_ERROR) {
                g_ME_LastError = err;
                ok = 0;
            }
        } while (ok != 0 && callAgain != 0);
        if (cb != nullptr && regionForm && ok != 0) cb(done, size, ME_PAGE_SIZE);
    }
    FreeMem(bounce);
    // A push that stopped leaves its line open: it was not done.
    if (cb != nullptr) {
        if (regionForm) cb(0xFFFFFFFEu, size, 0);
        else if (ok != 0) cb(0xFFFFFFFFu, 0, 0);
    }
    return ok;
}

UINT8 ZOKT_MER_PushData(UINT8* data, CallBackFn_T cb) { return Push(data, g_MER_PushSize, cb, true); }

// The spinner of a region update, stepped while the firmware asks to be called again.
static void ZOKT_MER_FlashProgress(UINT8 callAgain, UINT8 regionId) {
    if (callAgain == 0) return;
    static const char kSpin[] = {'|', '-', '\\', '/', '-'};
    ++g_MER_ProgressCount;
    WriteOut(" - Update %s ............ %c\r", ZOKT_MER_GetRegionName(regionId), kSpin[g_MER_ProgressCount - 1]);
    if (g_MER_ProgressCount == 5) g_MER_ProgressCount = 0;
}

UINT8 ZOKT_MER_Update(UINT8 regionId) {
    UINT8 callAgain = 0;
    ENUM_ERR_ID err = ZOKT_MER_INTERFACE(nullptr, 0, regionId, ME_REQUEST_UPD_START, 0, 0, callAgain);
    ZOKT_MER_FlashProgress(callAgain, regionId);
    while (err == eEID_NO_ERROR && callAgain != 0) {
        err = ZOKT_MER_INTERFACE(nullptr, 0, regionId, ME_REQUEST_CALL_AGAIN, 0, 0, callAgain);
        ZOKT_MER_FlashProgress(callAgain, regionId);
    }
    return err == eEID_NO_ERROR ? 1 : 0;
}

static UINT8 SendFree(void*) { return Request(ME_REQUEST_FREE_SMM, ME_REGION_ALL, 0); }

// A free that goes unanswered is sent again; one never answered, refused or
// not sent says that the firmware may still hold what was pushed.
UINT8 ZOKT_MER_Release() {
    TKX_RunEndPop(ReleaseAtRunEnd);
    bFTFMode = 0;
    UINT8 freed = Zokt_SendWhileUnanswered(SendFree, nullptr);
    s_SessionMayBeOpen = 0;
    if (!freed) {
        ZOKT_OUTCOME outcome = Zokt_LastOutcome();
        TKX_EndProgressLine();
        WriteOut(" - The firmware may still hold the pushed ME data: freeing it %s.\n",
                 outcome == eZOKT_UNANSWERED ? "went unanswered"
                 : outcome == eZOKT_NOT_SENT ? "could not be sent"
                                             : "was refused");
    }
    return freed;
}

UINT8 ZOKT_MEUL_Init(UINT32 size) {
    g_MEUL_Pages = Pages(size);
    return Request(ME_REQUEST_ALLOC_SMM, ME_REGION_ALL, g_MEUL_Pages);
}

UINT8 ZOKT_MEUL_PushData(UINT8* data, UINT32 size, CallBackFn_T cb) { return Push(data, size, cb, false); }
UINT8 ZOKT_MEUL_Update() { return Request(ME_REQUEST_MEUL_UPDATE, ME_REGION_ALL, 0); }
UINT8 ZOKT_MEUL_OnlyME_Use_Capsule_Update(UINT32 value) { return Request(ME_REQUEST_TRAN_ONLY_ME, ME_REGION_ALL, value); }
UINT8 ZOKT_MEUL_BIOS_ME_Use_Capsule_Update(UINT32 value) {
    return Request(ME_REQUEST_TRAN_BIOS_ME, ME_REGION_ALL, value);
}
