// The emulated firmware's flash part: the flash requests 0x20-0x25 answered
// over flash.bin and the machine's block table, with a fault script.
#pragma once
#include <string>
#include <vector>
#include "EmuFlashSettings.h"

struct EmuSmiRequest;

#pragma pack(push, 1)
// The function block at the start of the interface buffer.
struct EmuFunctionBlock {
    UINT64 DataAddress;
    UINT32 FlashAddress;
    UINT32 Size;
    UINT8 Status;
};
#pragma pack(pop)
static_assert(sizeof(EmuFunctionBlock) == 17, "function block is 17 bytes");

#define EMU_INTERFACE_BUFFER_SIZE 0x11000u
#define EMU_MAX_BLOCK_DATA (EMU_INTERFACE_BUFFER_SIZE - 0x11u)

// "$ASF" shadow check of a flash request: when the machine publishes "$ASF",
// compares its body with EBX and clears it; returns " asf=ok" or
// " asf=stale", or "" without "$ASF".
std::string EmuFlashPart_AsfCheck(UINT32 ebx);

// The flash interface is open: an open request (0x20) was granted and no
// close (0x24) came since (state/flash_open).
bool EmuFlashPart_IsOpen();

// Secure flash: whether the firmware lets a block erase, or a block write
// of `data` at the flash address, through. Empty when it does; else the
// reason of the refusal: "no-session" on a secure-flash machine outside an
// open runtime session (for a write: unless it programs only blank flash,
// write-once data), "not-uploaded" for a write that differs from the
// uploaded image within one.
std::string EmuSecureFlash_CheckErase();
std::string EmuSecureFlash_CheckWrite(UINT32 flashAddress, const UINT8* data, UINT32 size);

// The handlers.
void EmuSmi_FlashOpen(EmuSmiRequest& request);
void EmuSmi_FlashRead(EmuSmiRequest& request);
void EmuSmi_FlashErase(EmuSmiRequest& request);
void EmuSmi_FlashWrite(EmuSmiRequest& request);
void EmuSmi_FlashClose(EmuSmiRequest& request);
void EmuSmi_FlashInfo(EmuSmiRequest& request);
