// The decoder: round trips through the test encoder on varied data, an
// independent check of the encoder by the lhasa archiver, hand-made streams
// for each malformed case, and mutated streams under guard pages.
#include <gtest/gtest.h>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <sys/wait.h>
#include "GuardedBuffer.h"
#include "RomCompressor.h"
#include "TKXDecompress.h"

namespace {

using romz::BitWriter;

std::string Random(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (auto& ch : s) ch = static_cast<char>(rng() & 0xFF);
    return s;
}

std::string Text(size_t n, uint32_t seed) {
    static const char* const words[] = {"flash", "block", "region", "boot", "main", "nvram", "image", "the",
                                         "of", "firmware", "volume", "checksum", "update", "\n", "  ", "0x1F"};
    std::mt19937 rng(seed);
    std::string s;
    while (s.size() < n) {
        s += words[rng() % 16];
        s += ' ';
    }
    s.resize(n);
    return s;
}

// Every byte value equally often: a literal-only encoding has 256 codes of 8 bits.
std::string EvenBytes(size_t rounds, uint32_t seed) {
    std::mt19937 rng(seed);
    std::string s;
    for (size_t r = 0; r < rounds; ++r) {
        std::string round(256, '\0');
        for (int i = 0; i < 256; ++i) round[static_cast<size_t>(i)] = static_cast<char>(i);
        std::shuffle(round.begin(), round.end(), rng);
        s += round;
    }
    return s;
}

// Decodes under guard pages with exactly the unpacked size as capacity.
std::string Decode(const std::string& stream, uint32_t capacity, uint32_t* result = nullptr) {
    GuardedBuffer src(stream);
    GuardedBuffer dst(capacity);
    uint32_t n = rom_uncompress(dst.data(), capacity, src.data(), static_cast<uint32_t>(stream.size()));
    if (result != nullptr) *result = n;
    return dst.str().substr(0, n);
}

std::string Stream(const std::string& bits, uint32_t unpacked) {
    std::string s(8, '\0');
    romz::PutLE32(s, 0, static_cast<uint32_t>(bits.size() + 8));
    romz::PutLE32(s, 4, unpacked);
    return s + bits;
}

struct Sample {
    const char* name;
    std::string data;
    romz::Options options;
};

std::vector<Sample> Corpus() {
    std::vector<Sample> c;
    romz::Options literals;
    literals.matches = false;
    romz::Options small;
    small.blockSymbols = 97;
    romz::Options deep;
    deep.maxChain = 4096;
    std::string edge = Random(8192, 7);
    std::string crossing = Random(8000, 8) + edge + edge.substr(0, 3000) + edge + std::string(9000, 'Z');
    c.push_back({"text", Text(50000, 1), {}});
    c.push_back({"random", Random(40000, 2), {}});
    c.push_back({"zeros", std::string(100000, '\0'), {}});
    c.push_back({"zero runs", Random(3000, 3) + std::string(30000, '\0') + Random(500, 4) + std::string(17, '\0'), {}});
    c.push_back({"crossing 8 KiB edges", crossing, deep});
    c.push_back({"one byte", "Q", {}});
    c.push_back({"two bytes", "QQ", {}});
    c.push_back({"several blocks", Text(30000, 5), small});
    c.push_back({"one symbol per block", Text(300, 6), [] { romz::Options o; o.blockSymbols = 1; return o; }()});
    c.push_back({"literals only", Text(20000, 9), literals});
    c.push_back({"one literal repeated", std::string(5000, 'A'), literals});
    c.push_back({"even bytes", EvenBytes(40, 10), literals});
    c.push_back({"long text", Text(300000, 11), deep});
    return c;
}

TEST(RomUncompress, RoundTripsEveryTableForm) {
    romz::Stats total;
    for (const Sample& s : Corpus()) {
        romz::Stats st;
        std::string stream = romz::Compress(s.data, s.options, &st);
        uint32_t n = 0;
        std::string back = Decode(stream, static_cast<uint32_t>(s.data.size()), &n);
        EXPECT_EQ(n, s.data.size()) << s.name;
        EXPECT_TRUE(back == s.data) << s.name;
        total.tExplicit += st.tExplicit;
        total.tSingle += st.tSingle;
        total.cExplicit += st.cExplicit;
        total.cSingle += st.cSingle;
        total.pExplicit += st.pExplicit;
        total.pSingle += st.pSingle;
        total.blocks += st.blocks;
        total.matches += st.matches;
    }
    // The corpus exercises both forms of each of the three tables.
    EXPECT_GT(total.tExplicit, 0u);
    EXPECT_GT(total.tSingle, total.cSingle) << "a single code-length symbol beside an explicit literal code";
    EXPECT_GT(total.cExplicit, 0u);
    EXPECT_GT(total.cSingle, 0u);
    EXPECT_GT(total.pExplicit, 0u);
    EXPECT_GT(total.pSingle, 0u);
    EXPECT_GT(total.blocks, 100u);
    EXPECT_GT(total.matches, 1000u);
}

TEST(RomUncompress, CompressesWhatRepeats) {
    std::string data = Text(100000, 12);
    EXPECT_LT(romz::Compress(data).size(), data.size() / 3);
    EXPECT_LT(romz::Compress(std::string(100000, '\0')).size(), 2000u);
}

TEST(RomUncompress, HeaderFraming) {
    std::string data = Text(5000, 13);
    std::string stream = romz::Compress(data);
    std::vector<uint8_t> out(data.size() + 16, 0xEE);
    auto run = [&](const std::string& s, uint32_t capacity) {
        return rom_uncompress(out.data(), capacity, reinterpret_cast<const uint8_t*>(s.data()),
                              static_cast<uint32_t>(s.size()));
    };
    const uint32_t size = static_cast<uint32_t>(data.size());
    EXPECT_EQ(run(stream, size), size);
    EXPECT_EQ(run(stream, size - 1), 0u) << "capacity below the unpacked size";
    EXPECT_EQ(run(stream.substr(0, stream.size() - 1), size), 0u) << "stream length beyond the source";
    EXPECT_EQ(run(stream.substr(0, 7), size), 0u) << "no room for the header";
    for (uint32_t bad : {0u, 1u, 7u}) {
        std::string s = stream;
        romz::PutLE32(s, 0, bad);
        EXPECT_EQ(run(s, size), 0u) << "stream length " << bad;
    }
    std::string zero = stream;
    romz::PutLE32(zero, 4, 0);
    std::fill(out.begin(), out.end(), 0xEE);
    EXPECT_EQ(run(zero, size), 0u) << "nothing to unpack";
    EXPECT_EQ(out[0], 0xEE) << "and nothing written";
    EXPECT_EQ(rom_uncompress(out.data(), size, nullptr, 100), 0u);
    EXPECT_EQ(rom_uncompress(nullptr, size, reinterpret_cast<const uint8_t*>(stream.data()),
                             static_cast<uint32_t>(stream.size())),
              0u);

    // Bytes after the stated stream length are not read: garbage there is harmless.
    std::string tail = stream + std::string(64, '\xFF');
    std::fill(out.begin(), out.end(), 0);
    EXPECT_EQ(run(tail, size), size);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out.data()), size), data);
}

