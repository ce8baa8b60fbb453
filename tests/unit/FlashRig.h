// In-process emulated machine for the flash code: the program's own flash
// library and engine run against the emulator's firmware, as the test build
// does, with the interface buffer mapped from the machine's physical memory.
#pragma once
#include <string>
#include <vector>
#include "HuxTypes.h"

namespace unit {

class FlashRig {
public:
    // A machine whose flash holds `flash`, laid out by `blocks` (the yozemu
    // --blocks form), with extra machine.ini lines `sets` ("key=value").
    // Opens the flash interface and reads the ROM information; the trace is
    // empty afterwards. Ok() tells whether all of that worked.
    FlashRig(const std::string& flash, const std::string& blocks, const std::vector<std::string>& sets = {});
    ~FlashRig();
    FlashRig(const FlashRig&) = delete;
    FlashRig& operator=(const FlashRig&) = delete;

    bool Ok() const { return ok_; }
    const std::string& Error() const { return error_; }

    std::string Flash() const;                   // flash.bin now
    std::vector<std::string> Trace() const;      // trace lines since set-up (or ClearTrace)
    void ClearTrace();
    // Number of "smi" lines of the command, and the command bytes in order.
    size_t Smis(UINT8 command) const;
    std::string SmiSequence() const;             // e.g. "22 23 21 " (one per flash SMI)

private:
    bool ok_ = false;
    std::string error_;
    UINT8* mapping_ = nullptr;
};

// A flash image of `size` bytes whose byte i is (i * 7 + seed) & 0xFF, with
// every 0x1000-byte page starting with its page number (no two pages alike).
std::string Pattern(size_t size, UINT8 seed);

}  // namespace unit
