// Test-side encoder of the EFI 1.1 compression format that the program's
// decoder reads: greedy LZ77 over hash chains (8 KiB dictionary, matches of
// 3 to 256 bytes), canonical Huffman codes limited to 16 bits, the
// single-symbol forms of every table, blocks of a chosen symbol count.
#pragma once
#include <cstdint>
#include <string>

namespace romz {

// MSB-first bit writer (also used by tests to hand-craft malformed streams).
class BitWriter {
public:
    void Put(uint32_t bits, uint32_t value);  // the low `bits` bits of value, bits <= 32
    std::string Finish();                     // pads the last byte with zeros
private:
    std::string out_;
    uint64_t acc_ = 0;
    uint32_t count_ = 0;
};

struct Options {
    bool matches = true;            // false: literals only
    uint32_t blockSymbols = 0xFFFF; // symbols per block, 1 to 0xFFFF
    uint32_t maxChain = 64;         // hash-chain probes per position
};

// Which table forms the encoder wrote, counted over all blocks.
struct Stats {
    uint32_t blocks = 0;
    uint32_t tExplicit = 0, tSingle = 0;
    uint32_t cExplicit = 0, cSingle = 0;
    uint32_t pExplicit = 0, pSingle = 0;
    uint32_t matches = 0;
};

// The bit stream alone (the "-lh5-" payload).
std::string CompressBits(const std::string& data, const Options& options = {}, Stats* stats = nullptr);
// The bit stream under the program's 8-byte header (stream length counting
// the header, unpacked size).
std::string Compress(const std::string& data, const Options& options = {}, Stats* stats = nullptr);

void PutLE32(std::string& s, size_t at, uint32_t v);
uint32_t GetLE32(const std::string& s, size_t at);

}  // namespace romz
