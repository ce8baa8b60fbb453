// Test-side encoder of the EFI 1.1 compression format.
#include "RomCompressor.h"
#include <algorithm>
#include <queue>
#include <vector>

namespace romz {

namespace {

const uint32_t kNC = 510, kNT = 19, kNP = 14;
const uint32_t kCBits = 9, kTBits = 5, kPBits = 4;
const uint32_t kWindow = 8192, kMinMatch = 3, kMaxMatch = 256;
const uint32_t kMaxLen = 16;

struct Symbol {
    uint16_t c;    // literal, or 253 + match length
    uint16_t pos;  // distance - 1 for a match
};

// Code lengths of a Huffman code over freq, limited to kMaxLen bits by
// flattening the frequencies until it fits. Symbols of frequency 0 get 0.
std::vector<uint8_t> HuffmanLengths(std::vector<uint32_t> freq) {
    size_t n = freq.size();
    std::vector<uint8_t> len(n, 0);
    for (;;) {
        std::vector<int> parent(2 * n, -1);
        typedef std::pair<uint64_t, int> Node;
        std::priority_queue<Node, std::vector<Node>, std::greater<Node>> heap;
        for (size_t i = 0; i < n; ++i) {
            if (freq[i] != 0) heap.push(Node(freq[i], static_cast<int>(i)));
        }
        if (heap.size() < 2) return len;  // single-symbol form, no code
        int next = static_cast<int>(n);
        while (heap.size() > 1) {
            Node a = heap.top();
            heap.pop();
            Node b = heap.top();
            heap.pop();
            parent[a.second] = next;
            parent[b.second] = next;
            heap.push(Node(a.first + b.first, next++));
        }
        uint32_t longest = 0;
        for (size_t i = 0; i < n; ++i) {
            if (freq[i] == 0) continue;
            uint32_t depth = 0;
            for (int p = parent[i]; p != -1; p = parent[p]) ++depth;
            len[i] = static_cast<uint8_t>(depth);
            longest = std::max(longest, depth);
        }
        if (longest <= kMaxLen) return len;
        for (auto& f : freq) {
            if (f != 0) f = (f >> 1) | 1;
        }
    }
}

// Canonical codes: shorter codes first, equal lengths in symbol order.
std::vector<uint16_t> CanonicalCodes(const std::vector<uint8_t>& len) {
    uint32_t count[kMaxLen + 1] = {0};
    for (uint8_t l : len) ++count[l];
    count[0] = 0;
    uint32_t next[kMaxLen + 2] = {0};
    uint32_t code = 0;
    for (uint32_t l = 1; l <= kMaxLen; ++l) {
        code = (code + count[l - 1]) << 1;
        next[l] = code;
    }
    std::vector<uint16_t> codes(len.size(), 0);
    for (size_t s = 0; s < len.size(); ++s) {
        if (len[s] != 0) codes[s] = static_cast<uint16_t>(next[len[s]]++);
    }
    return codes;
}

uint32_t PositionSymbol(uint32_t pos) {
    uint32_t c = 0;
    while ((pos >> c) != 0) ++c;
    return c;  // 0 for 0, 1 for 1, else bit length
}

class BlockWriter {
public:
    BlockWriter(BitWriter& out, Stats& stats) : out_(out), stats_(stats) {}

