// Opening and closing the flash interface, and the retrying block requests:
// each SMI is repeated while the firmware leaves the status byte untouched.
#include "FlashBlock.h"
#include "HuxCoreHooks.h"
#include "RomInfo.h"
#include "TKXPortIo.h"
#include "TKXSignal.h"
#include "TKXString.h"

static const UINT8 kStatusUntouched = 0xFF;
static const UINT8 kStatusFailed = 1;

// Last operation of the retrying family (CallOemSmi records here too).
static UINT32 FlashStatus = 0;
static UINT32 LastFlashAddr = 0;
static UINT32 LastFlashSize = 0;
static UINT8 SmiFlashEnabled = 0;

static void RecordFlashStatus(UINT32 kind, UINT32 address, UINT32 size) {
    FlashStatus = kind;
    LastFlashAddr = address;
    LastFlashSize = size;
}

static FunctionBlock* PrepareFunctionBlock() {
    gpFuncBlock = reinterpret_cast<FunctionBlock*>(gpIntrBuf);
    return gpFuncBlock;
}

UINT8 SmiFlashIsEnabled() { return SmiFlashEnabled; }

ENUM_ERR_ID EnableFlashIfc() {
    CleanFlashIfcHook = CleanFlashIfc;
    FunctionBlock* block = PrepareFunctionBlock();
    if (block == nullptr) return eEID_FLASH_INTERFACE_OPEN;
    block->Status = 0;
    // From here to the close an operator's signal waits: a flash is written
    // whole and its interface closed before the run can stop.
    TKX_HoldSignals();
    FlashLibBeforeOperation(SMI_CMD_ENABLE_FLASH, 0, 0, nullptr, nullptr);
    SMI_EnableFlash();
    ENUM_ERR_ID result = FlashLibAfterOperation(SMI_CMD_ENABLE_FLASH, 0, 0, nullptr, nullptr);
    ENUM_ERR_ID refused = eEID_NO_ERROR;
    switch (block->Status) {
    case 1: refused = eEID_FLASH_INTERFACE_OPEN; break;
    case 2: refused = eEID_POWER_NOT_CONNECTED; break;
    case 3: refused = eEID_FLASH_NOT_ALLOWED; break;
    default: break;
    }
    if (refused != eEID_NO_ERROR) {
        TKX_ReleaseSignals();
        return refused;
    }
    SmiFlashEnabled = 1;
    return result;
}

void CleanFlashIfc() {
    if (SmiFlashEnabled != 0 && gpIntrBuf != nullptr) {
        FlashLibBeforeOperation(SMI_CMD_DISABLE_FLASH, 0, 0, nullptr, nullptr);
        ShadowFlash();
        SMI_DisableFlash();
        FlashLibAfterOperation(SMI_CMD_DISABLE_FLASH, 0, 0, nullptr, nullptr);
    }
    SmiFlashEnabled = 0;
    TKX_ReleaseSignals();
}

UINT8 CallOemSmi(UINT8 command) {
    RecordFlashStatus(FLASH_OP_OEM_SMI, 0, 0);
    FlashLibBeforeOperation(command, 0, 0, nullptr, nullptr);
    UINT8 result = SMI_OemSmi(command);
    FlashLibAfterOperation(command, 0, 0, nullptr, nullptr);
    return result;
}

UINT8 EraseBlk(UINT32 address, UINT32 size, CallBackFn_T cb) {
    for (UINT32 tries = FLASH_BLOCK_TRIES; tries > 0; --tries) {
        FunctionBlock* block = PrepareFunctionBlock();
        if (block == nullptr) return 0;
        block->Status = kStatusUntouched;
        block->FlashAddress = address;
        block->Size = size;
        RecordFlashStatus(FLASH_OP_ERASE, address, size);
        if (cb != nullptr) cb(address, gRomSize, size);
        FlashLibBeforeOperation(SMI_CMD_ERASE_FLASH, address, size, nullptr, cb);
        ShadowFlash();
        SMI_EraseFlash();
        FlashLibAfterOperation(SMI_CMD_ERASE_FLASH, address, size, nullptr, cb);
        if (block->Status == kStatusUntouched) continue;
        return block->Status == kStatusFailed ? 0 : 1;
    }
    return 0;
}

