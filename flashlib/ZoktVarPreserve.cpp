// Setup and DMI preservation requests.
#include "ZoktVarPreserve.h"
#include "SmiTransport.h"
#include "TKXPhysMem.h"
#include "ZoktOneRecord.h"
#include "ZoktOutcome.h"

static ENUM_ERR_ID gVarPreserveError = eEID_NO_ERROR;
// The record status of the last answered request; 0 when none was answered.
static UINT8 gVarPreserveAnswer = 0;

ENUM_ERR_ID ZOKT_SWSMI_SETUP(UINT8 function) {
    gVarPreserveAnswer = 0;
    UINT16 version = Zokt_GetVer();
    Zokt_ResetOutcome();
    if (version == 0 || gpIntrBuf == nullptr) return eEID_SETUP_NOT_SUPPORT;
    UINT8* request = AllocMem(ZOKT_REQUEST_SIZE);
    if (request == nullptr) return eEID_MEM_ALLOC;
    ZOKT_SETUP_STRUCT* record =
        reinterpret_cast<ZOKT_SETUP_STRUCT*>(Zokt_BuildOneRecord(request, ZOKT_FS_SETUP, ZOKT_EXT_TC_SETUP));
    record->Function = function;
    record->Status = 0;
    MemCpy(gpIntrBuf, request, ZOKT_REQUEST_SIZE);
    FreeMem(request);
    Zokt_SMI_26();

    if (Zokt_LastUnanswered()) return eEID_SETUP_NOT_SUPPORT;
    gVarPreserveAnswer = gpIntrBuf[ZOKT_RECORD_OFFSET + offsetof(ZOKT_SETUP_STRUCT, Status)];
    switch (gVarPreserveAnswer) {
        case 0x01: return eEID_NO_ERROR;
        case 0x04: return eEID_SETUP_STORE_ERROR;
        case 0x08: return eEID_SETUP_RESTORE_ERROR;
        case 0x10: return eEID_DMI_STORE_ERROR;
        case 0x20: return eEID_DMI_RESTORE_ERROR;
        default: return eEID_SETUP_NOT_SUPPORT;  // 2 and anything unknown
    }
}

static UINT8 SendOnce(void* function) {
    gVarPreserveError = ZOKT_SWSMI_SETUP(*static_cast<UINT8*>(function));
    return gVarPreserveError == eEID_NO_ERROR ? 1 : 0;
}

// The support query and the restores may go out twice: they are sent again
// while they go unanswered. A store goes out once: one whose answer was lost
// may be held, and its restore takes it back. A restore that fails, refused
// or not answered, reports the restore's error.
static UINT8 Preserve(UINT8 function) {
    if (function == ZOKT_TC_SETUP_STORE || function == ZOKT_TC_DMI_STORE) SendOnce(&function);
    else Zokt_SendWhileUnanswered(SendOnce, &function);
    if (gVarPreserveError != eEID_NO_ERROR && gVarPreserveError != eEID_MEM_ALLOC) {
        if (function == ZOKT_TC_SETUP_RESTORE) gVarPreserveError = eEID_SETUP_RESTORE_ERROR;
        if (function == ZOKT_TC_DMI_RESTORE) gVarPreserveError = eEID_DMI_RESTORE_ERROR;
    }
    return gVarPreserveError == eEID_NO_ERROR ? 1 : 0;
}

UINT8 ZOKT_VarPreserve_Support() { return Preserve(ZOKT_TC_SETUP_SUPPORT); }
UINT8 ZOKT_VarPreserve_SetupVarStore() { return Preserve(ZOKT_TC_SETUP_STORE); }
UINT8 ZOKT_VarPreserve_SetupVarReStore() { return Preserve(ZOKT_TC_SETUP_RESTORE); }
UINT8 ZOKT_VarPreserve_DMIVarStore() { return Preserve(ZOKT_TC_DMI_STORE); }
UINT8 ZOKT_VarPreserve_DMIVarReStore() { return Preserve(ZOKT_TC_DMI_RESTORE); }
ENUM_ERR_ID ZOKT_VarPreserve_GetLastErrorID() { return gVarPreserveError; }
UINT8 ZOKT_VarPreserve_Unsupported() { return gVarPreserveAnswer == ZOKT_RS_SETUP_UNSUPPORTED ? 1 : 0; }
