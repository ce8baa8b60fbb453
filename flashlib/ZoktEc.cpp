// EC flash requests: one request builder for both forms, the page loop shared
// by write and verify, and the erase loop of the ECX form.
#include "ZoktEc.h"
#include "TKXPortIo.h"
#include "TKXPhysMem.h"
#include "TKXString.h"
#include "ZoktFormat.h"
#include "ZoktOutcome.h"

// Where the controller's flash mode stands (EC_FLASH_STATE).
static UINT8 gECSatus = eEC_STATE_OUT;
static UINT32 gEC_Page_Size = 0;      // page size (ECX: from the size answer)
static UINT32 gECXSize = 0;           // EC ROM size in KB from the ECX size answer
static UINT32 gCurProcess = 0;        // bytes done in the current loop
static UINT32 gECX_FlashStatus = 0;   // 0 erase, 1 write, 3 verify


UINT32 CalcChkSum(const UINT8* data, UINT32 length) {
    if (data == nullptr || length == 0) return 0;
    UINT32 sum = 0;
    for (UINT32 i = 0; i + 4 <= length; i += 4) {
        UINT32 word;
        MemCpy(&word, data + i, 4);
        sum += word;
    }
    return ~sum;
}

static ENUM_ERR_ID EcStatusToError(UINT16 status) {
    switch (status) {
    case ZOKT_RS_EC_OK: return eEID_NO_ERROR;
    case ZOKT_RS_EC_CHKSUM: return eEID_EC_FILE_CHKSUM_ERROR;
    case ZOKT_RS_EC_ENTRY: return eEID_EC_ENTRY_ERROR;
    case ZOKT_RS_EC_ERASE: return eEID_EC_ERASE_ERROR;
    case ZOKT_RS_EC_INIT: return eEID_EC_INIT_ERROR;
    case ZOKT_RS_EC_START: return eEID_EC_START_ERROR;
    case ZOKT_RS_EC_WRITE: return eEID_EC_WRITE_ERROR;
    case ZOKT_RS_EC_EXIT: return eEID_EC_EXIT_ERROR;
    case ZOKT_RS_EC_CHIPID: return eEID_EC_CHIPID_ERROR;
    default: return eEID_EC_STOP;
    }
}

ENUM_ERR_ID ZOKT_SWSMI_EC(UINT8 subFunction, UINT32 length, UINT16 chipId, UINT8* data, UINT8 ecxForm) {
    Zokt_GetVer();  // asks for the version while it is unknown; the request goes out either way
    Zokt_ResetOutcome();
    if (gpIntrBuf == nullptr) return eEID_BIOS_BUFFER_ALLOC;
    if (data != nullptr && length > INTERFACE_BUFFER_SIZE - ZOKT_EC_DATA_OFFSET) return eEID_EC_FILE_ERROR;
    UINT8* request = AllocMem(ZOKT_REQUEST_SIZE + 4);
    if (request == nullptr) return eEID_MEM_ALLOC;
    MemSet(request, 0, ZOKT_REQUEST_SIZE);
    Zokt_Desc_Header(request, ZOKT_FS_EC);
    Zokt_Ext_Header(request, ZOKT_EXT_TC_EC, 1);
    Zokt_TC_End_Header(request, ZOKT_EXT_TC_EC, 1);

    ZOKT_TC_54_EC_STRUCT* record = reinterpret_cast<ZOKT_TC_54_EC_STRUCT*>(request + ZOKT_RECORD_OFFSET);
    record->SubFunction = subFunction;
    record->Status = 0;
    record->CheckSum = CalcChkSum(data, length);
    record->Length = (ecxForm != 0 && subFunction == ZOKT_TC_EC_ECX_SIZE) ? 0 : length;
    if (data != nullptr && length != 0) {
        UINT64 address = static_cast<UINT64>(gIntrBufPhyAddr) + ZOKT_EC_DATA_OFFSET;
        MemCpy(request + ZOKT_EC_DATA_ADDRESS_OFFSET, &address, 8);
        MemCpy(gpIntrBuf + ZOKT_EC_DATA_OFFSET, data, length);
    }
    if (subFunction == ZOKT_TC_EC_START) {
        UINT32 id = chipId;
        MemCpy(request + ZOKT_EC_CHIPID_OFFSET, &id, 4);
    }
    MemCpy(gpIntrBuf, request, ZOKT_REQUEST_SIZE);
    FreeMem(request);
    bool piece = subFunction == ZOKT_TC_EC_FLASH || subFunction == ZOKT_TC_EC_ECX_ERASE ||
                 subFunction == ZOKT_TC_EC_ECX_VERIFY;
    if (piece && (gECSatus == eEC_STATE_IN || gECSatus == eEC_STATE_START_SENT)) gECSatus = eEC_STATE_PAGES_SENT;
    Zokt_SMI_26();

    const ZOKT_STRUCT_V2* answer = reinterpret_cast<const ZOKT_STRUCT_V2*>(gpIntrBuf);
    if (Zokt_LastUnanswered()) return eEID_EC_STOP;
    if ((answer->dwRetuenStatus & ZOKT_RS_DIS_OEMSTR) != 0) {
        char text[256];
        if (Zokt_GetAnswerText(gpIntrBuf, text) != 0) WriteOut(" - %s \n", text);
    }
    ZOKT_TC_54_EC_STRUCT answered;
    MemCpy(&answered, gpIntrBuf + ZOKT_RECORD_OFFSET, sizeof(answered));
    if (ecxForm != 0) {
        if (subFunction == ZOKT_TC_EC_ECX_SIZE) {
            gECXSize = answered.Length;
            if (gECXSize != length) return eEID_EC_FILE_ERROR;
            gEC_Page_Size = answered.CheckSum;
        }
        if ((subFunction == ZOKT_TC_EC_ECX_ERASE || subFunction == ZOKT_TC_EC_ECX_VERIFY) && answered.Status <= 1)
            return eEID_NO_ERROR;
    }
    return EcStatusToError(answered.Status);
}