// The chunk size of the chunked requests: the block size, which must fit
// the interface buffer (0 when it is not known or does not fit).
static UINT32 ChunkSize() {
    return gFlashBlockSize != 0 && gFlashBlockSize <= FUNCTION_BLOCK_MAX_DATA ? gFlashBlockSize : 0;
}

enum ChunkedKind { kChunkWrite, kChunkRead, kChunkVerify };

// One chunk of a write, read or verify, sent until answered (at most
// FLASH_BLOCK_TRIES times). 1 when the chunk succeeded.
static UINT8 ChunkRequest(ChunkedKind kind, UINT32 address, UINT32 size, UINT8* data, CallBackFn_T cb,
                          UINT32 offset, UINT32 length) {
    UINT32 chunkAddress = address + offset;
    UINT32 operation = kind == kChunkWrite ? SMI_CMD_WRITE_FLASH : SMI_CMD_READ_FLASH;
    for (UINT32 tries = FLASH_BLOCK_TRIES; tries > 0; --tries) {
        FunctionBlock* block = PrepareFunctionBlock();
        if (block == nullptr) return 0;
        // The verify zeroes the whole buffer first; its status is then preset
        // like the others, so an unanswered request cannot pass as done.
        if (kind == kChunkVerify) MemSet(gpIntrBuf, 0, INTERFACE_BUFFER_SIZE);
        block->DataAddress = static_cast<UINT64>(gIntrBufPhyAddr) + FUNCTION_BLOCK_DATA_OFFSET;
        block->Status = kStatusUntouched;
        block->FlashAddress = chunkAddress;
        block->Size = length;
        RecordFlashStatus(kind == kChunkWrite ? FLASH_OP_WRITE : kind == kChunkRead ? FLASH_OP_READ : FLASH_OP_VERIFY,
                          chunkAddress, length);
        if (kind == kChunkRead && cb != nullptr) cb(chunkAddress, gRomSize, length);
        FlashLibBeforeOperation(operation, address, size, data, cb);
        if (kind == kChunkWrite) {
            // After the hooks, which restore only the function block.
            MemCpy(gpIntrBuf + FUNCTION_BLOCK_DATA_OFFSET, data + offset, length);
            if (cb != nullptr) cb(chunkAddress, gRomSize, length);
        }
        ShadowFlash();
        if (kind == kChunkWrite) SMI_WriteFlash();
        else SMI_ReadFlash();
        FlashLibAfterOperation(operation, address, size, data, cb);

        if (block->Status == kStatusUntouched) continue;
        if (block->Status == kStatusFailed) return 0;
        if (kind == kChunkRead) MemCpy(data + offset, gpIntrBuf + FUNCTION_BLOCK_DATA_OFFSET, length);
        if (kind == kChunkVerify) {
            if (cb != nullptr) cb(chunkAddress, gRomSize, length);
            if (MemCmp(gpIntrBuf + FUNCTION_BLOCK_DATA_OFFSET, data + offset, length) != 1) return 0;
        }
        return 1;
    }
    return 0;
}

// Whole chunks of the block size, then the remainder as one short chunk.
static UINT8 ChunkedRequest(ChunkedKind kind, UINT32 address, UINT32 size, UINT8* data, CallBackFn_T cb) {
    UINT32 chunk = ChunkSize();
    if (size == 0) return 1;
    if (chunk == 0 || data == nullptr) return 0;
    for (UINT32 offset = 0; offset < size;) {
        UINT32 length = size - offset < chunk ? size - offset : chunk;
        if (ChunkRequest(kind, address, size, data, cb, offset, length) == 0) return 0;
        offset += length;
    }
    return 1;
}

UINT8 WriteBlk(UINT32 address, UINT32 size, UINT8* data, CallBackFn_T cb) {
    return ChunkedRequest(kChunkWrite, address, size, data, cb);
}

UINT8 ReadBlk(UINT32 address, UINT32 size, UINT8* data, CallBackFn_T cb) {
    return ChunkedRequest(kChunkRead, address, size, data, cb);
}

UINT8 VerifyBlk(UINT32 address, UINT32 size, UINT8* data, CallBackFn_T cb) {
    return ChunkedRequest(kChunkVerify, address, size, data, cb);
}
