// Flash block requests through the function block of the interface buffer:
// opening and closing the flash interface, the retrying family (u8 success
// flag) and the single-request family (ENUM_ERR_ID, repeatable).
#pragma once
#include "SmiTransport.h"

// Kinds of the last-operation records.
#define FLASH_OP_ERASE 0
#define FLASH_OP_WRITE 1
#define FLASH_OP_READ 2
#define FLASH_OP_VERIFY 3
#define FLASH_OP_OEM_SMI 4

// Tries of one retrying request while the firmware leaves the status untouched.
#define FLASH_BLOCK_TRIES 5

// Opens the flash interface (SMI 0x20) and arms CleanFlashIfcHook: 0, 0x40
// write-protected, 0x48 power not connected, 0x49 flashing not allowed.
ENUM_ERR_ID EnableFlashIfc();
// Closes it (SMI 0x24) when it is open.
void CleanFlashIfc();

// Retrying family: 1 success, 0 failure. The callback gets (chunk address,
// gRomSize, chunk size).
UINT8 EraseBlk(UINT32 address, UINT32 size, CallBackFn_T cb);
UINT8 WriteBlk(UINT32 address, UINT32 size, UINT8* data, CallBackFn_T cb);
UINT8 ReadBlk(UINT32 address, UINT32 size, UINT8* data, CallBackFn_T cb);
UINT8 VerifyBlk(UINT32 address, UINT32 size, UINT8* data, CallBackFn_T cb);

// Single-request family: one SMI each (a size above FUNCTION_BLOCK_MAX_DATA
// fails without one); the callback gets (size, address, result).
ENUM_ERR_ID FLASH_EraseBlockEx(UINT32 address, UINT32 size, CallBackFn_T cb);
ENUM_ERR_ID FLASH_WriteBlockEx(UINT32 address, UINT32 size, UINT8* data, CallBackFn_T cb);
ENUM_ERR_ID FLASH_ReadBlockEx(UINT32 address, UINT32 size, UINT8* data, CallBackFn_T cb);
ENUM_ERR_ID FLASH_VerifyBlockEx(UINT32 address, UINT32 size, UINT8* data, CallBackFn_T cb);
// A range of any length, read in chunks of gFlashBlockSize.
ENUM_ERR_ID FLASH_ReadBlock(UINT32 address, UINT32 size, UINT8* data, CallBackFn_T cb);
// Repeats the last single request.
ENUM_ERR_ID FLASH_RetryLastAction(CallBackFn_T cb);

// 1 while the flash interface is open.
UINT8 SmiFlashIsEnabled();
