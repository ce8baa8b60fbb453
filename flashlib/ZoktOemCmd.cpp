// OEM command requests: the value family and the text family share one
// request buffer and one sender.
#include "ZoktOemCmd.h"
#include "HuxCore.h"
#include "SmiTransport.h"
#include "TKXPhysMem.h"
#include "TKXString.h"
#include "ZoktFormat.h"

static UINT8* pZOKT_Buffer = nullptr;
static UINT8 ZOKT_Buffer_IS_Alloc = 0;
static UINT32 ddCmdValue = 0;
static UINT8 CmdValueISReady = 0;
static char CMDBuffer[256];
static UINT32 CMDSize = 0;
static UINT8 CmdBuffISReady = 0;

static void FreeRequestBuffer() {
    FreeMem(pZOKT_Buffer);
    pZOKT_Buffer = nullptr;
    ZOKT_Buffer_IS_Alloc = 0;
}

ENUM_ERR_ID SWSMI_CMD(UINT16 code, UINT8 valueForm) {
    if (Zokt_GetVer() == 0) return eEID_OEM_CMD_NOT_SUPPORT;
    if (ZOKT_Buffer_IS_Alloc == 0) {
        pZOKT_Buffer = AllocMem(ZOKT_REQUEST_SIZE);
        if (pZOKT_Buffer == nullptr) return eEID_MEM_ALLOC;
        ZOKT_Buffer_IS_Alloc = 1;
    }
    UINT8* request = pZOKT_Buffer;
    MemSet(request, 0, ZOKT_REQUEST_SIZE);
    Zokt_Desc_Header(request, ZOKT_FS_OEM_CMD);
    Zokt_Ext_Header(request, ZOKT_EXT_TC_OEM_CMD, 1);
    Zokt_TC_End_Header(request, ZOKT_EXT_TC_OEM_CMD, 1);

    ZOKT_OEM_CMD_RECORD* record = reinterpret_cast<ZOKT_OEM_CMD_RECORD*>(request + ZOKT_RECORD_OFFSET);
    record->Code = code;
    record->Status = 0;
    if (valueForm != 0) {
        record->Value = ddCmdValue;
        record->Length = 0;
    } else {
        // The text goes straight to the interface buffer, beyond the request area.
        MemCpy(gpIntrBuf + ZOKT_OEM_CMD_TEXT_OFFSET, CMDBuffer, CMDSize);
        record->Value = ZOKT_OEM_CMD_TEXT_OFFSET;
        record->Length = CMDSize;
    }
    MemCpy(gpIntrBuf, request, ZOKT_REQUEST_SIZE);
    Zokt_SMI_26();

    const ZOKT_STRUCT_V2* answer = reinterpret_cast<const ZOKT_STRUCT_V2*>(gpIntrBuf);
    if ((answer->dwRetuenStatus & ZOKT_RS_SUPPORT) == 0) return eEID_OEM_CMD_NOT_SUPPORT;
    if ((answer->dwRetuenStatus & ZOKT_RS_DIS_OEMSTR) != 0) {
        char text[256];
        if (Zokt_GetAnswerText(gpIntrBuf, text) != 0) WriteOut(" - %s\n", text);
    }
    const ZOKT_OEM_CMD_RECORD* answered =
        reinterpret_cast<const ZOKT_OEM_CMD_RECORD*>(gpIntrBuf + ZOKT_RECORD_OFFSET);
    if (answered->Status == ZOKT_TC_OEM_CMD_OK) return eEID_NO_ERROR;
    if (answered->Status == ZOKT_TC_OEM_CMD_ERROR) return eEID_ZOKT_OEM_ERROR;
    return eEID_OEM_CMD_NOT_SUPPORT;
}

// Value family. It leaves the text buffer alone: "/CMD:" may still need it.
ENUM_ERR_ID ZOKT_OEMCMD_BeginFlash(UINT32 value) {
    ddCmdValue = value;
    CmdValueISReady = 1;
    return SWSMI_CMD(ZOKT_TC_OEM_CMD_BF, 1);
}

ENUM_ERR_ID ZOKT_OEMCMD_StartFlash() {
    if (CmdValueISReady == 0) return eEID_ZOKT_OEM_ERROR;
    return SWSMI_CMD(ZOKT_TC_OEM_CMD_SF, 1);
}

ENUM_ERR_ID ZOKT_OEMCMD_AfterFlash() {
    if (CmdValueISReady == 0) return eEID_ZOKT_OEM_ERROR;
    return SWSMI_CMD(ZOKT_TC_OEM_CMD_AF, 1);
}

ENUM_ERR_ID ZOKT_OEMCMD_BeginEnd() {
    if (CmdValueISReady == 0) return eEID_ZOKT_OEM_ERROR;
    ENUM_ERR_ID status = SWSMI_CMD(ZOKT_TC_OEM_CMD_BE, 1);
    if (status == eEID_NO_ERROR) {
        FreeRequestBuffer();
        ddCmdValue = 0;
        CmdValueISReady = 0;
    }
    return status;
}

// Text family.
ENUM_ERR_ID ZOKT_CMD_BeginFlash(const char* text) {
    MemSet(CMDBuffer, 0, sizeof(CMDBuffer));
    if (text == nullptr) return eEID_ZOKT_OEM_ERROR;
    // The length sent is that of the copy, which keeps at most 255 characters.
    CMDSize = TKX_BoundedCopy(CMDBuffer, text, 255);
    CmdBuffISReady = 1;
    return SWSMI_CMD(ZOKT_TC_OEM_CMD_BUF, 0);
}

ENUM_ERR_ID ZOKT_CMD_StartFlash() {
    if (CmdBuffISReady == 0) return eEID_ZOKT_OEM_ERROR;
    return SWSMI_CMD(ZOKT_TC_OEM_CMD_BUF_SF, 0);
}

ENUM_ERR_ID ZOKT_CMD_AfterFlash() {
    if (CmdBuffISReady == 0) return eEID_ZOKT_OEM_ERROR;
    return SWSMI_CMD(ZOKT_TC_OEM_CMD_BUF_AF, 0);
}

ENUM_ERR_ID ZOKT_CMD_BeginEnd() {
    if (CmdBuffISReady == 0) return eEID_ZOKT_OEM_ERROR;
    ENUM_ERR_ID status = SWSMI_CMD(ZOKT_TC_OEM_CMD_BUF_BE, 0);
    if (status == eEID_NO_ERROR) {
        FreeRequestBuffer();
        MemSet(CMDBuffer, 0, sizeof(CMDBuffer));
        CMDSize = 0;
        CmdBuffISReady = 0;
    }
    return status;
}
