// The EC battery check (ZOKT type 0x5B) of the pre-flash check: the firmware
// may refuse the update, for example while the battery is low.
#include "ZoktEc.h"
#include "TKXPhysMem.h"
#include "TKXString.h"
#include "ZoktFormat.h"
#include "ZoktOutcome.h"

static ENUM_ERR_ID ECB_LastError = eEID_NO_ERROR;
static UINT8 ECB_LastStatus = 0;

static UINT8 SendCheck(void* request) {
    MemCpy(gpIntrBuf, request, ZOKT_REQUEST_SIZE);
    Zokt_SMI_26();
    return 0;
}

UINT8 ZOKT_ECB_Check() {
    ECB_LastStatus = 0;
    if (Zokt_GetVer() == 0) {
        ECB_LastError = eEID_EC_BATTERY_CHECK_NOT_SUPPORT;
        return 1;
    }
    if (gpIntrBuf == nullptr) {
        ECB_LastError = eEID_BIOS_BUFFER_ALLOC;
        return 0;
    }
    UINT8* request = AllocMem(ZOKT_REQUEST_SIZE + 4);
    if (request == nullptr) {
        ECB_LastError = eEID_MEM_ALLOC;
        return 0;
    }
    MemSet(request, 0, ZOKT_REQUEST_SIZE);
    Zokt_Desc_Header(request, ZOKT_FS_AC_BAT);
    Zokt_Ext_Header(request, ZOKT_EXT_TC_AC_BAT, 1);
    Zokt_TC_End_Header(request, ZOKT_EXT_TC_AC_BAT, 1);
    ZOKT_TC_5B_AC_BAT_STRUCT* record = reinterpret_cast<ZOKT_TC_5B_AC_BAT_STRUCT*>(request + ZOKT_RECORD_OFFSET);
    record->Function = ZOKT_TC_AC_BAT_INFO_REQ;
    record->Status = 0;
    // A check whose answer was lost is no "go on": it goes out again while
    // unanswered.
    Zokt_SendWhileUnanswered(SendCheck, request);
    FreeMem(request);

    ECB_LastError = eEID_NO_ERROR;
    const ZOKT_STRUCT_V2* answer = reinterpret_cast<const ZOKT_STRUCT_V2*>(gpIntrBuf);
    if ((answer->dwRetuenStatus & ZOKT_RS_SUPPORT) == 0) return 1;
    ECB_LastStatus = gpIntrBuf[ZOKT_RECORD_OFFSET + 1];
    if (ECB_LastStatus != ZOKT_RS_AC_BAT_ERR) return 1;
    if ((answer->dwRetuenStatus & ZOKT_RS_DIS_OEMSTR) != 0) {
        char text[256];
        if (Zokt_GetAnswerText(gpIntrBuf, text) != 0) WriteOut(" - %s \n", text);
    }
    ECB_LastError = eEID_ZOKT_OEM_ERROR;
    return 0;
}

ENUM_ERR_ID ZOKT_ECB_Check_GetLastErrorID() { return ECB_LastError; }