TEST(RomUncompress, SizeCapAndWrappingSizesRefusedBeforeWriting) {
    // Unpacked sizes past the cap (and one that would wrap a caller's
    // "size + 0x8000") are refused even when the caller claims the room.
    GuardedBuffer dst(16);
    for (uint32_t unpacked : {ROM_UNCOMPRESS_MAX_SIZE + 1, 0xFFFFFFFFu, 0xFFFF9000u}) {
        std::string s = Stream("", unpacked);
        GuardedBuffer src(s);
        EXPECT_EQ(rom_uncompress(dst.data(), 0xFFFFFFFFu, src.data(), static_cast<uint32_t>(s.size())), 0u);
    }
}

TEST(RomUncompress, StreamWithoutBitsDecodesAsZeroBits) {
    // An all-zero bit stream uses only the single-symbol forms: literal 0.
    uint32_t n = 0;
    std::string out = Decode(Stream("", 20000), 20000, &n);
    EXPECT_EQ(n, 20000u);
    EXPECT_EQ(out, std::string(20000, '\0'));
    EXPECT_EQ(Decode(Stream(std::string(40, '\0'), 300), 300), std::string(300, '\0'));
}

TEST(RomUncompress, EfiStyleHeaderLosesItsLastEightBytes) {
    // A stream whose first field leaves out the 8 header bytes: the last 8
    // bytes of its bit stream are not read, zeros are read in their place.
    std::string data = Text(3000, 14);
    std::string bits = romz::CompressBits(data) + std::string(8, '\0');
    std::string efi = Stream(bits, static_cast<uint32_t>(data.size()));
    romz::PutLE32(efi, 0, static_cast<uint32_t>(bits.size()));
    EXPECT_EQ(Decode(efi, static_cast<uint32_t>(data.size())), data);
    std::string garbage = efi;
    for (size_t i = garbage.size() - 8; i < garbage.size(); ++i) garbage[i] = '\xA5';
    EXPECT_EQ(Decode(garbage, static_cast<uint32_t>(data.size())), data);
}

