// Decoder of the EFI 1.1 compression format: blocks of a 16-bit symbol count,
// the code-length code (19 symbols, 5-bit count, a zero run after the third
// length), the literal/length code (510 symbols, 9-bit count) and the
// position code (14 symbols, 4-bit count), then the symbols. Literal/length
// symbol c >= 256 copies c - 253 bytes from position p + 1 bytes back.
//
// The output is decoded straight into the caller's buffer, which the header
// check makes large enough; a match reaching before the start of the output
// reads the zeros that a freshly cleared 8 KiB window would hold.
#include <cstring>
#include "TKXDecompress.h"

namespace {

const UINT32 kNC = 510;      // literal/length alphabet
const UINT32 kNT = 19;       // code-length alphabet
const UINT32 kNP = 14;       // position alphabet
const UINT32 kCBits = 9;     // width of the literal/length count
const UINT32 kTBits = 5;     // width of the code-length count
const UINT32 kPBits = 4;     // width of the position count
const UINT32 kCTableBits = 12;
const UINT32 kPTTableBits = 8;
const UINT32 kMaxCodeLength = 16;
const UINT32 kMatchBias = 253;  // c - 253 bytes for c >= 256

// Bit reader: the next bits sit at the top of a 64-bit buffer; zeros follow
// the end of the input.
struct BitReader {
    const UINT8* next;
    const UINT8* end;
    UINT64 bits;
    UINT32 count;  // valid bits at the top of `bits`

    void Refill() {
        while (count <= 56) {
            UINT64 byte = next < end ? *next++ : 0;
            bits |= byte << (56 - count);
            count += 8;
        }
    }
    // Top n bits (n <= 32) without consuming them; Refill first.
    UINT32 Peek(UINT32 n) const { return static_cast<UINT32>(bits >> (64 - n)); }
    void Skip(UINT32 n) {
        bits <<= n;  // n <= 32
        count -= n;
    }
    UINT32 Get(UINT32 n) {
        if (n == 0) return 0;
        Refill();
        UINT32 v = Peek(n);
        Skip(n);
        return v;
    }
};

// Canonical prefix code of `symbols` symbols: a direct table indexed by the
// first `tableBits` bits, and binary trees (left/right) for longer codes.
// An entry or node value below `symbols` is a symbol; others are tree nodes.
template <UINT32 kSymbols, UINT32 kTableBits>
struct PrefixCode {
    UINT16 table[1u << kTableBits];
    UINT16 left[2 * kSymbols];
    UINT16 right[2 * kSymbols];
    UINT8 length[kSymbols];

    // Every code decodes to `symbol` without consuming bits.
    void SetSingle(UINT16 symbol) {
        for (UINT32 i = 0; i < (1u << kTableBits); ++i) table[i] = symbol;
        memset(length, 0, sizeof(length));
    }

    // Builds the tables from length[]; false unless the lengths form a
    // complete prefix code (which also rules out an empty one).
    bool Build() {
        UINT32 count[kMaxCodeLength + 1] = {0};
        for (UINT32 s = 0; s < kSymbols; ++s) {
            if (length[s] > kMaxCodeLength) return false;
            ++count[length[s]];
        }
        // Codes left-aligned to 16 bits; the last one must end exactly at 2^16.
        UINT32 start[kMaxCodeLength + 2];
        start[1] = 0;
        for (UINT32 len = 1; len <= kMaxCodeLength; ++len) start[len + 1] = start[len] + (count[len] << (16 - len));
        if (start[kMaxCodeLength + 1] != (1u << 16)) return false;

        const UINT32 jut = 16 - kTableBits;
        memset(table, 0xFF, sizeof(table));  // 0xFFFF: not yet filled
        UINT32 avail = kSymbols;
        for (UINT32 s = 0; s < kSymbols; ++s) {
            UINT32 len = length[s];
            if (len == 0) continue;
            UINT32 code = start[len];
            start[len] += 1u << (16 - len);
            if (len <= kTableBits) {
                UINT32 first = code >> jut;
                UINT32 n = 1u << (kTableBits - len);
                for (UINT32 i = 0; i < n; ++i) table[first + i] = static_cast<UINT16>(s);
                continue;
            }
            // Walk or grow the tree below the table entry, one bit per level.
            UINT16* slot = &table[code >> jut];
            for (UINT32 bit = kTableBits; bit < len; ++bit) {
                if (*slot == 0xFFFF) {
                    if (avail >= 2 * kSymbols) return false;
                    left[avail] = 0xFFFF;
                    right[avail] = 0xFFFF;
                    *slot = static_cast<UINT16>(avail++);
                } else if (*slot < kSymbols) {
                    return false;  // cannot happen with a prefix code
                }
                UINT32 node = *slot;
                slot = (code & (0x8000u >> bit)) != 0 ? &right[node] : &left[node];
            }
            if (*slot != 0xFFFF) return false;
            *slot = static_cast<UINT16>(s);
        }
        // A complete code fills every slot.
        for (UINT32 i = 0; i < (1u << kTableBits); ++i) {
            if (table[i] == 0xFFFF) return false;
        }
        for (UINT32 n = kSymbols; n < avail; ++n) {
            if (left[n] == 0xFFFF || right[n] == 0xFFFF) return false;
        }
        return true;
    }

