// Block-layout parser.
#include "EmuBlocks.h"
#include <cstdlib>
#include "EmuMachine.h"

static bool ParseSize(const std::string& text, UINT64& size) {
    if (text.empty()) return false;
    UINT64 unit = 1;
    std::string digits = text;
    char last = text.back();
    if (last == 'K' || last == 'k') unit = 1024;
    if (last == 'M' || last == 'm') unit = 1024 * 1024;
    if (unit != 1) digits.pop_back();
    if (!EmuParseNum(digits, size)) return false;
    size *= unit;
    return size != 0 && size <= 0x100000000ULL;
}

static bool ParseType(const std::string& text, UINT8& type) {
    static const struct {
        const char* name;
        UINT8 type;
    } kNames[] = {{"boot", 0}, {"main", 1}, {"nvram", 2}, {"ec", 3}, {"nvram-backup", 4}, {"oa", 0x4A}, {"ft", 0x7E},
                  {"ncb", 0x80}};
    for (const auto& n : kNames) {
        if (text == n.name) {
            type = n.type;
            return true;
        }
    }
    UINT64 v = 0;
    if (!EmuParseNum(text, v) || v > 0xFF) return false;
    type = static_cast<UINT8>(v);
    return true;
}

bool EmuBlocks_Parse(const std::string& spec, std::vector<EmuBlock>& blocks, std::string& error) {
    blocks.clear();
    UINT64 address = 0;
    size_t pos = 0;
    while (pos <= spec.size()) {
        size_t comma = spec.find(',', pos);
        std::string run = spec.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
        size_t x = run.find('x');
        size_t colon = run.find(':');
        UINT64 count = 0, size = 0;
        UINT8 type = 0;
        if (x == std::string::npos || colon == std::string::npos || colon < x ||
            !EmuParseNum(run.substr(0, x), count) || count == 0 || count > 0x10000 ||
            !ParseSize(run.substr(x + 1, colon - x - 1), size) || !ParseType(run.substr(colon + 1), type)) {
            error = "bad block run \"" + run + "\" (expected COUNTxSIZE:TYPE)";
            return false;
        }
        for (UINT64 i = 0; i < count; ++i) {
            if (address + size > 0x100000000ULL) {
                error = "block layout is larger than 4 GiB";
                return false;
            }
            blocks.push_back(EmuBlock{static_cast<UINT32>(address), static_cast<UINT32>(size), type});
            address += size;
        }
        if (comma == std::string::npos) break;
        pos = comma + 1;
    }
    return !blocks.empty();
}

// Parsed once per value of the setting (in-process tests change machines).
const std::vector<EmuBlock>& EmuBlocks_Machine() {
    static std::vector<EmuBlock> blocks;
    static std::string parsed;
    static bool done = false;
    std::string spec = EmuMachine_Get("blocks", "");
    if (!done || spec != parsed) {
        std::string error;
        if (!EmuBlocks_Parse(spec, blocks, error)) blocks.clear();
        parsed = spec;
        done = true;
    }
    return blocks;
}
