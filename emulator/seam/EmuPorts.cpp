// CMOS (index port 0x70, data port 0x71, 128 bytes kept in state/cmos) and
// the reset register 0xCF9 (last value kept in state/reset_cf9).
#include "EmuPorts.h"
#include <string>
#include "EmuMachine.h"

namespace {

const UINT16 kCmosIndex = 0x70;
const UINT16 kCmosData = 0x71;
const UINT16 kResetControl = 0xCF9;
const size_t kCmosSize = 128;

std::string LoadCmos() {
    std::string cmos = EmuState_Get("cmos", "");
    cmos.resize(kCmosSize, '\0');
    return cmos;
}

// The CMOS index register; bit 7 is the NMI mask, not part of the index.
UINT8 CmosIndex() { return static_cast<UINT8>(EmuState_GetNum("cmos_index", 0) & 0x7F); }

}  // namespace

void EmuPorts_OutByte(UINT16 port, UINT8 value) {
    EmuTrace("port out=0x%x value=0x%02x", port, value);
    if (port == kCmosIndex) {
        EmuState_SetNum("cmos_index", value);
    } else if (port == kCmosData) {
        std::string cmos = LoadCmos();
        cmos[CmosIndex()] = static_cast<char>(value);
        EmuState_Set("cmos", cmos);
    } else if (port == kResetControl) {
        EmuState_SetNum("reset_cf9", value);
    }
}

UINT8 EmuPorts_InByte(UINT16 port) {
    EmuTrace("port in=0x%x", port);
    if (port == kCmosData) return static_cast<UINT8>(LoadCmos()[CmosIndex()]);
    return 0xFF;
}
