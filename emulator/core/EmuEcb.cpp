// Init step: the firmware's EC/battery status block "$ECB" in E0000h-EFFFFh.
// Without the `ecb` setting the segment holds none.
#include <cstring>
#include "EmuEcb.h"
#include "EmuMachine.h"

static const char* const kMessageKeys[4] = {"ecb_msg10", "ecb_msg20", "ecb_msg40", "ecb_msg80"};
static const char* const kMessageDefaults[4] = {"EC status 0x10: flashing is not allowed now.",
                                                "EC status 0x20: flashing is not allowed now.",
                                                "EC status 0x40: flashing is not allowed now.",
                                                "EC status 0x80: flashing is not allowed now."};

// The EC area fields of the header, little-endian.
struct EcbField {
    const char* key;
    UINT32 at, width;
    UINT64 max;
};
static const EcbField kFields[] = {
    {"ecb_area_start", 5, 4, 0xFFFFFFFFull},
    {"ecb_area_size", 9, 4, 0xFFFFFFFFull},
    {"ecb_version_offset", 0x11, 2, 0xFFFFull},
    {"ecb_version_mask", 0x13, 4, 0xFFFFFFFFull},
};

bool EmuEcb_Layout(std::string& error) {
    if (!EmuMachine_Has("ecb")) return true;
    UINT64 status = 0, at = 0;
    if (!EmuParseNum(EmuMachine_Get("ecb", "0"), status) || status > 0xFF) {
        error = "ecb must be a status byte";
        return false;
    }
    if (!EmuParseNum(EmuMachine_Get("ecb_addr", "0xe0400"), at) || at < 0xE0000 || at + 0x200 > 0xF0000) {
        error = "ecb_addr must leave 0x200 bytes inside E0000h-EFFFFh";
        return false;
    }
    UINT8 block[0x200];
    memset(block, 0, sizeof(block));
    memcpy(block, "$ECB", 4);
    block[4] = static_cast<UINT8>(status);
    for (const EcbField& f : kFields) {
        UINT64 value = 0;
        if (!EmuParseNum(EmuMachine_Get(f.key, "0"), value) || value > f.max) {
            error = std::string(f.key) + " does not fit its field";
            return false;
        }
        for (UINT32 k = 0; k < f.width; ++k) block[f.at + k] = static_cast<UINT8>(value >> (8 * k));
    }
    for (int k = 0; k < 4; ++k) {
        std::string text = EmuMachine_Get(kMessageKeys[k], kMessageDefaults[k]);
        if (text.size() > 0x5F) text.resize(0x5F);
        UINT32 textAt = 0x40 + 0x60 * k;
        memcpy(block + textAt, text.data(), text.size());
        UINT32 fromSegment = static_cast<UINT32>(at - 0xE0000) + textAt;   // offsets count from E0000h
        block[23 + 2 * k] = static_cast<UINT8>(fromSegment);
        block[24 + 2 * k] = static_cast<UINT8>(fromSegment >> 8);
    }
    if (!EmuPhys_Write(at, block, sizeof(block))) {
        error = "cannot write the $ECB block";
        return false;
    }
    return true;
}
