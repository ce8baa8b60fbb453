// The emulated flash part's fault script and answer patches.
#include <gtest/gtest.h>
#include "EmuFlashSettings.h"
#include "EmuZoktFaults.h"

namespace {

TEST(EmuFaultScript, RulesTakeKindAddressOccurrencesAndAction) {
    std::vector<EmuFaultRule> rules;
    std::string error;
    ASSERT_TRUE(EmuFlashFaults_Parse("write@0x10000#2:keep;read#3+:corrupt;erase#2-4:2;open:3;info:keep;close:1",
                                     rules, error))
        << error;
    ASSERT_EQ(rules.size(), 6u);
    EXPECT_EQ(rules[0].Kind, "write");
    EXPECT_FALSE(rules[0].AnyAddress);
    EXPECT_EQ(rules[0].Address, 0x10000u);
    EXPECT_EQ(rules[0].From, 2u);
    EXPECT_EQ(rules[0].To, 2u);
    EXPECT_EQ(rules[0].Action, kEmuFaultKeep);
    EXPECT_TRUE(rules[1].AnyAddress);
    EXPECT_EQ(rules[1].From, 3u);
    EXPECT_EQ(rules[1].To, ~0ull);
    EXPECT_EQ(rules[1].Action, kEmuFaultCorrupt);
    EXPECT_EQ(rules[2].From, 2u);
    EXPECT_EQ(rules[2].To, 4u);
    EXPECT_EQ(rules[2].Action, kEmuFaultStatus);
    EXPECT_EQ(rules[2].Status, 2);
    EXPECT_EQ(rules[3].From, 1u) << "without #, every occurrence";
    EXPECT_EQ(rules[3].Status, 3);

    for (const char* bad : {"flash:keep", "write", "write:maybe", "write#0:keep", "write#3-2:keep", "write@x:keep",
                            "write:0x100"}) {
        EXPECT_FALSE(EmuFlashFaults_Parse(bad, rules, error)) << bad;
        EXPECT_NE(error.find("bad fault rule"), std::string::npos);
    }
    EXPECT_TRUE(EmuFlashFaults_Parse("", rules, error));
    EXPECT_TRUE(rules.empty());
}

TEST(EmuZoktFaultScript, RulesTakeTypeSubFunctionOccurrencesAndAction) {
    std::vector<EmuZoktFaultRule> rules;
    std::string error;
    ASSERT_TRUE(EmuZoktFaults_Parse("0x54/2#2:lost;0x55#3+:none;0x54/0x20#2-22:0x40;0x55/7:corrupt", rules, error));
    ASSERT_EQ(rules.size(), 4u);
    EXPECT_TRUE(rules[0].Type == 0x54 && !rules[0].AnySub && rules[0].Sub == 2 && rules[0].From == 2 && rules[0].To == 2);
    EXPECT_TRUE(rules[1].AnySub && rules[1].From == 3 && rules[1].To == ~0ull);
    EXPECT_EQ(rules[2].Status, 0x40);
    std::vector<EmuZoktFaultAction> actions;
    for (const EmuZoktFaultRule& r : rules) actions.push_back(r.Action);
    EXPECT_EQ(actions, (std::vector<EmuZoktFaultAction>{kEmuZoktFaultLost, kEmuZoktFaultSilent, kEmuZoktFaultStatus,
                                                        kEmuZoktFaultCorrupt}));
    ASSERT_TRUE(EmuZoktFaults_Parse("0x55/0x0a#5:status=0x1", rules, error));
    EXPECT_TRUE(rules[0].Action == kEmuZoktFaultRegionStatus && rules[0].Status == 1 && rules[0].From == 5);
    for (const char* bad : {"0x54", "0x54:maybe", "0x154:none", "0x54/0x100:none", "0x54#0:lost", "0x54:0x10000",
                            "0x54/2:corrupt", "0x55/6:corrupt", "0x55:status=1", "0x55/4:status=1", "0x54/2:status=1",
                            "0x55/0x0a:status=0x10000", "0x55/0x0a:status="})
        EXPECT_FALSE(EmuZoktFaults_Parse(bad, rules, error)) << bad;
}

TEST(EmuInfoPatches, OffsetsAndHexBytesInsideTheBuffer) {
    std::vector<EmuInfoPatch> patches;
    std::string error;
    ASSERT_TRUE(EmuInfoPatch_Parse("0x0c:00000000,6:ffFF", patches, error)) << error;
    ASSERT_EQ(patches.size(), 2u);
    EXPECT_EQ(patches[0].Offset, 0x0Cu);
    EXPECT_EQ(patches[0].Bytes, std::vector<UINT8>(4, 0));
    EXPECT_EQ(patches[1].Offset, 6u);
    EXPECT_EQ(patches[1].Bytes, std::vector<UINT8>(2, 0xFF));
    for (const char* bad : {"6", "6:f", "6:zz", "0x10fff:0000", "x:00"}) {
        EXPECT_FALSE(EmuInfoPatch_Parse(bad, patches, error)) << bad;
    }
}

}  // namespace
