// The single-request block requests (one SMI, an ENUM_ERR_ID result), the
// chunked read of a range of any length, and the repeat of the last request.
#include "FlashBlock.h"
#include "RomInfo.h"
#include "TKXPortIo.h"
#include "TKXString.h"

// No single request made yet: nothing to repeat.
static const UINT32 kNoLastAction = 0xFFFFFFFF;

// Last operation of the single-request family.
static UINT32 FlashStatus = kNoLastAction;
static UINT32 LastFlashAddr = 0;
static UINT32 LastFlashSize = 0;
static UINT8* LocalStaticData = nullptr;

struct SingleRequestKind {
    UINT32 Kind;
    UINT8 Command;
    ENUM_ERR_ID Error;
};
static const SingleRequestKind kErase = {FLASH_OP_ERASE, SMI_CMD_ERASE_FLASH, eEID_ERASE_FLASH};
static const SingleRequestKind kWrite = {FLASH_OP_WRITE, SMI_CMD_WRITE_FLASH, eEID_WRITE_FLASH};
static const SingleRequestKind kRead = {FLASH_OP_READ, SMI_CMD_READ_FLASH, eEID_READ_FLASH};
static const SingleRequestKind kVerify = {FLASH_OP_VERIFY, SMI_CMD_READ_FLASH, eEID_VERIFY_FLASH};

static ENUM_ERR_ID SendSingleRequest(const SingleRequestKind& k, UINT32 address, UINT32 size, UINT8* data) {
    bool hasData = k.Kind != FLASH_OP_ERASE;
    FlashStatus = k.Kind;
    LastFlashAddr = address;
    LastFlashSize = size;
    if (hasData) LocalStaticData = data;

    gpFuncBlock = reinterpret_cast<FunctionBlock*>(gpIntrBuf);
    FunctionBlock* block = gpFuncBlock;
    // The data travels in the interface buffer: a larger request would run
    // past it, so it is refused without an SMI.
    if (block == nullptr || (hasData && (size > FUNCTION_BLOCK_MAX_DATA || data == nullptr))) return k.Error;

    if (hasData) block->DataAddress = static_cast<UINT64>(gIntrBufPhyAddr) + FUNCTION_BLOCK_DATA_OFFSET;
    block->FlashAddress = address;
    block->Size = size;
    block->Status = 1;
    UINT8* payload = gpIntrBuf + FUNCTION_BLOCK_DATA_OFFSET;

    if (k.Kind == FLASH_OP_VERIFY) {
        ShadowFlash();
        SMI_ReadFlash();
        // A read the firmware never answered leaves the status preset and
        // the payload as it was (after a write, the written bytes).
        return block->Status == 0 && MemCmp(payload, data, size) == 1 ? eEID_NO_ERROR : k.Error;
    }

    FlashLibBeforeOperation(k.Command, address, size, hasData ? data : nullptr, nullptr);
    if (k.Kind == FLASH_OP_WRITE) MemCpy(payload, data, size);
    ShadowFlash();
    if (k.Kind == FLASH_OP_ERASE) SMI_EraseFlash();
    else if (k.Kind == FLASH_OP_WRITE) SMI_WriteFlash();
    else SMI_ReadFlash();
    FlashLibAfterOperation(k.Command, address, size, hasData ? data : nullptr, nullptr);
    ENUM_ERR_ID result = block->Status == 0 ? eEID_NO_ERROR : k.Error;
    if (k.Kind == FLASH_OP_READ) MemCpy(data, payload, size);
    return result;
}

static ENUM_ERR_ID SingleRequest(const SingleRequestKind& k, UINT32 address, UINT32 size, UINT8* data,
                                 CallBackFn_T cb) {
    ENUM_ERR_ID result = SendSingleRequest(k, address, size, data);
    if (cb != nullptr) cb(size, address, result);
    return result;
}

ENUM_ERR_ID FLASH_EraseBlockEx(UINT32 address, UINT32 size, CallBackFn_T cb) {
    return SingleRequest(kErase, address, size, nullptr, cb);
}

ENUM_ERR_ID FLASH_WriteBlockEx(UINT32 address, UINT32 size, UINT8* data, CallBackFn_T cb) {
    return SingleRequest(kWrite, address, size, data, cb);
}

ENUM_ERR_ID FLASH_ReadBlockEx(UINT32 address, UINT32 size, UINT8* data, CallBackFn_T cb) {
    return SingleRequest(kRead, address, size, data, cb);
}

ENUM_ERR_ID FLASH_VerifyBlockEx(UINT32 address, UINT32 size, UINT8* data, CallBackFn_T cb) {
    return SingleRequest(kVerify, address, size, data, cb);
}

ENUM_ERR_ID FLASH_ReadBlock(UINT32 address, UINT32 size, UINT8* data, CallBackFn_T cb) {
    UINT32 chunk = gFlashBlockSize;
    ENUM_ERR_ID result = eEID_NO_ERROR;
    if (size != 0 && (chunk == 0 || chunk > FUNCTION_BLOCK_MAX_DATA)) return eEID_READ_FLASH;
    for (UINT32 offset = 0; offset < size;) {
        UINT32 length = size - offset < chunk ? size - offset : chunk;
        result = FLASH_ReadBlockEx(address + offset, length, data + offset, nullptr);
        if (cb != nullptr) cb(size, offset, result);
        if (result != eEID_NO_ERROR) return result;
        offset += length;
    }
    if (cb != nullptr) cb(size, size, result);
    return result;
}

ENUM_ERR_ID FLASH_RetryLastAction(CallBackFn_T cb) {
    switch (FlashStatus) {
    case FLASH_OP_ERASE: return FLASH_EraseBlockEx(LastFlashAddr, LastFlashSize, cb);
    case FLASH_OP_WRITE: return FLASH_WriteBlockEx(LastFlashAddr, LastFlashSize, LocalStaticData, cb);
    case FLASH_OP_READ: return FLASH_ReadBlockEx(LastFlashAddr, LastFlashSize, LocalStaticData, cb);
    case FLASH_OP_VERIFY: return FLASH_VerifyBlockEx(LastFlashAddr, LastFlashSize, LocalStaticData, cb);
    default: return eEID_NO_ERROR;
    }
}
