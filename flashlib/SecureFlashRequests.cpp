// The four secure-flash requests. Each zeroes and reuses the whole interface
// buffer and goes out through the shadowing SMI path without flash hooks;
// the payload's status byte, not the return status, tells the family's
// result; the transport's outcome (ZoktOutcome.h) tells an answer from none.
#include "HuxCore.h"
#include "SecureFlash.h"
#include "SmiTransport.h"
#include "TKXPortIo.h"
#include "TKXString.h"
#include "ZoktFormat.h"
#include "ZoktOneRecord.h"
#include "ZoktOutcome.h"

static UINT32 SFM_Befor_DelayTime = 0;
static UINT32 SFM_After_DelayTime = 0;

void ZOKT_SetMethod_BeforeDelayTime(UINT32 units) { SFM_Befor_DelayTime = units; }
void ZOKT_SetMethod_AfterDelayTime(UINT32 units) { SFM_After_DelayTime = units; }

UINT8* ZOKTHeaderGen(UINT8 subFunction) {
    Zokt_ResetOutcome();
    UINT8* request = gpIntrBuf;
    if (request == nullptr) return nullptr;
    MemSet(request, 0, INTERFACE_BUFFER_SIZE);
    Zokt_Desc_Header(request, ZOKT_FS_SECURE_FLASH);
    Zokt_Ext_Header(request, ZOKT_EXT_TC_SECURE_FLASH, 1);
    Zokt_TC_End_Header(request, ZOKT_EXT_TC_SECURE_FLASH, 1);
    request[ZOKT_RECORD_OFFSET] = subFunction;
    request[ZOKT_RECORD_OFFSET + 1] = 0;
    return request;
}

void SWSMI_SECFLASH() {
    Zokt_OutcomeAsked(gpIntrBuf);
    ShadowFlash();
    OutPortByte(gSmiPort, SMI_CMD_ZOKT);
    Zokt_OutcomeAnswered(gpIntrBuf);
}

void ZOKT_Message() {
    const ZOKT_STRUCT_V2* answer = reinterpret_cast<const ZOKT_STRUCT_V2*>(gpIntrBuf);
    if ((answer->dwRetuenStatus & ZOKT_RS_DIS_OEMSTR) == 0) return;
    char text[256];
    if (Zokt_GetAnswerText(gpIntrBuf, text) != 0) WriteOut(" - %s \n", text);
}

UINT8 ZOKT_GetSupportedPolicy(FLASH_POLICY_INFO_BLOCK* policy) {
    UINT8* request = ZOKTHeaderGen(ZOKT_TC_SFU_GET_FLASH_UPDATE_POLICY);
    if (request == nullptr) return 0;
    FLASH_POLICY_INFO_BLOCK* answer = reinterpret_cast<FLASH_POLICY_INFO_BLOCK*>(request + ZOKT_SF_PAYLOAD_OFFSET);
    answer->Status = 1;
    SWSMI_SECFLASH();
    ZOKT_Message();
    if (answer->Status != 0) return 0;
    MemCpy(policy, answer, sizeof(FLASH_POLICY_INFO_BLOCK));
    return 1;
}

UINT8 ZOKT_SetFlashMethod(FUNC_FLASH_SESSION_BLOCK* session) {
    UINT8* request = ZOKTHeaderGen(ZOKT_TC_SFU_SET_FLASH_UPDATE_METHOD);
    if (request == nullptr) return 0xFF;
    FUNC_FLASH_SESSION_BLOCK* block = reinterpret_cast<FUNC_FLASH_SESSION_BLOCK*>(request + ZOKT_SF_PAYLOAD_OFFSET);
    MemCpy(block, session, sizeof(FUNC_FLASH_SESSION_BLOCK));
    block->Status = 1;
    if (SFM_Befor_DelayTime != 0) {
        WriteOut("[EGM_SFMDT] Secure Flash SetMethod SMI Before Delay Time:%d...\n", SFM_Befor_DelayTime);
        Delay(SFM_Befor_DelayTime * 10);
    }
    SWSMI_SECFLASH();
    if (SFM_After_DelayTime != 0) {
        Delay(SFM_After_DelayTime * 10);
        WriteOut("[EGM_SFMDT] Secure Flash SetMethod SMI After Delay Time:%d...\n", SFM_After_DelayTime);
    }
    ZOKT_Message();
    MemCpy(session, block, sizeof(FUNC_FLASH_SESSION_BLOCK));
    return session->Status;
}

UINT8 ZOKT_LoadFwImageEx(UINT8* piece, UINT32 offset, UINT32 size, CallBackFn_T cb) {
    if (size > INTERFACE_BUFFER_SIZE - ZOKT_SF_PIECE_DATA_OFFSET) return 0;
    UINT8* request = ZOKTHeaderGen(ZOKT_TC_SFU_LOAD_FIRMWARE_IMAGE);
    if (request == nullptr) return 0;
    ZOKT_SF_PIECE_BLOCK* block = reinterpret_cast<ZOKT_SF_PIECE_BLOCK*>(request + ZOKT_SF_PAYLOAD_OFFSET);
    block->DataAddress = static_cast<UINT64>(gIntrBufPhyAddr) + ZOKT_SF_PIECE_DATA_OFFSET;
    block->Offset = offset;
    block->Size = size;
    block->Status = 1;
    MemCpy(request + ZOKT_SF_PIECE_DATA_OFFSET, piece, size);
    SWSMI_SECFLASH();
    ZOKT_Message();
    if (block->Status != 0) return 0;
    if (cb != nullptr) cb(size, offset + size, 1);
    return 1;
}
