// OEM activation data check.
#include "ZoktOaKey.h"
#include "HuxCore.h"
#include "SmiTransport.h"
#include "TKXPhysMem.h"
#include "TKXPortIo.h"
#include "ZoktOneRecord.h"
#include "ZoktOutcome.h"

static ENUM_ERR_ID gOAKeyError = eEID_NO_ERROR;
static UINT8 gOAKeyNoErrorPrint = 0;
static UINT8 gOAKeyUseOEMErrorID = 0;
static UINT8 gOAKeyOEMErrorID = 0;

ENUM_ERR_ID ZOKT_OAKeyCheck_GetLastErrorID() { return gOAKeyError; }
UINT8 ZOKT_OAKeyOEM_NoErrorPrint() { return gOAKeyNoErrorPrint; }
UINT8 ZOKT_OAKeyOEM_UseOEMErrorID() { return gOAKeyUseOEMErrorID; }
UINT8 ZOKT_OAKeyOEM_ErrorID() { return gOAKeyOEMErrorID; }

static UINT8 Fail(ENUM_ERR_ID code) {
    gOAKeyError = code;
    return 0;
}

static UINT8 CheckOnce(UINT8* data, UINT32 flashAddress, UINT32 size) {
    Zokt_ResetOutcome();
    gOAKeyError = eEID_NO_ERROR;
    gOAKeyNoErrorPrint = 0;
    gOAKeyUseOEMErrorID = 0;
    gOAKeyOEMErrorID = 0;
    if (gpIntrBuf == nullptr) return Fail(eEID_ZOKT_OA_UPDATE_NOT_SUPPORT);
    // The data travels in the interface buffer behind the request.
    if ((data == nullptr && size != 0) || size > INTERFACE_BUFFER_SIZE - ZOKT_OA_DATA_OFFSET) {
        return Fail(eEID_NOA_DATA_INVALID);
    }
    UINT8* request = AllocMem(ZOKT_REQUEST_SIZE);
    if (request == nullptr) return Fail(eEID_MEM_ALLOC);
    ZOKT_OA_HANDLE_STRUCT* record = reinterpret_cast<ZOKT_OA_HANDLE_STRUCT*>(
        Zokt_BuildOneRecord(request, ZOKT_FS_OA, ZOKT_EXT_TC_OA_HANDLE));
    record->Request = ZOKT_TC_OA_UPDATE_NOTIFY;
    record->FlashAddress = flashAddress;
    record->DataAddress = static_cast<UINT64>(gIntrBufPhyAddr) + ZOKT_OA_DATA_OFFSET;
    record->DataSize = size;
    if (size != 0) MemCpy(gpIntrBuf + ZOKT_OA_DATA_OFFSET, data, size);
    MemCpy(gpIntrBuf, request, ZOKT_REQUEST_SIZE);
    FreeMem(request);
    Zokt_SMI_26();

    const ZOKT_OA_HANDLE_STRUCT* answer =
        reinterpret_cast<const ZOKT_OA_HANDLE_STRUCT*>(gpIntrBuf + ZOKT_RECORD_OFFSET);
    UINT16 status = answer->Status;
    // Status 0, as an unanswered request keeps it: a firmware without the check.
    if (status == 0) return Fail(eEID_ZOKT_OA_UPDATE_NOT_SUPPORT);
    if ((Zokt_ReturnStatusOf(gpIntrBuf) & ZOKT_RS_DIS_OEMSTR) != 0) {
        char text[256];
        if (Zokt_GetAnswerText(gpIntrBuf, text) != 0) {
            gOAKeyNoErrorPrint = 1;
            WriteOut(" %s \n", text);
        }
    }
    if ((status & ZOKT_RS_OA_USE_OEM_ERROR_ID) != 0) {
        gOAKeyUseOEMErrorID = 1;
        gOAKeyOEMErrorID = answer->OemErrorId;
    }
    if ((status & ZOKT_RS_OA_DATA_IS_INVALID) != 0) return Fail(eEID_NOA_DATA_INVALID);
    if ((status & ZOKT_RS_OA_DATA_IS_MODIFIED) != 0) {
        // The firmware changed the data: the update goes on with its version.
        if (size != 0) MemCpy(data, gpIntrBuf + ZOKT_OA_DATA_OFFSET, size);
        gOAKeyNoErrorPrint = 0;
        return 1;
    }
    if ((status & ZOKT_RS_OA_UPDATE_SKIPPED) != 0) return Fail(eEID_BIOS_ALREADY_UPDATE_NOA);
    if ((status & ZOKT_RS_OA_UPDATE_DECLINED) != 0) return Fail(eEID_BIOS_NOT_ALLOW_UPDATE_NOA);
    return 1;
}

struct OA_CHECK_SEND {
    UINT8* Data;
    UINT32 FlashAddress;
    UINT32 Size;
};

static UINT8 SendCheck(void* context) {
    OA_CHECK_SEND* c = static_cast<OA_CHECK_SEND*>(context);
    return CheckOnce(c->Data, c->FlashAddress, c->Size);
}

// A check without answer is no verdict: it goes out again. A firmware that
// speaks no ZOKT answers no request: its check goes out once.
UINT8 ZOKT_OAKeyCheck(UINT8* data, UINT32 flashAddress, UINT32 size) {
    OA_CHECK_SEND check = {data, flashAddress, size};
    if (Zokt_GetVer() == 0) return SendCheck(&check);
    return Zokt_SendWhileUnanswered(SendCheck, &check);
}
