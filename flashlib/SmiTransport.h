// The SMI transport: the SMI command port, the interface buffer shared with
// the firmware, the software-SMI requests and the before/after hook runners
// that wrap every flash SMI.
#pragma once
#include "HuxCore.h"

// Interface buffer: physically contiguous, below 4 GiB, its physical address
// in EBX with every SMI (gIntrBufPhyAddr, declared with the port I/O).
#define INTERFACE_BUFFER_SIZE 0x11000u
// Offset of the data behind the function block, and the most a block
// request can carry.
#define FUNCTION_BLOCK_DATA_OFFSET 0x11u
#define FUNCTION_BLOCK_MAX_DATA (INTERFACE_BUFFER_SIZE - FUNCTION_BLOCK_DATA_OFFSET)

// SMI command bytes.
#define SMI_CMD_ENABLE_FLASH 0x20
#define SMI_CMD_READ_FLASH 0x21
#define SMI_CMD_ERASE_FLASH 0x22
#define SMI_CMD_WRITE_FLASH 0x23
#define SMI_CMD_DISABLE_FLASH 0x24
#define SMI_CMD_GET_FLASH_INFO 0x25
#define SMI_CMD_ZOKT 0x26

// Function block of the block requests (0x20-0x24), at offset 0 of the buffer.
#pragma pack(push, 1)
struct FunctionBlock {
    UINT64 DataAddress;   // physical address of the data: gIntrBufPhyAddr + 0x11
    UINT32 FlashAddress;  // offset in the flash part
    UINT32 Size;          // bytes
    UINT8 Status;         // preset by the program; 0 done, 1 failed, 0xFF not answered
};
#pragma pack(pop)
static_assert(sizeof(FunctionBlock) == 17, "function block is 17 bytes");
static_assert(offsetof(FunctionBlock, FlashAddress) == 8 && offsetof(FunctionBlock, Size) == 0x0C &&
                  offsetof(FunctionBlock, Status) == 0x10,
              "function block layout");

extern UINT16 gSmiPort;
extern UINT8* g_ASFData;        // "$ASF" body inside m_BIOSBuf, when the port came from it
extern UINT8* m_BIOSBuf;        // mapping of F0000h-FFFFFh made for the "$ASF" search
extern UINT8* gpIntrBuf;        // the interface buffer (INTERFACE_BUFFER_SIZE bytes)
extern FunctionBlock* gpFuncBlock;

// Progress function of the flash requests; each caller family gives the three
// values their meaning.
typedef void (*CallBackFn_T)(UINT32, UINT32, UINT32);
// The first value of a progress call that reports no piece of work: with
// (0, 0) after it the line is done, with (0, FLASH_PROGRESS_CLOSE) it starts
// again for a new attempt, with (FLASH_PROGRESS_CLOSE, FLASH_PROGRESS_CLOSE)
// it ends where it stands.
#define FLASH_PROGRESS_CLOSE 0xFFFFFFFFu
// A before or after hook of every flash SMI.
typedef ENUM_ERR_ID (*HuxFlashLibHook)(UINT32 Operation, UINT32 Offset, UINT32 Size, void* Data,
                                       CallBackFn_T CallBack);

// Port discovery: the FADT's SMI_CMD, else the first "$ASF" in F0000h-FFFFFh,
// else 0xB2.
UINT16 GetSystemSmiPort();
// Stores the buffer's physical address into the "$ASF" body, when there is one.
void ShadowFlash();

// One SMI byte to gSmiPort with EBX = gIntrBufPhyAddr; each returns 1.
UINT8 SMI_EnableFlash();
UINT8 SMI_ReadFlash();
UINT8 SMI_EraseFlash();
UINT8 SMI_WriteFlash();
UINT8 SMI_DisableFlash();
UINT8 SMI_GetFlashInfo();
UINT8 SMI_OemSmi(UINT8 command);
// An OEM SMI wrapped in the hooks (no shadow step); returns 1.
UINT8 CallOemSmi(UINT8 command);

// The hook runners: keep the request in the buffer across the hooks, so hooks
// may send requests of their own. The result is the last hook's result.
ENUM_ERR_ID FlashLibBeforeOperation(UINT32 Operation, UINT32 Offset, UINT32 Size, void* Data, CallBackFn_T CallBack);
ENUM_ERR_ID FlashLibAfterOperation(UINT32 Operation, UINT32 Offset, UINT32 Size, void* Data, CallBackFn_T CallBack);
