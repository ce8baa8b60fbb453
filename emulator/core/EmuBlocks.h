// Block layout of the emulated flash part: runs of equal blocks in address
// order, as given to "yozemu init --blocks" (e.g. 2x64K:nvram,10x64K:main).
#pragma once
#include <string>
#include <vector>
#include "HuxTypes.h"

struct EmuBlock {
    UINT32 Start;
    UINT32 Size;
    UINT8 Type;  // 0 boot, 1 main, 2 nvram, 3 ec, 4 nvram-backup, 0x4A oa, 0x7E ft, 0x80+ ncb
};

// Parses SPEC into one entry per block; false with a message on bad input.
bool EmuBlocks_Parse(const std::string& spec, std::vector<EmuBlock>& blocks, std::string& error);
// The machine's block table (setting "blocks"); empty when it has none.
const std::vector<EmuBlock>& EmuBlocks_Machine();