// A START without answer, or with one of no known kind, may have put the
// controller in flash mode.
static ENUM_ERR_ID EnterFlashMode(UINT16 chipId, UINT8 ecxForm) {
    ENUM_ERR_ID err = ZOKT_SWSMI_EC(ZOKT_TC_EC_START, 0, chipId, nullptr, ecxForm);
    if (err == eEID_NO_ERROR) gECSatus = eEC_STATE_IN;
    else if (Zokt_LastOutcome() != eZOKT_NOT_SENT && (Zokt_LastUnanswered() || err == eEID_EC_STOP))
        gECSatus = eEC_STATE_START_SENT;
    else gECSatus = eEC_STATE_OUT;
    return err;
}

struct EC_END_SEND {
    UINT16 ChipId;
    UINT8 EcxForm;
    ENUM_ERR_ID Result;
};

static UINT8 SendEnd(void* context) {
    EC_END_SEND* end = static_cast<EC_END_SEND*>(context);
    end->Result = ZOKT_SWSMI_EC(ZOKT_TC_EC_END, 0, end->ChipId, nullptr, end->EcxForm);
    return end->Result == eEID_NO_ERROR ? 1 : 0;
}

// END, sent again while it goes unanswered. An END never answered, or
// answered with a status of no known kind, leaves the exit unconfirmed (the
// exit error). A refusal after an END whose answer was lost says that the
// controller is out of flash mode: the lost END was carried out. A refusal
// of the first END leaves the state as it was, the refusal's error returned;
// only a controller that never confirmed START is taken as out by it.
static ENUM_ERR_ID LeaveFlashMode(UINT16 chipId, UINT8 ecxForm) {
    if (gECSatus == eEC_STATE_OUT) return eEID_NO_ERROR;
    EC_END_SEND end = {chipId, ecxForm, eEID_NO_ERROR};
    UINT32 sends = 0;
    Zokt_SendWhileUnanswered(SendEnd, &end, &sends);
    if (Zokt_LastUnanswered() || end.Result == eEID_EC_STOP) {
        gECSatus = eEC_STATE_END_UNCONFIRMED;
        return eEID_EC_EXIT_ERROR;
    }
    if (end.Result == eEID_NO_ERROR || sends > 1) {
        gECSatus = eEC_STATE_OUT;
        return eEID_NO_ERROR;
    }
    if (gECSatus == eEC_STATE_START_SENT) gECSatus = eEC_STATE_OUT;
    return end.Result;
}

UINT8 EC_GetFlashModeStatus() {
    return gECSatus == eEC_STATE_IN || gECSatus == eEC_STATE_PAGES_SENT || gECSatus == eEC_STATE_END_UNCONFIRMED;
}

EC_FLASH_STATE EC_GetFlashState() { return static_cast<EC_FLASH_STATE>(gECSatus); }

EC_MODE_AFTER_FAILURE EC_LeaveAfterFailure(UINT16 chipId, UINT8 ecxForm) {
    switch (gECSatus) {
    case eEC_STATE_OUT: return eEC_MODE_LEFT;
    case eEC_STATE_PAGES_SENT: return eEC_MODE_KEPT;
    case eEC_STATE_END_UNCONFIRMED: return eEC_MODE_UNCONFIRMED;
    default:
        // No page or erase went out yet: the controller is taken out of flash mode.
        LeaveFlashMode(chipId, ecxForm);
        return gECSatus == eEC_STATE_OUT ? eEC_MODE_LEFT : eEC_MODE_UNCONFIRMED;
    }
}

ENUM_ERR_ID EC_EnterFlashMode(UINT16 chipId) { return EnterFlashMode(chipId, 0); }
ENUM_ERR_ID EC_LeaveFlashMode(UINT16 chipId) { return LeaveFlashMode(chipId, 0); }
ENUM_ERR_ID ECX_EnterFlashMode() { return EnterFlashMode(0, 1); }
ENUM_ERR_ID ECX_LeaveFlashMode() { return LeaveFlashMode(0, 1); }

