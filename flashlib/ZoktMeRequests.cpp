// ME information, whole-region start/end, erase, write, read back and the
// version query.
#include "RomInfo.h"
#include "TKXPhysMem.h"
#include "TKXRunEnd.h"
#include "TKXSignal.h"
#include "TKXString.h"
#include "ZoktFormat.h"
#include "ZoktMe.h"
#include "ZoktOutcome.h"

ZOKT_TC_55_MEUD_STRUCT* g_pMEInfo = nullptr;
UINT8 g_ME_NewInterface = 0;
ENUM_ERR_ID g_ME_LastError = eEID_NO_ERROR;
static UINT8 bMESupport = 0;
static UINT8 bIgnSupport = 0;
static UINT8 g_ME_LastKind = 0;  // 0 erase, 1 write
static UINT32 g_ME_LastAddress = 0;
static UINT32 g_ME_LastSize = 0;

static ZOKT_STRUCT_V2* Answer() { return reinterpret_cast<ZOKT_STRUCT_V2*>(gpIntrBuf); }

UINT8* ZOKT_ME_BuildRequest(UINT8* request, UINT16 recordSize) {
    Zokt_Desc_Header(request, ZOKT_FS_MEUD);
    ZOKT_EXT_HDR_STRUCT header = {ZOKT_EXT_TC_MEUD, 1, recordSize};
    MemCpy(request + ZOKT_DESC_SIZE, &header, sizeof(header));
    UINT32 end = ZOKT_EXT_TBL_END;
    MemCpy(request + ZOKT_RECORD_OFFSET + recordSize, &end, 4);
    reinterpret_cast<ZOKT_STRUCT_V2*>(request)->RunningSize =
        static_cast<UINT16>(ZOKT_RECORD_OFFSET + recordSize + 4);
    return request + ZOKT_RECORD_OFFSET;
}

UINT8* ZOKT_ME_NewRequest(UINT32 requestSize, UINT16 recordSize, UINT8** record) {
    UINT8* request = AllocMem(requestSize);
    if (request == nullptr) return nullptr;
    MemSet(request, 0, requestSize);
    *record = ZOKT_ME_BuildRequest(request, recordSize);
    return request;
}

void ZOKT_ME_SendRequest(UINT8* request, UINT32 requestSize, UINT32 clear) {
    if (clear != 0) MemSet(gpIntrBuf, 0, clear);
    MemCpy(gpIntrBuf, request, requestSize);
    FreeMem(request);
    Zokt_SMI_26();
}

// Sends one request of the record form the version asks for; the extra
// fields of the long form are written only where that form is spoken.
static ENUM_ERR_ID SendMe(ENUM_ME_FLASH_ID id, UINT32 address, UINT32 size, bool withFields) {
    Zokt_GetVer();
    Zokt_ResetOutcome();
    if (gpIntrBuf == nullptr) return eEID_BIOS_BUFFER_ALLOC;
    UINT16 recordSize = Zokt_RecordSize(ZOKT_EXT_TC_MEUD);
    UINT8* record = nullptr;
    UINT8* request = ZOKT_ME_NewRequest(ZOKT_REQUEST_SIZE, recordSize, &record);
    if (request == nullptr) return eEID_MEM_ALLOC;
    record[1] = id;
    if (withFields && recordSize == sizeof(ZOKT_TC_55_MEUD_EX_STRUCT)) {
        ZOKT_TC_55_MEUD_EX_STRUCT* ex = reinterpret_cast<ZOKT_TC_55_MEUD_EX_STRUCT*>(record);
        ex->DataOffset = (id == eMFD_ERASE) ? 0 : ME_DATA_OFFSET;
        ex->FlashAddress = address;
        ex->Size = size;
    }
    ZOKT_ME_SendRequest(request, ZOKT_REQUEST_SIZE, 0);
    if (Zokt_LastOutcome() == eZOKT_DONE) return eEID_NO_ERROR;
    return id <= eMFD_IGN_END ? eEID_ME_IGN_STOP : eEID_ME_STOP;
}

ENUM_ERR_ID ZOKT_SWSMI_ME(ENUM_ME_FLASH_ID id, ZOKT_TC_55_MEUD_STRUCT** info) {
    ENUM_ERR_ID err = SendMe(id, 0, 0, false);
    if (err != eEID_NO_ERROR) return err;
    if ((id == eMFD_IGN_INIT || id == eMFD_ME_INIT) && info != nullptr) {
        if (*info == nullptr) *info = reinterpret_cast<ZOKT_TC_55_MEUD_STRUCT*>(AllocMem(sizeof(ZOKT_TC_55_MEUD_STRUCT)));
        if (*info == nullptr) return eEID_MEM_ALLOC;
        MemCpy(*info, gpIntrBuf + ZOKT_RECORD_OFFSET, sizeof(ZOKT_TC_55_MEUD_STRUCT));
    }
    return eEID_NO_ERROR;
}

