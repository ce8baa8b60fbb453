// Expected progress lines of the flash engine in the 64 KiB-block test
// layouts: the whole-flash read and the erase, update and verify passes.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace e2e {

// The whole-flash read of a flash of `size` bytes (the 1 MiB sample by default).
std::string FlashRead(uint32_t size = 0x100000);
// The save-ME read of an area of `size` bytes: the bytes read after each
// 4 KiB piece.
std::string MeRead(uint32_t size);
// One pass over the 64 KiB blocks at `addresses` (percentages count in
// thousands of bytes, relative to all of them), or over `count` blocks from `first`.
std::string Pass(const char* label, const std::vector<uint32_t>& addresses);
std::string Pass(const char* label, uint32_t first, uint32_t count);
// Erase, update and verify passes of one region, from its message word
// ("Main", "Boot", "NVRAM", "NCB").
std::string Passes(const std::string& region, const std::vector<uint32_t>& addresses);
// One progress line of the ME area of `total` bytes per request (flash
// address, size), counted in thousands of bytes against the total, from its
// verb ("Erasing", "Updating").
std::string MePass(const std::string& verb, const std::vector<std::pair<uint32_t, uint32_t>>& requests,
                   uint32_t total);
// The upload of a signed image of `size` bytes to the firmware (pieces of 0x8800 bytes).
std::string Upload(uint32_t size);

}  // namespace e2e
