// The piece plan of an ME area: 64 KiB pieces cut from a base address on
// the ME-request route, whole flash blocks on the block route.
#include <gtest/gtest.h>
#include <cstring>
#include <vector>
#include "RomInfo.h"
#include "YozMeStages.h"

namespace {

struct Piece {
    UINT32 address, size;
    bool operator==(const Piece& o) const { return address == o.address && size == o.size; }
};

std::ostream& operator<<(std::ostream& os, const Piece& p) {
    return os << std::hex << "{0x" << p.address << ", 0x" << p.size << "}";
}

std::vector<Piece> Plan(UINT32 base, UINT32 from, UINT32 to, const sROMInfo* blocks = nullptr) {
    UINT32 count = YOZ_ME_PlanPieces(base, from, to, blocks, nullptr, 0);
    std::vector<YOZ_ME_PIECE> out(count + 1, YOZ_ME_PIECE{0xEEEEEEEE, 0xEEEEEEEE});
    EXPECT_EQ(YOZ_ME_PlanPieces(base, from, to, blocks, out.data(), count), count);
    EXPECT_EQ(out[count].Address, 0xEEEEEEEEu) << "nothing is written past the room";
    std::vector<Piece> pieces;
    for (UINT32 i = 0; i < count; ++i) pieces.push_back(Piece{out[i].Address, out[i].Size});
    return pieces;
}

TEST(MePiecePlan, CutAtMultiplesOf64KiBFromTheBase) {
    struct Case {
        UINT32 base, from, to;
        std::vector<Piece> pieces;
    };
    const std::vector<Case> cases = {
        {0, 0x1000, 0x20000, {{0x1000, 0xF000}, {0x10000, 0x10000}}},
        {0, 0x1000, 0x8000, {{0x1000, 0x7000}}},              // ends before the first boundary
        {0, 0x11000, 0x20000, {{0x11000, 0xF000}}},           // starts behind it
        {0, 0x10000, 0x10001, {{0x10000, 1}}},
        {0, 0, 0x30000, {{0, 0x10000}, {0x10000, 0x10000}, {0x20000, 0x10000}}},
        {0x1000, 0x1000, 0x20000, {{0x1000, 0x10000}, {0x11000, 0xF000}}},  // the ignition area's own start
        {0x1000, 0, 0x2000, {{0, 0x1000}, {0x1000, 0x1000}}},
        {0, 0xFFFF0000, 0xFFFFFFFF, {{0xFFFF0000, 0xFFFF}}},  // the top of the address space
        {0, 0x20000, 0x20000, {}},
        {0, 0x30000, 0x20000, {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Plan(c.base, c.from, c.to), c.pieces) << std::hex << c.base << " " << c.from << " " << c.to;
    }
}

// A block table in the program's 9-byte entries.
std::vector<UINT8> Table(const std::vector<std::pair<UINT32, UINT32>>& blocks) {
    std::vector<UINT8> raw(ROM_INFO_HEAD_SIZE + blocks.size() * sizeof(sBlockInfo));
    sROMInfo* info = reinterpret_cast<sROMInfo*>(raw.data());
    info->BlockCount = static_cast<UINT16>(blocks.size());
    for (size_t i = 0; i < blocks.size(); ++i) {
        sBlockInfo entry = {blocks[i].first, blocks[i].second, 1};
        memcpy(raw.data() + ROM_INFO_HEAD_SIZE + i * sizeof(sBlockInfo), &entry, sizeof(entry));
    }
    return raw;
}

TEST(MePiecePlan, BlockRouteTakesWholeBlocks) {
    std::vector<UINT8> raw = Table({{0, 0x10000}, {0x10000, 0x10000}, {0x20000, 0x20000}});
    const sROMInfo* blocks = reinterpret_cast<const sROMInfo*>(raw.data());
    EXPECT_EQ(Plan(0, 0x1000, 0x20000, blocks), (std::vector<Piece>{{0, 0x10000}, {0x10000, 0x10000}}));
    EXPECT_EQ(Plan(0, 0x1000, 0x21000, blocks),
              (std::vector<Piece>{{0, 0x10000}, {0x10000, 0x10000}, {0x20000, 0x20000}}));
    EXPECT_EQ(Plan(0, 0x30000, 0x30001, blocks), (std::vector<Piece>{{0x20000, 0x20000}}));
    EXPECT_TRUE(Plan(0, 0x1000, 0x40001, blocks).empty()) << "past the table";
    EXPECT_TRUE(Plan(0, 0x10000, 0x10000, blocks).empty());

    std::vector<UINT8> gap = Table({{0, 0x10000}, {0x20000, 0x10000}});
    EXPECT_TRUE(Plan(0, 0x8000, 0x28000, reinterpret_cast<const sROMInfo*>(gap.data())).empty())
        << "a range the blocks do not cover";
    EXPECT_EQ(Plan(0, 0x20000, 0x28000, reinterpret_cast<const sROMInfo*>(gap.data())),
              (std::vector<Piece>{{0x20000, 0x10000}}));
}

}  // namespace