static void FreeInfo() {
    FreeMem(g_pMEInfo);
    g_pMEInfo = nullptr;
}

typedef ENUM_ERR_ID (*ME_SENDER)(ENUM_ME_FLASH_ID id, ZOKT_TC_55_MEUD_STRUCT** info);

static UINT8 SupportCheck(ENUM_ME_FLASH_ID id, UINT8& own, UINT8 other, ME_SENDER send) {
    if (other == 0) {
        FreeInfo();
        own = 0;
    }
    ENUM_ERR_ID err = send(id, &g_pMEInfo);
    if (err == eEID_NO_ERROR) {
        own = 1;
        return 1;
    }
    g_ME_LastError = err;
    return 0;
}

UINT8 ZOKT_ME_CheckSupport() { return SupportCheck(eMFD_ME_INIT, bMESupport, bIgnSupport, ZOKT_SWSMI_ME); }
UINT8 ZOKT_ME_Ignition_CheckSupport() {
    return SupportCheck(eMFD_IGN_INIT, bIgnSupport, bMESupport, ZOKT_SWSMI_ME);
}
UINT8 ZOKT_ME_CheckSupport_debug() {
    return SupportCheck(eMFD_ME_INIT, bMESupport, bIgnSupport, ZOKT_SWSMI_ME_debug);
}
UINT8 ZOKT_ME_Ignition_CheckSupport_debug() {
    return SupportCheck(eMFD_IGN_INIT, bIgnSupport, bMESupport, ZOKT_SWSMI_ME_debug);
}

UINT8 ZOKT_ME_GetMEInfo(ZOKT_TC_55_MEUD_STRUCT** info) {
    if ((bMESupport == 0 && bIgnSupport == 0) || g_pMEInfo == nullptr) return 0;
    *info = g_pMEInfo;
    return 1;
}

static UINT8 Simple(ENUM_ME_FLASH_ID id) {
    ENUM_ERR_ID err = ZOKT_SWSMI_ME(id, nullptr);
    if (err != eEID_NO_ERROR) g_ME_LastError = err;
    return err == eEID_NO_ERROR ? 1 : 0;
}

// The update the firmware may hold open: from a start that was sent and
// not clearly refused (a lost answer may hide an accepted one) to the end
// request: eMFD_FULL_END, eMFD_IGN_END, or 0 when none is open.
static UINT8 s_OpenUpdateEnd = 0;

static UINT8 End(ENUM_ME_FLASH_ID id);

// The run ends with an update the firmware may hold open: it is ended.
static ENUM_ERR_ID EndAtRunEnd() {
    if (s_OpenUpdateEnd == 0) return eEID_NO_ERROR;
    return End(static_cast<ENUM_ME_FLASH_ID>(s_OpenUpdateEnd)) ? eEID_NO_ERROR : g_ME_LastError;
}

static UINT8 Start(ENUM_ME_FLASH_ID id, ENUM_ME_FLASH_ID end) {
    s_OpenUpdateEnd = static_cast<UINT8>(end);
    TKX_RunEndPush(EndAtRunEnd);
    UINT8 ok = Simple(id);
    if (!ok && !Zokt_LastUnanswered()) {
        s_OpenUpdateEnd = 0;
        TKX_RunEndPop(EndAtRunEnd);
    }
    return ok;
}

static UINT8 SendEnd(void* id) { return Simple(*static_cast<ENUM_ME_FLASH_ID*>(id)); }

// An end that goes unanswered is sent again before the run gives up.
static UINT8 End(ENUM_ME_FLASH_ID id) {
    TKX_RunEndPop(EndAtRunEnd);
    s_OpenUpdateEnd = 0;
    UINT8 ok = Zokt_SendWhileUnanswered(SendEnd, &id);
    FreeInfo();
    bMESupport = 0;
    bIgnSupport = 0;
    ZOKT_ME_ForgetFile();
    return ok;
}

UINT8 ZOKT_ME_Full_FlashStart() { return Start(eMFD_FULL_START, eMFD_FULL_END); }
UINT8 ZOKT_ME_Full_FlashEnd() { return End(eMFD_FULL_END); }
UINT8 ZOKT_ME_Ignition_FlashStart() { return Start(eMFD_IGN_START, eMFD_IGN_END); }
UINT8 ZOKT_ME_Ignition_FlashEnd() { return End(eMFD_IGN_END); }

// A capsule push handed over stays for the firmware when the run stands (it
// succeeded, or only a signal stopped it once the session was accepted); a
// failed or cancelled run frees its session and ends its update.
static ENUM_ERR_ID EndHandedOverAtRunEnd() {
    if (TKX_RunStands()) return eEID_NO_ERROR;
    if (ZOKT_MER_SessionMayBeOpen()) ZOKT_MER_Release();
    return EndAtRunEnd();
}