// A block whose literal/length code holds 'A' and the 3-byte match (codes 0
// and 1), with a single position symbol 5 (16 + 4 extra bits).
std::string TwoSymbolBlock(uint32_t literals, uint32_t extra) {
    BitWriter w;
    w.Put(16, literals + 1);
    // Code-length code: symbols 2 (zero run 20+) and 3 (length 1), one bit each.
    w.Put(5, 4);
    w.Put(3, 0);
    w.Put(3, 0);
    w.Put(3, 1);
    w.Put(2, 0);
    w.Put(3, 1);
    w.Put(9, 257);
    w.Put(1, 0);
    w.Put(9, 65 - 20);
    w.Put(1, 1);  // 'A' has length 1
    w.Put(1, 0);
    w.Put(9, 190 - 20);
    w.Put(1, 1);  // 256 has length 1
    w.Put(4, 0);
    w.Put(4, 5);
    for (uint32_t i = 0; i < literals; ++i) w.Put(1, 0);
    w.Put(1, 1);
    w.Put(4, extra);
    return w.Finish();
}

TEST(RomUncompress, MatchesBeforeTheStartCopyZeros) {
    // 20 literals, then 3 bytes from 21 back: one zero, then "AA".
    EXPECT_EQ(Decode(Stream(TwoSymbolBlock(20, 4), 23), 23), std::string(20, 'A') + std::string("\0AA", 3));
    // Wholly before the start.
    EXPECT_EQ(Decode(Stream(TwoSymbolBlock(2, 15), 5), 5), std::string("AA\0\0\0", 5));
    // A match longer than the output still wanted is cut at the unpacked size.
    EXPECT_EQ(Decode(Stream(TwoSymbolBlock(20, 0), 21), 21), std::string(20, 'A') + "A");
}

