// The bounded forward search of the ROM models: the first match at or after
// the start offset, never one that would reach past the buffer, and the same
// answer where the pattern's first byte fills the data (the search then
// leaves the rest to a linear scan). And the walk over a volume's files
// that every volume walker uses: where it stands and where it stops.
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "RomScan.h"
#include "YozFvLayout.h"

namespace {

// The answer by definition: the lowest offset in [from, size - length].
UINT32 Expected(const std::vector<UINT8>& data, UINT32 from, const std::string& pattern) {
    for (size_t at = from; at + pattern.size() <= data.size(); ++at)
        if (std::string(data.begin() + at, data.begin() + at + pattern.size()) == pattern) return static_cast<UINT32>(at);
    return ROMSCAN_NONE;
}

std::vector<UINT8> Bytes(const std::string& s) { return std::vector<UINT8>(s.begin(), s.end()); }

TEST(RomScanFind, FirstMatchAtOrAfterTheStart) {
    struct Case {
        const char* name;
        std::vector<UINT8> data;
        UINT32 from;
        std::string pattern;
    };
    std::vector<UINT8> fidAtEnd(0x20000, 0xFF);
    std::copy(std::begin("$FID"), std::begin("$FID") + 4, fidAtEnd.end() - 4);
    std::vector<UINT8> dollars(0x40000, '$');  // the first byte everywhere: far past the miss budget
    std::copy(std::begin("$FID"), std::begin("$FID") + 4, dollars.begin() + 0x3F000);
    std::vector<UINT8> dollarsOnly(0x40000, '$');
    const Case cases[] = {
        {"at the start", Bytes("$FIDxx"), 0, "$FID"},
        {"second of two", Bytes("$FID..$FID"), 1, "$FID"},
        {"start inside the first", Bytes("$FID$FID"), 2, "$FID"},
        {"near misses first", Bytes("$FI.$F.$$FID"), 0, "$FID"},
        {"at the very end", fidAtEnd, 0, "$FID"},
        {"would reach past the end", Bytes("....$FI"), 0, "$FID"},
        {"one byte", Bytes("abcabc"), 2, "a"},
        {"absent", Bytes("no such thing here"), 0, "$FID"},
        {"first byte everywhere", dollars, 5, "$FID"},
        {"first byte everywhere, no match", dollarsOnly, 0, "$FID"},
    };
    for (const Case& c : cases) {
        UINT32 want = Expected(c.data, c.from, c.pattern);
        EXPECT_EQ(RomScan_Find(c.data.data(), static_cast<UINT32>(c.data.size()), c.from, c.pattern.data(),
                               static_cast<UINT32>(c.pattern.size())),
                  want)
            << c.name;
    }
    EXPECT_EQ(Expected(dollars, 5, "$FID"), 0x3F000u) << "the long case has its match where it was put";
}

// Sixteen places are compared at once by the pattern's first and last bytes:
// a match at every place around those sixteen-byte steps and at the very
// end, patterns whose ends recur in the data (candidates that are no match,
// enough of them to exhaust the miss budget), and a two-byte pattern.
TEST(RomScanFind, EveryPlaceAroundTheSixteenByteSteps) {
    const std::string guid("\xEF\x1D\x8B\x9F\x2B\xB6\xF3\x45\x82\x82\xBF\xD7\xEA\x19\x80\x1B", 16);
    std::vector<UINT8> noise(0x400);
    UINT32 seed = 11;
    for (UINT8& b : noise) b = static_cast<UINT8>((seed = seed * 1103515245u + 12345u) >> 16);
    for (const std::string& pattern : {guid, std::string("$FID"), std::string("\xEF\x1B", 2)}) {
        for (UINT32 at = 0; at + pattern.size() <= noise.size(); at += (at < 0x60 || at > 0x3A0) ? 1 : 13) {
            std::vector<UINT8> data = noise;
            std::copy(pattern.begin(), pattern.end(), data.begin() + at);
            for (UINT32 from : {0u, 1u, at}) {
                if (from > at) continue;
                EXPECT_EQ(RomScan_Find(data.data(), static_cast<UINT32>(data.size()), from, pattern.data(),
                                       static_cast<UINT32>(pattern.size())),
                          Expected(data, from, pattern))
                    << "pattern of " << pattern.size() << " at " << at << " from " << from;
            }
        }
    }
    // Ends that match everywhere: "aba" in data of "a", the match near the
    // end, far past the miss budget.
    std::vector<UINT8> ends(0x30000, 'a');
    ends[ends.size() - 0x10] = 'b';
    const std::string aba("aba");
    EXPECT_EQ(RomScan_Find(ends.data(), static_cast<UINT32>(ends.size()), 0, "aba", 3), Expected(ends, 0, aba));
    EXPECT_EQ(Expected(ends, 0, aba), ends.size() - 0x11);
}

TEST(RomScanFind, RefusesWhatCannotMatch) {
    std::vector<UINT8> data = Bytes("$FID$FID");
    EXPECT_EQ(RomScan_Find(nullptr, 8, 0, "$FID", 4), ROMSCAN_NONE);
    EXPECT_EQ(RomScan_Find(data.data(), 8, 0, "$FID", 0), ROMSCAN_NONE);
    EXPECT_EQ(RomScan_Find(data.data(), 8, 8, "$FID", 4), ROMSCAN_NONE);
    EXPECT_EQ(RomScan_Find(data.data(), 8, 5, "$FID", 4), ROMSCAN_NONE) << "only 3 bytes left";
    EXPECT_EQ(RomScan_Find(data.data(), 7, 0, "$FID", 4), 0u);
    EXPECT_EQ(RomScan_Find(data.data(), 7, 1, "$FID", 4), ROMSCAN_NONE) << "the size bounds the search";
}

// The offsets the walk stands at in a volume of `fvLength` bytes whose
// header is 0x48 bytes long and whose files have the given sizes, until it
// stops or a file's size does not fit.
std::vector<UINT32> Walk(UINT32 fvLength, const std::vector<UINT32>& sizes) {
    std::vector<UINT8> volume(fvLength + 0x40, 0xFF);
    volume[48] = 0x48;
    volume[49] = 0;
    UINT32 at = 0x48;
    for (UINT32 size : sizes) {
        if (at + YOZ_FFS_HEADER_SIZE > volume.size()) break;
        volume[at + 20] = static_cast<UINT8>(size);
        volume[at + 21] = static_cast<UINT8>(size >> 8);
        volume[at + 22] = static_cast<UINT8>(size >> 16);
        at += YOZ_FfsAlignedSize(size);
    }
    std::vector<UINT32> offsets;
    YOZ_FFS_CURSOR file;
    for (bool more = YOZ_FfsFirstFile(volume.data(), fvLength, &file); more && offsets.size() < 16;
         more = YOZ_FfsNextFile(&file)) {
        offsets.push_back(file.Offset);
        if (!YOZ_FfsSizeFits(&file, 0)) break;
    }
    return offsets;
}

TEST(FfsWalk, StandsOnlyAtWholeHeadersInsideTheVolume) {
    const struct {
        const char* what;
        UINT32 fvLength;
        std::vector<UINT32> sizes;
        std::vector<UINT32> offsets;
    } rows[] = {
        {"two files, then erased space", 0x200, {0x30, 0x19}, {0x48, 0x78, 0x98}},
        {"the last file ends at the volume's end", 0xA8, {0x30, 0x30}, {0x48, 0x78}},
        {"fewer than a header's bytes after the last file", 0xB0, {0x30, 0x30}, {0x48, 0x78}},
        {"a whole header just fits after the last file", 0xC0, {0x30, 0x30, 0x18}, {0x48, 0x78, 0xA8}},
        {"a size below a header stops the walk", 0x200, {0x30, 0x10, 0x30}, {0x48, 0x78}},
        {"a size of 0 stops the walk", 0x200, {0}, {0x48}},
        {"a file past the volume's end", 0x100, {0x30, 0x100}, {0x48, 0x78}},
        {"an aligned size one past the end", 0xA7, {0x30, 0x2F}, {0x48, 0x78}},
        {"no room for a header after the volume header", 0x5F, {}, {}},
        {"a header length past the volume", 0x40, {}, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(Walk(row.fvLength, row.sizes), row.offsets);
    }
}

}  // namespace