void ZOKT_ME_HandOver() {
    ZOKT_MER_HandOver();
    TKX_RunEndPop(EndAtRunEnd);
    TKX_RunEndPush(EndHandedOverAtRunEnd);
}

UINT8 ZOKT_ME_VersionCheck() {
    if (gpIntrBuf == nullptr) return 0;
    UINT8* record = nullptr;
    UINT8* request = ZOKT_ME_NewRequest(0x800, ME_VERSION_RECORD_SIZE, &record);
    if (request == nullptr) {
        g_ME_LastError = eEID_MEM_ALLOC;
        return 0;
    }
    record[0] = 0xFF;
    record[1] = eMFD_VERSION;
    record[5] = 5;
    record[6] = 9;
    record[7] = 3;
    ZOKT_ME_SendRequest(request, 0x800, ME_CLEAR_SIZE);
    if ((Answer()->dwRetuenStatus & ZOKT_RS_SUPPORT) == 0) {
        g_ME_LastError = eEID_ME_INFO_NO_SUPPORT;
        return 0;
    }
    if (gpIntrBuf[ZOKT_RECORD_OFFSET] != 1) return 0;
    g_ME_NewInterface = 1;
    return 1;
}

UINT8 ZOKT_ME_Erase(UINT32 address, UINT32 size, CallBackFn_T cb) {
    g_ME_LastKind = 0;
    g_ME_LastAddress = address;
    g_ME_LastSize = size;
    if (cb != nullptr) cb(address, gRomSize, size);
    ENUM_ERR_ID err = SendMe(eMFD_ERASE, address, size, true);
    if (err != eEID_NO_ERROR) g_ME_LastError = err;
    return err == eEID_NO_ERROR ? 1 : 0;
}

UINT8 ZOKT_ME_Write(UINT32 address, UINT32 size, UINT8* data, CallBackFn_T cb) {
    g_ME_LastKind = 1;
    g_ME_LastAddress = address;
    g_ME_LastSize = size;
    Zokt_GetVer();  // before the data goes to the buffer: the handshake reuses it
    if (data == nullptr || gpIntrBuf == nullptr) return 0;
    // A last piece shorter than a page goes out with its own size.
    for (UINT32 done = 0; done < size;) {
        UINT32 piece = size - done < ME_PAGE_SIZE ? size - done : ME_PAGE_SIZE;
        MemCpy(gpIntrBuf + ME_DATA_OFFSET, data + done, piece);
        if (cb != nullptr) cb(address + done, gRomSize, piece);
        ENUM_ERR_ID err = SendMe(eMFD_WRITE, address + done, piece, true);
        if (err != eEID_NO_ERROR) {
            g_ME_LastError = err;
            return 0;
        }
        done += piece;
    }
    return 1;
}

UINT32 ZOKT_MER_ME_DUMP(UINT8* out, UINT32 address, UINT32 size, CallBackFn_T cb) {
    ENUM_ERR_ID err = eEID_ME_STOP;
    if (out != nullptr && size != 0 && size <= INTERFACE_BUFFER_SIZE - ME_DATA_OFFSET) {
        err = SendMe(eMFD_READ, address, size, true);
        if (err == eEID_NO_ERROR) MemCpy(out, gpIntrBuf + ME_DATA_OFFSET, size);
    }
    if (err != eEID_NO_ERROR) g_ME_LastError = err;
    if (cb != nullptr) cb(size, address, err);
    return err == eEID_NO_ERROR ? size : 0;
}

UINT8 ZOKT_ME_Verify(UINT32 address, UINT32 size, UINT8* data, CallBackFn_T cb) {
    if (data == nullptr) return 0;
    UINT8* page = AllocMem(ME_PAGE_SIZE);
    if (page == nullptr) return 0;
    UINT8 same = 1;
    for (UINT32 done = 0; done < size && same; done += ME_PAGE_SIZE) {
        UINT32 piece = size - done < ME_PAGE_SIZE ? size - done : ME_PAGE_SIZE;
        same = ZOKT_MER_ME_DUMP(page, address + done, piece, nullptr) == piece ? 1 : 0;
        if (same && cb != nullptr) cb(address + done, gRomSize, piece);
        if (same && MemCmp(page, data + done, piece) != 1) same = 0;
    }
    FreeMem(page);
    return same;
}

void ZOKT_ME_Release() {
    FreeInfo();
    bMESupport = 0;
    bIgnSupport = 0;
    ZOKT_ME_ForgetFile();
}

ENUM_ERR_ID ZOKT_ME_GetLastError() { return g_ME_LastError; }