    // Decodes one symbol; the reader holds at least 16 valid bits.
    UINT32 Decode(BitReader& in) const {
        UINT32 s = table[in.Peek(kTableBits)];
        if (s >= kSymbols) {
            UINT64 mask = 1ULL << (63 - kTableBits);
            do {
                s = (in.bits & mask) != 0 ? right[s] : left[s];
                mask >>= 1;
            } while (s >= kSymbols);
        }
        in.Skip(length[s]);
        return s;
    }
};

typedef PrefixCode<kNC, kCTableBits> LiteralLengthCode;
// The code-length code and the position code share one shape.
typedef PrefixCode<kNT, kPTTableBits> SmallCode;

struct Decoder {
    BitReader in;
    LiteralLengthCode c;
    SmallCode t;
    SmallCode p;
};

// Reads the code-length code (special = 3) or the position code (special = 0,
// none). Lengths 0-6 take 3 bits; 7 and up are 111 followed by one 1 bit per
// extra unit and a 0.
bool ReadSmallCode(BitReader& in, SmallCode& code, UINT32 symbols, UINT32 countBits, UINT32 special) {
    UINT32 n = in.Get(countBits);
    if (n == 0) {
        UINT32 single = in.Get(countBits);
        if (single >= symbols) return false;
        code.SetSingle(static_cast<UINT16>(single));
        return true;
    }
    if (n > symbols) return false;
    memset(code.length, 0, sizeof(code.length));
    UINT32 i = 0;
    while (i < n) {
        in.Refill();
        UINT32 len = in.Peek(3);
        in.Skip(3);
        if (len == 7) {
            while (in.Peek(1) == 1) {
                if (++len > kMaxCodeLength) return false;
                in.Skip(1);
                in.Refill();
            }
            in.Skip(1);
        }
        code.length[i++] = static_cast<UINT8>(len);
        if (i == special) {
            UINT32 zeros = in.Get(2);
            if (i + zeros > symbols) return false;
            i += zeros;  // lengths are already zero
        }
    }
    return code.Build();
}

// Reads the literal/length code through the code-length code: symbols 0-2
// are zero runs (1; 3-18 with 4 bits; 20-531 with 9 bits), symbol k >= 3 is
// length k - 2.
bool ReadLiteralLengthCode(Decoder& d) {
    BitReader& in = d.in;
    UINT32 n = in.Get(kCBits);
    if (n == 0) {
        UINT32 single = in.Get(kCBits);
        if (single >= kNC) return false;
        d.c.SetSingle(static_cast<UINT16>(single));
        return true;
    }
    if (n > kNC) return false;
    memset(d.c.length, 0, sizeof(d.c.length));
    UINT32 i = 0;
    while (i < n) {
        in.Refill();
        UINT32 k = d.t.Decode(in);
        if (k <= 2) {
            UINT32 zeros = 1;
            if (k == 1) zeros = in.Get(4) + 3;
            if (k == 2) zeros = in.Get(kCBits) + 20;
            if (i + zeros > kNC) return false;
            i += zeros;
        } else {
            d.c.length[i++] = static_cast<UINT8>(k - 2);
        }
    }
    return d.c.Build();
}

bool ReadBlockHead(Decoder& d, UINT32& symbols) {
    symbols = d.in.Get(16);
    if (symbols == 0) symbols = 0x10000;  // the 16-bit count wraps
    return ReadSmallCode(d.in, d.t, kNT, kTBits, 3) && ReadLiteralLengthCode(d) &&
           ReadSmallCode(d.in, d.p, kNP, kPBits, 0);
}

UINT32 ReadLE32(const UINT8* p) {
    return static_cast<UINT32>(p[0]) | static_cast<UINT32>(p[1]) << 8 | static_cast<UINT32>(p[2]) << 16 |
           static_cast<UINT32>(p[3]) << 24;
}

bool Decode(Decoder& d, UINT8* out, UINT32 size) {
    UINT8* const begin = out;
    UINT8* const end = out + size;
    UINT32 blockLeft = 0;
    while (out < end) {
        if (blockLeft == 0 && !ReadBlockHead(d, blockLeft)) return false;
        --blockLeft;
        d.in.Refill();  // enough for a symbol, a position and its extra bits
        UINT32 sym = d.c.Decode(d.in);
        if (sym < 256) {
            *out++ = static_cast<UINT8>(sym);
            continue;
        }
        UINT32 length = sym - kMatchBias;
        UINT32 pos = d.p.Decode(d.in);
        if (pos > 1) pos = (1u << (pos - 1)) + d.in.Get(pos - 1);
        size_t distance = static_cast<size_t>(pos) + 1;
        size_t room = static_cast<size_t>(end - out);
        if (length > room) length = static_cast<UINT32>(room);
        size_t written = static_cast<size_t>(out - begin);
        if (distance > written) {
            // Before the start of the output: the cleared window's zeros.
            size_t zeros = distance - written;
            if (zeros > length) zeros = length;
            memset(out, 0, zeros);
            out += zeros;
            length -= static_cast<UINT32>(zeros);
        }
        const UINT8* from = out - distance;
        if (distance >= length) {
            memcpy(out, from, length);
            out += length;
        } else {
            for (UINT32 i = 0; i < length; ++i) out[i] = from[i];
            out += length;
        }
    }
    return true;
}

}  // namespace

UINT32 rom_uncompress(UINT8* destination, UINT32 capacity, const UINT8* source, UINT32 sourceLength) {
    if (source == nullptr || sourceLength < 8) return 0;
    UINT32 streamLength = ReadLE32(source);
    UINT32 unpacked = ReadLE32(source + 4);
    if (streamLength < 8 || streamLength > sourceLength) return 0;
    if (unpacked == 0 || unpacked > ROM_UNCOMPRESS_MAX_SIZE || unpacked > capacity || destination == nullptr) return 0;

    static Decoder d;  // about 16 KiB of tables: kept off the stack
    memset(&d.in, 0, sizeof(d.in));
    d.in.next = source + 8;
    d.in.end = source + streamLength;
    if (!Decode(d, destination, unpacked)) return 0;
    return unpacked;
}