// Streams that are malformed in one way each; every one decodes to nothing.
std::vector<std::pair<const char*, std::string>> MalformedBlocks() {
    std::vector<std::pair<const char*, std::string>> cases;
    auto add = [&](const char* name, const std::function<void(BitWriter&)>& body) {
        BitWriter w;
        w.Put(16, 1);
        body(w);
        w.Put(32, 0);
        cases.push_back({name, w.Finish()});
    };
    // Code-length code.
    add("code-length count 20", [](BitWriter& w) { w.Put(5, 20); });
    add("code-length count 31", [](BitWriter& w) { w.Put(5, 31); });
    add("single code-length symbol 19", [](BitWriter& w) { w.Put(5, 0); w.Put(5, 19); });
    add("code length 17", [](BitWriter& w) { w.Put(5, 2); w.Put(3, 7); w.Put(11, 0x7FE); w.Put(3, 1); });
    add("code length 20 with ones to spare", [](BitWriter& w) { w.Put(5, 1); w.Put(32, 0xFFFFFFFF); });
    add("incomplete code-length code", [](BitWriter& w) { w.Put(5, 2); w.Put(3, 2); w.Put(3, 2); });
    add("over-subscribed code-length code", [](BitWriter& w) {
        w.Put(5, 3); w.Put(3, 1); w.Put(3, 1); w.Put(3, 1); w.Put(2, 0);
    });
    add("code-length code of zeros only", [](BitWriter& w) { w.Put(5, 2); w.Put(3, 0); w.Put(3, 0); });
    // Literal/length code (the code-length code is a single symbol, 0 bits each).
    add("literal count 511", [](BitWriter& w) { w.Put(5, 0); w.Put(5, 3); w.Put(9, 511); });
    add("single literal symbol 510", [](BitWriter& w) { w.Put(5, 0); w.Put(5, 0); w.Put(9, 0); w.Put(9, 510); });
    add("single literal symbol 511", [](BitWriter& w) { w.Put(5, 0); w.Put(5, 0); w.Put(9, 0); w.Put(9, 511); });
    add("over-subscribed literal code", [](BitWriter& w) { w.Put(5, 0); w.Put(5, 3); w.Put(9, 3); });
    add("incomplete literal code", [](BitWriter& w) { w.Put(5, 0); w.Put(5, 4); w.Put(9, 2); });
    add("literal code of two 16-bit lengths", [](BitWriter& w) { w.Put(5, 0); w.Put(5, 18); w.Put(9, 2); });
    add("zero run past the alphabet", [](BitWriter& w) { w.Put(5, 0); w.Put(5, 2); w.Put(9, 510); w.Put(9, 511); });
    add("short zero run past the alphabet", [](BitWriter& w) {
        w.Put(5, 0); w.Put(5, 1); w.Put(9, 510);
        for (int i = 0; i < 40; ++i) w.Put(4, 15);
    });
    // Position code, after a valid two-symbol literal code.
    auto validLiterals = [](BitWriter& w) { w.Put(5, 0); w.Put(5, 3); w.Put(9, 2); };
    add("position count 15", [&](BitWriter& w) { validLiterals(w); w.Put(4, 15); });
    add("single position symbol 14", [&](BitWriter& w) { validLiterals(w); w.Put(4, 0); w.Put(4, 14); });
    add("single position symbol 15", [&](BitWriter& w) { validLiterals(w); w.Put(4, 0); w.Put(4, 15); });
    add("incomplete position code", [&](BitWriter& w) { validLiterals(w); w.Put(4, 1); w.Put(3, 1); });
    add("over-subscribed position code", [&](BitWriter& w) {
        validLiterals(w); w.Put(4, 3); w.Put(3, 1); w.Put(3, 1); w.Put(3, 1);
    });
    add("position length 17", [&](BitWriter& w) { validLiterals(w); w.Put(4, 2); w.Put(14, 0x3FFE); w.Put(3, 1); });
    return cases;
}

TEST(RomUncompress, MalformedTablesDecodeToNothing) {
    for (const auto& c : MalformedBlocks()) {
        uint32_t n = 99;
        Decode(Stream(c.second, 64), 64, &n);
        EXPECT_EQ(n, 0u) << c.first;
    }
    // The valid neighbour of the position cases decodes: literals 0 and 1.
    BitWriter w;
    w.Put(16, 3);
    w.Put(5, 0);
    w.Put(5, 3);
    w.Put(9, 2);
    w.Put(4, 0);
    w.Put(4, 13);
    w.Put(3, 0b010);
    EXPECT_EQ(Decode(Stream(w.Finish(), 3), 3), std::string("\0\x01\0", 3));
}

TEST(RomUncompress, MutatedStreamsStayInsideTheirBuffers) {
    // Any damage gives either the full size or nothing; guard pages on both
    // sides of source and destination turn a stray access into a crash.
    std::mt19937 rng(20240611);
    std::vector<std::string> seeds = {romz::Compress(Text(6000, 15)), romz::Compress(Random(3000, 16)),
                                      romz::Compress(std::string(9000, '\0') + Text(500, 17))};
    for (int round = 0; round < 3000; ++round) {
        const std::string& seed = seeds[static_cast<size_t>(round) % seeds.size()];
        std::string s = seed;
        uint32_t unpacked = romz::GetLE32(seed, 4);
        int edits = 1 + static_cast<int>(rng() % 4);
        for (int e = 0; e < edits; ++e) {
            size_t at = 8 + rng() % (s.size() - 8);
            switch (rng() % 3) {
                case 0: s[at] = static_cast<char>(s[at] ^ (1 << (rng() % 8))); break;
                case 1: s[at] = static_cast<char>(rng()); break;
                default: s.resize(at); romz::PutLE32(s, 0, static_cast<uint32_t>(s.size())); break;
            }
            if (s.size() <= 8) break;
        }
        bool atEnd = (round & 1) == 0;
        GuardedBuffer src(s, atEnd);
        GuardedBuffer dst(unpacked, atEnd);
        uint32_t n = rom_uncompress(dst.data(), unpacked, src.data(), static_cast<uint32_t>(s.size()));
        EXPECT_TRUE(n == 0 || n == unpacked) << "round " << round;
    }
}

