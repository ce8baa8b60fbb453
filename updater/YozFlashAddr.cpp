// Address-form runs: a range is sent in pieces of the flash block size
// through the single-request block forms, each piece reported to the
// progress callback with its status. The loops do not repeat a failed piece
// themselves (the flash-library callbacks repeat the last request); the
// verify loops repair a differing piece.
#include "YozFlash.h"

enum YozPieceOp { kPieceRead, kPieceErase, kPieceWrite };

static ENUM_ERR_ID SendPiece(YozPieceOp op, UINT32 address, UINT32 size, UINT8* data) {
    switch (op) {
    case kPieceRead: return FLASH_ReadBlockEx(address, size, data, nullptr);
    case kPieceErase: return FLASH_EraseBlockEx(address, size, nullptr);
    case kPieceWrite: return FLASH_WriteBlockEx(address, size, data, nullptr);
    }
    return eEID_NO_ERROR;
}

static const ENUM_ERR_ID kPieceError[] = {eEID_READ_FLASH, eEID_ERASE_FLASH, eEID_WRITE_FLASH};

static UINT8* PieceData(UINT8* data, UINT32 offset) { return data == nullptr ? nullptr : data + offset; }

// Reports one piece and counts its real size.
static void ReportPiece(CallBackFn_T callback, UINT32 address, UINT32 length, ENUM_ERR_ID status) {
    if (callback != nullptr) callback(YOZ_FlashAllreadySize, address, status);
    YOZ_FlashAllreadySize += length;
}

// Whole pieces, then the remainder as one short piece, then a last report
// that closes the line once the count has reached the total.
static ENUM_ERR_ID PieceLoop(YozPieceOp op, UINT32 address, UINT32 size, UINT8* data, CallBackFn_T callback,
                             UINT32 piece) {
    if (size == 0) return eEID_NO_ERROR;
    if (piece == 0) return kPieceError[op];
    if (op != kPieceErase && data == nullptr) return kPieceError[op];
    ENUM_ERR_ID status = eEID_NO_ERROR;
    UINT32 last = address;
    for (UINT32 offset = 0; offset < size;) {
        UINT32 length = size - offset < piece ? size - offset : piece;
        last = address + offset;
        status = SendPiece(op, last, length, PieceData(data, offset));
        ReportPiece(callback, last, length, status);
        if (status != eEID_NO_ERROR) return status;
        offset += length;
    }
    if (callback != nullptr) callback(YOZ_FlashAllreadySize, last, status);
    return status;
}

static UINT32 SmallerOf(UINT32 a, UINT32 b) { return a < b ? a : b; }

ENUM_ERR_ID YOZ_Flash_ReadBlock(UINT32 address, UINT32 size, UINT8* buffer, CallBackFn_T callback) {
    return PieceLoop(kPieceRead, address, size, buffer, callback, gFlashBlockSize);
}

ENUM_ERR_ID YOZ_Flash_EraseBlock(UINT32 address, UINT32 size, CallBackFn_T callback) {
    return PieceLoop(kPieceErase, address, size, nullptr, callback, gFlashBlockSize);
}

ENUM_ERR_ID YOZ_Flash_WriteBlock(UINT32 address, UINT32 size, UINT8* data, CallBackFn_T callback) {
    return PieceLoop(kPieceWrite, address, size, data, callback, SmallerOf(gFlashBlockSize, size));
}

// Verify by pieces; a differing piece is repaired up to five times (erase,
// write, verify; without the erase for write-once areas).
static ENUM_ERR_ID VerifyLoop(UINT32 address, UINT32 size, UINT8* data, CallBackFn_T callback, UINT32 piece,
                              bool eraseToRepair) {
    static const UINT32 kRepairs = 5;
    if (size == 0) return eEID_NO_ERROR;
    if (piece == 0 || data == nullptr) return eEID_VERIFY_FLASH;
    ENUM_ERR_ID status = eEID_NO_ERROR;
    UINT32 last = address;
    for (UINT32 offset = 0; offset < size;) {
        UINT32 length = size - offset < piece ? size - offset : piece;
        last = address + offset;
        UINT8* pieceData = data + offset;
        status = FLASH_VerifyBlockEx(last, length, pieceData, nullptr);
        ReportPiece(callback, last, length, status);
        for (UINT32 r = 0; r < kRepairs && status != eEID_NO_ERROR; ++r) {
            if (eraseToRepair) FLASH_EraseBlockEx(last, length, nullptr);
            FLASH_WriteBlockEx(last, length, pieceData, nullptr);
            status = FLASH_VerifyBlockEx(last, length, pieceData, nullptr);
        }
        if (status != eEID_NO_ERROR) return status;
        offset += length;
    }
    if (callback != nullptr) callback(YOZ_FlashAllreadySize, last, status);
    return status;
}

ENUM_ERR_ID YOZ_Flash_VerifyBlock(UINT32 address, UINT32 size, UINT8* data, CallBackFn_T callback) {
    return VerifyLoop(address, size, data, callback, gFlashBlockSize, true);
}

ENUM_ERR_ID YOZ_Flash_WriteOnce_VerifyBlock(UINT32 address, UINT32 size, UINT8* data, CallBackFn_T callback) {
    return VerifyLoop(address, size, data, callback, SmallerOf(gFlashBlockSize, size), false);
}

// The range must lie inside the ROM image the buffer holds.
static bool InRom(UINT32 address, UINT32 size) { return static_cast<UINT64>(address) + size <= gRomSize; }

ENUM_ERR_ID YOZ_Flash_EraseAddr(UINT32 address, UINT32 size) {
    if (!InRom(address, size)) return eEID_ERASE_FLASH;
    YOZ_FlashWay = YOZ_FLASH_WAY_ADDRESS;
    ENUM_ERR_ID result = YOZ_Flash_EraseBlock(address, size, YOZ_CallBack_FlashLib_Erase);
    YOZ_FlashWay = YOZ_FLASH_WAY_IDLE;
    return result;
}

ENUM_ERR_ID YOZ_Flash_UpdateAddr(UINT8* buffer, UINT32 address, UINT32 size) {
    if (buffer == nullptr) return eEID_MEM_ALLOC;
    if (!InRom(address, size)) return eEID_WRITE_FLASH;
    YOZ_FlashWay = YOZ_FLASH_WAY_ADDRESS;
    ENUM_ERR_ID result = YOZ_Flash_WriteBlock(address, size, buffer + address, YOZ_CallBack_FlashLib_Update);
    YOZ_FlashWay = YOZ_FLASH_WAY_IDLE;
    return result;
}

ENUM_ERR_ID YOZ_Flash_VerifyAddr(UINT8* buffer, UINT32 address, UINT32 size, UINT8 writeOnce) {
    if (buffer == nullptr) return eEID_MEM_ALLOC;
    if (!InRom(address, size)) return eEID_VERIFY_FLASH;
    YOZ_FlashWay = YOZ_FLASH_WAY_ADDRESS;
    UINT8* data = buffer + address;
    ENUM_ERR_ID result = writeOnce != 0
                             ? YOZ_Flash_WriteOnce_VerifyBlock(address, size, data, YOZ_CallBack_FlashLib_Verify)
                             : YOZ_Flash_VerifyBlock(address, size, data, YOZ_CallBack_FlashLib_Verify);
    YOZ_FlashWay = YOZ_FLASH_WAY_IDLE;
    return result;
}