    void Write(const std::vector<Symbol>& syms) {
        std::vector<uint32_t> cFreq(kNC, 0), pFreq(kNP, 0);
        for (const Symbol& s : syms) {
            ++cFreq[s.c];
            if (s.c >= 256) ++pFreq[PositionSymbol(s.pos)];
        }
        out_.Put(16, static_cast<uint32_t>(syms.size()));
        ++stats_.blocks;

        std::vector<uint8_t> cLen = HuffmanLengths(cFreq);
        std::vector<uint16_t> cCode;
        if (std::count(cLen.begin(), cLen.end(), 0) == static_cast<long>(kNC)) {
            // One literal/length symbol: empty code-length code, then the symbol.
            out_.Put(kTBits, 0);
            out_.Put(kTBits, 0);
            out_.Put(kCBits, 0);
            out_.Put(kCBits, syms.empty() ? 0 : syms[0].c);
            ++stats_.tSingle;
            ++stats_.cSingle;
            cLen.assign(kNC, 0);
            cCode.assign(kNC, 0);
        } else {
            WriteLiteralLengthCode(cLen);
            cCode = CanonicalCodes(cLen);
            ++stats_.cExplicit;
        }

        std::vector<uint8_t> pLen = HuffmanLengths(pFreq);
        std::vector<uint16_t> pCode;
        if (std::count(pLen.begin(), pLen.end(), 0) == static_cast<long>(kNP)) {
            uint32_t only = 0;
            for (uint32_t i = 0; i < kNP; ++i) {
                if (pFreq[i] != 0) only = i;
            }
            out_.Put(kPBits, 0);
            out_.Put(kPBits, only);
            pCode.assign(kNP, 0);
            ++stats_.pSingle;
        } else {
            WriteSmallCode(pLen, kPBits, 0);
            pCode = CanonicalCodes(pLen);
            ++stats_.pExplicit;
        }

        for (const Symbol& s : syms) {
            out_.Put(cLen[s.c], cCode[s.c]);
            if (s.c < 256) continue;
            uint32_t ps = PositionSymbol(s.pos);
            out_.Put(pLen[ps], pCode[ps]);
            if (ps > 1) out_.Put(ps - 1, s.pos - (1u << (ps - 1)));
            ++stats_.matches;
        }
    }

private:
    // Lengths 0-6 in 3 bits, 7 and up as 111, a 1 per extra unit, a 0.
    void WriteSmallCode(const std::vector<uint8_t>& len, uint32_t countBits, uint32_t special) {
        uint32_t n = static_cast<uint32_t>(len.size());
        while (n > 0 && len[n - 1] == 0) --n;
        out_.Put(countBits, n);
        uint32_t i = 0;
        while (i < n) {
            uint32_t k = len[i++];
            if (k <= 6) {
                out_.Put(3, k);
            } else {
                out_.Put(k - 3, (1u << (k - 3)) - 2);
            }
            if (i == special) {
                while (i < 6 && i < n && len[i] == 0) ++i;
                out_.Put(2, (i - special) & 3);
            }
        }
    }

    // The run-length form of the literal/length lengths, sent through the
    // code-length code: 0 = one zero, 1 = 3-18 zeros, 2 = 20-531 zeros.
    void WriteLiteralLengthCode(const std::vector<uint8_t>& cLen) {
        uint32_t n = kNC;
        while (n > 0 && cLen[n - 1] == 0) --n;
        struct Item {
            uint32_t t;
            uint32_t extraBits;
            uint32_t extra;
        };
        std::vector<Item> items;
        uint32_t i = 0;
        while (i < n) {
            uint32_t k = cLen[i++];
            if (k != 0) {
                items.push_back({k + 2, 0, 0});
                continue;
            }
            uint32_t run = 1;
            while (i < n && cLen[i] == 0) {
                ++i;
                ++run;
            }
            if (run <= 2) {
                for (uint32_t r = 0; r < run; ++r) items.push_back({0, 0, 0});
            } else if (run <= 18) {
                items.push_back({1, 4, run - 3});
            } else if (run == 19) {
                items.push_back({0, 0, 0});
                items.push_back({1, 4, 15});
            } else {
                items.push_back({2, kCBits, run - 20});
            }
        }
        std::vector<uint32_t> tFreq(kNT, 0);
        for (const Item& it : items) ++tFreq[it.t];
        std::vector<uint8_t> tLen = HuffmanLengths(tFreq);
        std::vector<uint16_t> tCode;
        if (std::count(tLen.begin(), tLen.end(), 0) == static_cast<long>(kNT)) {
            out_.Put(kTBits, 0);
            out_.Put(kTBits, items[0].t);
            tCode.assign(kNT, 0);
            ++stats_.tSingle;
        } else {
            WriteSmallCode(tLen, kTBits, 3);
            tCode = CanonicalCodes(tLen);
            ++stats_.tExplicit;
        }
        out_.Put(kCBits, n);
        for (const Item& it : items) {
            out_.Put(tLen[it.t], tCode[it.t]);
            if (it.extraBits != 0) out_.Put(it.extraBits, it.extra);
        }
    }