ENUM_ERR_ID EC_Base_ReTryBlk(UINT16 chipId, UINT8*, UINT8 ecxForm) {
    return ZOKT_SWSMI_EC(ZOKT_TC_EC_ECX_RETRY, 0, chipId, nullptr, ecxForm);
}
ENUM_ERR_ID EC_ReTryBlk(UINT16 chipId, UINT8* data) { return EC_Base_ReTryBlk(chipId, data, 0); }

// Sends size bytes in pieces. EC requests carry no address: the firmware
// keeps the position. A piece it did not confirm (refused, or taken with
// its answer lost) is followed by the retry notice, which puts the position
// back to the start, and the loop starts again from the first piece; the
// failure after ZOKT_EC_MAX_FAILURES of them in this call ends it with the
// last error. data may be null (erase): then the pieces carry only their
// length.
static ENUM_ERR_ID PieceLoop(UINT8 subFunction, UINT16 chipId, UINT32 size, UINT8* data, UINT32 piece,
                             CallBackFn_T cb, UINT8 ecxForm) {
    gCurProcess = 0;
    UINT8* bounce = nullptr;
    if (data != nullptr) {
        bounce = AllocMem(ZOKT_EC_BOUNCE_SIZE);
        if (bounce == nullptr) return eEID_MEM_ALLOC;
    }
    ENUM_ERR_ID last = eEID_NO_ERROR;
    UINT32 failures = 0;
    bool rewind = false;
    while (gCurProcess < size || rewind) {
        if (rewind) {
            last = EC_Base_ReTryBlk(chipId, nullptr, ecxForm);
            if (last == eEID_NO_ERROR) {
                rewind = false;
                gCurProcess = 0;
                // The progress line starts again with the first piece.
                if (cb != nullptr) cb(FLASH_PROGRESS_CLOSE, 0, FLASH_PROGRESS_CLOSE);
            } else if (++failures > ZOKT_EC_MAX_FAILURES) {
                break;
            }
            continue;
        }
        UINT32 length = size - gCurProcess < piece ? size - gCurProcess : piece;
        if (bounce != nullptr) MemCpy(bounce, data + gCurProcess, length);
        ENUM_ERR_ID err = ZOKT_SWSMI_EC(subFunction, length, chipId, bounce, ecxForm);
        if (err == eEID_NO_ERROR) {
            gCurProcess += length;
            last = eEID_NO_ERROR;
        } else {
            last = err;
            ++failures;
            rewind = true;
        }
        if (cb != nullptr) cb(gCurProcess, size, length);
        if (failures > ZOKT_EC_MAX_FAILURES) break;
    }
    FreeMem(bounce);
    return last;
}

ENUM_ERR_ID EC_Base_WriteBlk(UINT16 chipId, UINT32 size, UINT8* data, CallBackFn_T cb, UINT8 ecxForm) {
    if (data == nullptr) return eEID_EC_FILE_ERROR;
    gEC_Page_Size = ZOKT_EC_PAGE_SIZE;
    gECX_FlashStatus = 1;
    return PieceLoop(ZOKT_TC_EC_FLASH, chipId, size, data, ZOKT_EC_PAGE_SIZE, cb, ecxForm);
}

ENUM_ERR_ID EC_WriteBlk(UINT16 chipId, UINT32 size, UINT8* data, CallBackFn_T cb) {
    return EC_Base_WriteBlk(chipId, size, data, cb, 0);
}
ENUM_ERR_ID ECX_WriteBlk(UINT32 size, UINT8* data, CallBackFn_T cb) { return EC_Base_WriteBlk(0, size, data, cb, 1); }

ENUM_ERR_ID ECX_VerifyBlk(UINT32 size, UINT8* data, CallBackFn_T cb) {
    if (data == nullptr) return eEID_EC_FILE_ERROR;
    gEC_Page_Size = ZOKT_EC_PAGE_SIZE;
    gECX_FlashStatus = 3;
    return PieceLoop(ZOKT_TC_EC_ECX_VERIFY, 0, size, data, ZOKT_EC_PAGE_SIZE, cb, 1);
}

ENUM_ERR_ID ECX_GetSize(UINT32* size, CallBackFn_T cb) {
    UINT32 kb = *size / 1024;
    gEC_Page_Size = kb;
    ENUM_ERR_ID err = ZOKT_SWSMI_EC(ZOKT_TC_EC_ECX_SIZE, kb, 0, nullptr, 1);
    *size = gECXSize * 1024;
    if (cb != nullptr) cb(0, 0, kb);
    return err;
}

ENUM_ERR_ID ECX_EraseBlk(UINT32 size, CallBackFn_T cb) {
    UINT32 piece = (gEC_Page_Size != 0 && gEC_Page_Size % 0x1000 == 0) ? gEC_Page_Size : 0x10000;
    gECX_FlashStatus = 0;
    return PieceLoop(ZOKT_TC_EC_ECX_ERASE, 0, size, nullptr, piece, cb, 1);
}
