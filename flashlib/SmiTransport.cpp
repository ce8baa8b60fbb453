// SMI command port discovery, the "$ASF" shadow write and the SMI requests.
#include "SmiTransport.h"
#include "TKXAcpi.h"
#include "TKXPhysMem.h"
#include "TKXPortIo.h"
#include "TKXString.h"

UINT16 gSmiPort = 0;
UINT8* g_ASFData = nullptr;
UINT8* m_BIOSBuf = nullptr;
UINT8* gpIntrBuf = nullptr;
FunctionBlock* gpFuncBlock = nullptr;

// The legacy BIOS area searched for "$ASF".
static const UINT32 kBiosAreaBase = 0xF0000;
static const UINT32 kBiosAreaSize = 0x10000;
// "$ASF": u8 header length at +4 (the body follows the header), u16 SMI
// command port at +0x0C. A header too short to hold the port is no record:
// its body would lie over the header itself.
static const UINT32 kAsfHeaderLengthOffset = 4;
static const UINT32 kAsfPortOffset = 0x0C;
static const UINT32 kAsfHeaderMin = kAsfPortOffset + 2;
static const UINT16 kDefaultSmiPort = 0xB2;

UINT16 GetSystemSmiPort() {
    UINT16 port = 0;
    g_ASFData = nullptr;
    if (TKX_GetAcpiSmiPort(&port) == 0) return port;

    if (m_BIOSBuf == nullptr) m_BIOSBuf = MapPhyMem(kBiosAreaBase, kBiosAreaSize);
    if (m_BIOSBuf == nullptr) return kDefaultSmiPort;

    // Only where the whole record up to its port field lies inside the area.
    for (UINT32 offset = 0; offset + kAsfPortOffset + 2 <= kBiosAreaSize; ++offset) {
        const UINT8* p = m_BIOSBuf + offset;
        if (p[0] != '$' || p[1] != 'A' || p[2] != 'S' || p[3] != 'F') continue;
        if (p[kAsfHeaderLengthOffset] < kAsfHeaderMin) return kDefaultSmiPort;
        UINT32 body = offset + p[kAsfHeaderLengthOffset];
        // The shadow write stores a u32 at the body: only when it lies inside the area.
        if (body + 4 <= kBiosAreaSize) g_ASFData = m_BIOSBuf + body;
        return static_cast<UINT16>(p[kAsfPortOffset] | (p[kAsfPortOffset + 1] << 8));
    }
    return kDefaultSmiPort;
}

void ShadowFlash() {
    if (g_ASFData == nullptr) return;
    UINT32 physical = gIntrBufPhyAddr;
    MemCpy(g_ASFData, &physical, sizeof(physical));
}

static UINT8 RaiseSmi(UINT8 command) {
    OutPortByte(gSmiPort, command);
    return 1;
}

UINT8 SMI_EnableFlash() { return RaiseSmi(SMI_CMD_ENABLE_FLASH); }
UINT8 SMI_ReadFlash() { return RaiseSmi(SMI_CMD_READ_FLASH); }
UINT8 SMI_EraseFlash() { return RaiseSmi(SMI_CMD_ERASE_FLASH); }
UINT8 SMI_WriteFlash() { return RaiseSmi(SMI_CMD_WRITE_FLASH); }
UINT8 SMI_DisableFlash() { return RaiseSmi(SMI_CMD_DISABLE_FLASH); }
UINT8 SMI_GetFlashInfo() { return RaiseSmi(SMI_CMD_GET_FLASH_INFO); }
UINT8 SMI_OemSmi(UINT8 command) { return RaiseSmi(command); }