    BitWriter& out_;
    Stats& stats_;
};

// Greedy parse over hash chains of 3-byte prefixes.
std::vector<Symbol> Parse(const std::string& data, const Options& options) {
    std::vector<Symbol> syms;
    syms.reserve(data.size() / 2 + 16);
    const uint8_t* d = reinterpret_cast<const uint8_t*>(data.data());
    size_t n = data.size();
    const uint32_t kHashBits = 15;
    std::vector<int64_t> head(1u << kHashBits, -1);
    std::vector<int64_t> prev(kWindow, -1);
    auto hashAt = [&](size_t i) {
        return ((static_cast<uint32_t>(d[i]) << 10) ^ (static_cast<uint32_t>(d[i + 1]) << 5) ^ d[i + 2]) &
               ((1u << kHashBits) - 1);
    };
    auto insert = [&](size_t i) {
        if (i + kMinMatch > n) return;
        uint32_t h = hashAt(i);
        prev[i % kWindow] = head[h];
        head[h] = static_cast<int64_t>(i);
    };
    size_t i = 0;
    while (i < n) {
        uint32_t bestLen = 0, bestDist = 0;
        if (options.matches && i + kMinMatch <= n) {
            size_t limit = std::min<size_t>(kMaxMatch, n - i);
            int64_t cand = head[hashAt(i)];
            for (uint32_t probes = 0; cand >= 0 && probes < options.maxChain; ++probes) {
                size_t dist = i - static_cast<size_t>(cand);
                if (dist > kWindow) break;
                uint32_t l = 0;
                while (l < limit && d[cand + l] == d[i + l]) ++l;
                if (l > bestLen) {
                    bestLen = l;
                    bestDist = static_cast<uint32_t>(dist);
                    if (l == limit) break;
                }
                int64_t older = prev[static_cast<size_t>(cand) % kWindow];
                if (older >= cand) break;
                cand = older;
            }
        }
        if (bestLen >= kMinMatch) {
            syms.push_back({static_cast<uint16_t>(bestLen + 253), static_cast<uint16_t>(bestDist - 1)});
            for (uint32_t k = 0; k < bestLen; ++k) insert(i + k);
            i += bestLen;
        } else {
            syms.push_back({d[i], 0});
            insert(i);
            ++i;
        }
    }
    return syms;
}

}  // namespace

void BitWriter::Put(uint32_t bits, uint32_t value) {
    if (bits == 0) return;
    uint64_t v = bits == 32 ? value : (value & ((1u << bits) - 1));
    acc_ = (acc_ << bits) | v;
    count_ += bits;
    while (count_ >= 8) {
        out_.push_back(static_cast<char>((acc_ >> (count_ - 8)) & 0xFF));
        count_ -= 8;
    }
}

std::string BitWriter::Finish() {
    if (count_ > 0) out_.push_back(static_cast<char>((acc_ << (8 - count_)) & 0xFF));
    count_ = 0;
    acc_ = 0;
    return out_;
}

std::string CompressBits(const std::string& data, const Options& options, Stats* stats) {
    Stats local;
    Stats& st = stats != nullptr ? *stats : local;
    st = Stats();
    std::vector<Symbol> syms = Parse(data, options);
    BitWriter out;
    BlockWriter blocks(out, st);
    uint32_t per = std::max<uint32_t>(1, std::min<uint32_t>(options.blockSymbols, 0xFFFF));
    for (size_t at = 0; at < syms.size(); at += per) {
        size_t end = std::min(syms.size(), at + per);
        blocks.Write(std::vector<Symbol>(syms.begin() + static_cast<long>(at), syms.begin() + static_cast<long>(end)));
    }
    return out.Finish();
}

std::string Compress(const std::string& data, const Options& options, Stats* stats) {
    std::string bits = CompressBits(data, options, stats);
    std::string s(8, '\0');
    PutLE32(s, 0, static_cast<uint32_t>(bits.size() + 8));
    PutLE32(s, 4, static_cast<uint32_t>(data.size()));
    return s + bits;
}

void PutLE32(std::string& s, size_t at, uint32_t v) {
    if (s.size() < at + 4) s.resize(at + 4, '\0');
    for (int i = 0; i < 4; ++i) s[at + static_cast<size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

uint32_t GetLE32(const std::string& s, size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(s[at + static_cast<size_t>(i)]);
    return v;
}

}  // namespace romz
