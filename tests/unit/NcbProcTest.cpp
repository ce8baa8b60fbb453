// The non-critical block processors: which blocks their do-it lists mark,
// and how the chosen blocks are taken from an image or from a file of block
// data only.
#include <gtest/gtest.h>
#include <vector>
#include "RomInfo.h"
#include "RomModelKit.h"
#include "YozNcbProc.h"
#include "YozSysRom.h"

namespace {

using romimg::Bytes;
const uint32_t kBlock = 0x1000;

void UseLayout(const std::vector<romimg::BlockRun>& runs) {
    romkit::SetBlocks(runs);
    YOZ_SysRom_GetBlockInfo();
}

std::vector<UINT8> Chosen(std::initializer_list<int> numbers) {
    std::vector<UINT8> chosen(YOZ_MAX_NCB, 0);
    for (int n : numbers) chosen[n] = 1;
    return chosen;
}

TEST(NcbProc, DoItListsMarkNonCriticalBlocksByTheFirstBlockOfTheirType) {
    // Blocks: main, 0x81, 0x80, 0x81, 0x81, boot; the system's list holds
    // 0x81, 0x80 and 0x81 again (a second run of the same type).
    UseLayout({{1, kBlock, 1}, {1, kBlock, 0x81}, {1, kBlock, 0x80}, {2, kBlock, 0x81}, {1, kBlock, 0}});
    ASSERT_EQ(YOZ_SysRom_GetNCBNumber(), 3);
    std::vector<UINT8> map(6, 7);
    EXPECT_EQ(NBF_Proc_MakeDoItList(map.data()), 4 * kBlock);
    EXPECT_EQ(map, (std::vector<UINT8>{0, 2, 2, 2, 2, 0}));

    struct Case {
        std::vector<UINT8> chosen;
        uint32_t total;
        std::vector<UINT8> map;
    };
    for (const Case& c : std::vector<Case>{{Chosen({0}), 3 * kBlock, {0, 2, 0, 2, 2, 0}},
                                           {Chosen({1}), kBlock, {0, 0, 2, 0, 0, 0}},
                                           {Chosen({2}), 0, {0, 0, 0, 0, 0, 0}},  // its blocks belong to block 0
                                           {Chosen({}), 0, {0, 0, 0, 0, 0, 0}}}) {
        std::vector<UINT8> m(6, 7);
        EXPECT_EQ(NBN_Proc_MakeDoItList(m.data(), const_cast<UINT8*>(c.chosen.data())), c.total);
        EXPECT_EQ(m, c.map);
    }

    // No non-critical block at all.
    UseLayout(romimg::SampleBlocks());
    std::vector<UINT8> none(16, 7);
    EXPECT_EQ(NBF_Proc_MakeDoItList(none.data()), 0u);
    EXPECT_EQ(none, std::vector<UINT8>(16, 0));
}

TEST(NcbProc, ChosenBlocksComeFromTheImageOrFillTheFirstChosenOneFromAFile) {
    // Block 0: two blocks of type 0x80; block 1: one of type 0x81.
    UseLayout({{1, kBlock, 1}, {2, kBlock, 0x80}, {1, kBlock, 0x81}});
    const Bytes system = romimg::Pattern(4 * kBlock, 1);
    Bytes image = romimg::Pattern(4 * kBlock, 2);
    std::vector<UINT8> both = Chosen({0, 1});

    gNBN_UseBinFile = 0;
    Bytes copy = system;
    ASSERT_EQ(NBN_Proc_FileRHToFlashBuff(copy.data(), image.data(), 4 * kBlock, both.data()), 1);
    Bytes expected = system;
    std::copy(image.begin() + kBlock, image.end(), expected.begin() + kBlock);
    EXPECT_EQ(copy, expected);
    EXPECT_EQ(NBN_Proc_FileRHToFlashBuff(copy.data(), image.data(), 3 * kBlock, both.data()), 0)
        << "a block beyond the image";
    EXPECT_EQ(NBN_Proc_FileRHToFlashBuff(copy.data(), nullptr, 0, both.data()), 0);

    // A block and a half of data: the first block whole, the next one's
    // first half; block 1 is left although chosen.
    gNBN_UseBinFile = 1;
    Bytes data = romimg::Pattern(kBlock + kBlock / 2, 3);
    copy = system;
    ASSERT_EQ(NBN_Proc_FileRHToFlashBuff(copy.data(), data.data(), static_cast<UINT32>(data.size()), both.data()), 1);
    expected = system;
    std::copy(data.begin(), data.end(), expected.begin() + kBlock);
    EXPECT_EQ(copy, expected);
    gNBN_UseBinFile = 0;
}

}  // namespace
