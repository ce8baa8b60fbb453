// Event-log clearing: one request, the answer mapped to an error id.
#include "ZoktEventLog.h"
#include "SmiTransport.h"
#include "TKXPhysMem.h"
#include "ZoktOneRecord.h"

static ENUM_ERR_ID gCleanEventLogError = eEID_NO_ERROR;

ENUM_ERR_ID ZOKT_CleanEventLog_GetLastErrorID() { return gCleanEventLogError; }

UINT8 ZOKT_CleanEventLog() {
    gCleanEventLogError = eEID_CLEAR_EVENT_LOG_NOT_SUPPORT;
    if (Zokt_GetVer() == 0 || gpIntrBuf == nullptr) return 0;
    UINT8* request = AllocMem(ZOKT_REQUEST_SIZE);
    if (request == nullptr) {
        gCleanEventLogError = eEID_MEM_ALLOC;
        return 0;
    }
    ZOKT_CLN_ERR_LOG_STRUCT* record = reinterpret_cast<ZOKT_CLN_ERR_LOG_STRUCT*>(
        Zokt_BuildOneRecord(request, ZOKT_FS_ERR_LOG, ZOKT_EXT_TC_CLN_ERR_LOG));
    record->Function = ZOKT_TC_CEL_FUNC_REQ;
    record->Status = 0;
    MemCpy(gpIntrBuf, request, ZOKT_REQUEST_SIZE);
    FreeMem(request);
    Zokt_SMI_26();

    if ((Zokt_ReturnStatusOf(gpIntrBuf) & ZOKT_RS_SUPPORT) == 0) return 0;
    const ZOKT_CLN_ERR_LOG_STRUCT* answer =
        reinterpret_cast<const ZOKT_CLN_ERR_LOG_STRUCT*>(gpIntrBuf + ZOKT_RECORD_OFFSET);
    if (answer->Status == ZOKT_TC_CEL_OK) {
        gCleanEventLogError = eEID_NO_ERROR;
        return 1;
    }
    if (answer->Status == ZOKT_TC_CEL_ERROR) gCleanEventLogError = eEID_CLEAR_EVENT_LOG_ERROR;
    return 0;
}