// ---- The lhasa archiver as an independent decoder of the bit stream ----

uint16_t Crc16(const std::string& data) {
    uint16_t crc = 0;
    for (unsigned char ch : data) {
        crc ^= ch;
        for (int i = 0; i < 8; ++i) crc = (crc & 1) != 0 ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
    }
    return crc;
}

// A level-0 archive holding one "-lh5-" member.
std::string Lh5Archive(const std::string& name, const std::string& data, const std::string& bits) {
    std::string h;
    h += "-lh5-";
    std::string sizes(8, '\0');
    romz::PutLE32(sizes, 0, static_cast<uint32_t>(bits.size()));
    romz::PutLE32(sizes, 4, static_cast<uint32_t>(data.size()));
    h += sizes;
    h += std::string("\x00\x00\x21\x58", 4);  // DOS time stamp
    h += '\x20';                               // attribute
    h += '\x00';                               // header level
    h += static_cast<char>(name.size());
    h += name;
    uint16_t crc = Crc16(data);
    h += static_cast<char>(crc & 0xFF);
    h += static_cast<char>(crc >> 8);
    uint8_t sum = 0;
    for (unsigned char ch : h) sum = static_cast<uint8_t>(sum + ch);
    std::string archive;
    archive += static_cast<char>(h.size());
    archive += static_cast<char>(sum);
    return archive + h + bits + std::string(1, '\0');
}

TEST(RomCompressor, LhasaAcceptsTheBitStream) {
    ASSERT_EQ(system("command -v lha >/dev/null 2>&1"), 0) << "the lhasa archiver (lha) is needed";
    const char* base = getenv("TMPDIR");
    std::string dir = std::string(base != nullptr ? base : "/tmp") + "/yoz-lha-XXXXXX";
    ASSERT_NE(mkdtemp(&dir[0]), nullptr);
    int index = 0;
    for (const Sample& s : Corpus()) {
        std::string name = "m" + std::to_string(index++) + ".bin";
        std::string archive = Lh5Archive(name, s.data, romz::CompressBits(s.data, s.options));
        std::string path = dir + "/" + name + ".lzh";
        FILE* f = fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        fwrite(archive.data(), 1, archive.size(), f);
        fclose(f);
        std::string cmd = "lha t '" + path + "' 2>&1";
        FILE* p = popen(cmd.c_str(), "r");
        ASSERT_NE(p, nullptr);
        std::string out;
        char buf[4096];
        size_t k;
        while ((k = fread(buf, 1, sizeof(buf), p)) > 0) out.append(buf, k);
        int status = pclose(p);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << s.name << ": " << out;
        EXPECT_NE(out.find("Tested"), std::string::npos) << s.name << ": " << out;
        EXPECT_EQ(out.find("CRC error"), std::string::npos) << s.name << ": " << out;
    }
    // A damaged member is caught, so the check above has teeth.
    std::string data = Text(4000, 18);
    std::string bits = romz::CompressBits(data);
    bits[bits.size() / 2] = static_cast<char>(bits[bits.size() / 2] ^ 0x10);
    std::string path = dir + "/bad.lzh";
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::string archive = Lh5Archive("bad.bin", data, bits);
    fwrite(archive.data(), 1, archive.size(), f);
    fclose(f);
    std::string cmd = "lha t '" + path + "' >/dev/null 2>&1";
    EXPECT_NE(system(cmd.c_str()), 0);
    EXPECT_EQ(system(("rm -rf '" + dir + "'").c_str()), 0);
}

}  // namespace
