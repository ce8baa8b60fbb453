// The mode-switch, usage-head, help and usage-foot modules in-process: the
// filter chosen from the platform flags and "/SM:n", the banner forms, the
// build suffix and the OEM help.
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "CaptureOut.h"
#include "HuxCoreHooks.h"
#include "YozOptionStore.h"
#include "YozSwitchMode.h"
#include "YozUsage.h"
#include "YozZozRecords.h"

namespace {

struct Modules : ::testing::Test {
    TKXQueueItemList items;
    std::vector<TKX_ARGV_ITEM*> made;
    TKXArgvList args;

    void SetUp() override {
        YOZ_Set_AllowHideCommandStatus(1);
        YOZ_InitGlobalLineCont();
        PrintUsageHelp = nullptr;
    }
    void TearDown() override {
        YOZ_SetBIMCisExist(0);
        YOZ_SetMLAP_FTF_isExist(0);
        YOZ_SetMLAP_APL_isExist(0);
        YOZ_Set_AllowHideCommandStatus(0);
        YOZ_pUCPOEMVerString = nullptr;
        gAppName = "";
        YOZ_pFSwitchModeFunc = nullptr;
        PrintUsageHelp = nullptr;
        YOZ_InitGlobalLineCont();
        args.clear();
        for (auto* m : made) delete m;
        items.clear();
    }
    void Words(std::vector<const char*> words) {
        args.clear();
        for (const char* w : words) {
            made.push_back(new TKX_ARGV_ITEM{const_cast<char*>(w), 0, 0});
            args.push_back(made.back());
        }
    }
    TKX_QUEUE_ITEM* Register(RegisterQueueItemFunction reg) {
        EXPECT_EQ(reg(items), eEID_NO_ERROR);
        return items[items.size() - 1];
    }
    // Runs the mode-switch parse over the words; returns the filter chosen.
    YOZ_SwitchModeFuncT SwitchMode(std::vector<const char*> words) {
        TKX_QUEUE_ITEM* sm = Register(RegisterSMQueueItem);
        Words(words);
        EXPECT_EQ(sm->ParsingCommandFunction(args, sm), eEID_NO_ERROR);
        return YOZ_pFSwitchModeFunc;
    }
};

TEST_F(Modules, FiltersPassTheirMaskBits) {
    const struct {
        YOZ_SwitchModeFuncT filter;
        unsigned passes;  // bit i set: mask (1 << i) passes
    } cases[] = {{ONLY_YOZ_SwitchMode, 0x01 | 0x04},
                 {ONLY_PFAT_SwitchMode, 0x02 | 0x04},
                 {ONLY_2X2_SwitchMode, 0x08 | 0x04},
                 {ONLY_FTF_SwitchMode, 0x10 | 0x04},
                 {PFAT_YOZ_SwitchMode, 0x01 | 0x04}};
    for (const auto& c : cases) {
        for (unsigned bit = 0; bit < 8; ++bit) {
            EXPECT_EQ(c.filter(static_cast<INT8>(1u << bit)) != 0, (c.passes & (1u << bit)) != 0) << bit;
        }
        EXPECT_FALSE(c.filter(0));
    }
    EXPECT_TRUE(ONLY_FTF_SwitchMode(0x19));
    EXPECT_FALSE(ONLY_FTF_SwitchMode(0x09));
    EXPECT_FALSE(ONLY_PFAT_SwitchMode(0x19));
    EXPECT_TRUE(ONLY_2X2_SwitchMode(static_cast<INT8>(0x88)));
}

TEST_F(Modules, BiosGuardFiltersInstallTheirUsagePrinter) {
    EXPECT_TRUE(PFAT_YOZ_SwitchMode(0x01));
    EXPECT_EQ(PrintUsageHelp, nullptr);
    YOZ_SetPFATMode(1);
    EXPECT_FALSE(PFAT_YOZ_SwitchMode(0x01));
    EXPECT_TRUE(PFAT_YOZ_SwitchMode(0x02));
    EXPECT_EQ(PrintUsageHelp, PFAT_PrintUsageHelp);
    YOZ_SetPFATMode(0);
    PrintUsageHelp = nullptr;
    ONLY_PFAT_SwitchMode(0x01);
    EXPECT_EQ(PrintUsageHelp, PFAT_PrintUsageHelp);
}

TEST_F(Modules, RegistrationInstallsTheDefaultFilter) {
    YOZ_pFSwitchModeFunc = nullptr;
    EXPECT_TRUE(YOZ_ModeTakesPart(0x02)) << "no filter: every module takes part";
    TKX_QUEUE_ITEM* sm = Register(RegisterSMQueueItem);
    EXPECT_EQ(YOZ_pFSwitchModeFunc, PFAT_YOZ_SwitchMode);
    EXPECT_EQ(sm->ModuleId, static_cast<UINT32>(eMID_SM));
    EXPECT_EQ(sm->ModeMask, 0x04);
    EXPECT_EQ(sm->ExecutionActionFunction, nullptr);
    EXPECT_EQ(sm->CommandHelp, nullptr);
    EXPECT_FALSE(YOZ_ModeTakesPart(0x02));
}

TEST_F(Modules, PlatformFlagsChooseTheFilterAndTheLastWordWins) {
    EXPECT_EQ(SwitchMode({"p"}), PFAT_YOZ_SwitchMode);
    YOZ_SetBIMCisExist(1);
    EXPECT_EQ(SwitchMode({"p"}), ONLY_2X2_SwitchMode);
    YOZ_SetMLAP_APL_isExist(1);
    EXPECT_EQ(SwitchMode({"p"}), ONLY_FTF_SwitchMode) << "FTF wins over 2+2";
    // On such a platform "/SM:0" brings the normal modules back.
    EXPECT_EQ(SwitchMode({"p", "/SM:0"}), ONLY_YOZ_SwitchMode);
    EXPECT_EQ(SwitchMode({"p", "/SM:0", "/SM:3"}), ONLY_2X2_SwitchMode);
    EXPECT_EQ(SwitchMode({"p", "/SM:2"}), ONLY_FTF_SwitchMode) << "2 changes nothing";
}

TEST_F(Modules, ModeNumbers) {
    const struct {
        const char* word;
        YOZ_SwitchModeFuncT filter;
        bool error;
    } cases[] = {
        {"/SM:0", ONLY_YOZ_SwitchMode, false},       {"/sm:1", ONLY_PFAT_SwitchMode, false},
        {"/SM:3", ONLY_2X2_SwitchMode, false},       {"/SM:2", PFAT_YOZ_SwitchMode, false},
        {"/SM:-1", PFAT_YOZ_SwitchMode, false},      {"/SM:x", ONLY_YOZ_SwitchMode, false},
        {"/SM:4", PFAT_YOZ_SwitchMode, true},        {"/SM:127", PFAT_YOZ_SwitchMode, true},
        {"/SM:128", PFAT_YOZ_SwitchMode, false},     {"/SM:259", ONLY_2X2_SwitchMode, false},
        {"/SM:3abc", ONLY_2X2_SwitchMode, false},    {"/SM:99999999999999999999999", PFAT_YOZ_SwitchMode, false},
        {"/SM:-99999999999999999999999", ONLY_YOZ_SwitchMode, false},
    };
    for (const auto& c : cases) {
        unit::CapturedOut out;
        EXPECT_EQ(SwitchMode({"p", c.word}), c.filter) << c.word;
        EXPECT_EQ(args[1]->claimed, 1) << c.word;
        EXPECT_EQ(items[items.size() - 1]->Enabled, 1) << c.word;
        EXPECT_EQ(out.Text(), c.error ? "Error - Not this mode in YOZ.\n" : "") << c.word;
    }
}

TEST_F(Modules, ModeWordsThatAreNotClaimed) {
    for (const char* word : {"/SM:", "/SM", "/SMX0", "/S:0", "x/SM:0"}) {
        SwitchMode({"p", word});
        EXPECT_EQ(args[1]->claimed, 0) << word;
        EXPECT_EQ(items[items.size() - 1]->Enabled, 0) << word;
    }
    // Hidden options not allowed: the filter is chosen, the word stays.
    YOZ_Set_AllowHideCommandStatus(0);
    YOZ_SetBIMCisExist(1);
    EXPECT_EQ(SwitchMode({"p", "/SM:0"}), ONLY_2X2_SwitchMode);
    EXPECT_EQ(args[1]->claimed, 0);
}

// Parses the usage head; returns what it printed.
std::string Banner(Modules& t) {
    TKX_QUEUE_ITEM* head = t.Register(RegisterusageheadQueueItem);
    t.Words({"p"});
    unit::CapturedOut out;
    EXPECT_EQ(head->ParsingCommandFunction(t.args, head), eEID_NO_ERROR);
    EXPECT_EQ(head->Enabled, 1);
    return out.Text();
}

const char kBorder[] = "+---------------------------------------------------------------------------+\n";
const char kTitle[] = "|            Yoz Manufacturing Flash Utility (Linux) v5.09.04.1503          |\n";
const char kNotice[] = "|        Keep the machine powered on until the update has finished.         |\n";
const char k2x2[] = "|                              2+2 Mode                                     |\n";
const char kFtf[] = "|                        APL FaultTolerance Mode                            ";
const char kApl[] = "|                             APL Normal Mode                               ";

TEST_F(Modules, BannerForms) {
    EXPECT_EQ(Banner(*this), std::string(kBorder) + kTitle + kNotice + kBorder);
    EXPECT_EQ(YOZ_LineCount, 1);

    YOZ_InitGlobalLineCont();
    YOZ_SetBIMCisExist(1);
    YOZ_SetMLAP_FTF_isExist(1);
    EXPECT_EQ(Banner(*this), std::string(kBorder) + kTitle + k2x2 + kNotice + kBorder) << "2+2 comes first";
    EXPECT_EQ(YOZ_LineCount, 3);

    YOZ_SetBIMCisExist(0);
    EXPECT_EQ(Banner(*this), std::string(kBorder) + kTitle + kFtf + "|\n" + kNotice + kBorder);
    YOZ_SetMLAP_APL_isExist(1);
    EXPECT_EQ(Banner(*this), std::string(kBorder) + kTitle + kFtf + kApl + "|\n" + kNotice + kBorder);
    // Without a version string the APL marker alone gives the plain banner;
    // with an empty one it gives the FTF banner.
    YOZ_SetMLAP_FTF_isExist(0);
    EXPECT_EQ(Banner(*this), std::string(kBorder) + kTitle + kNotice + kBorder);
    char empty[] = "";
    YOZ_pUCPOEMVerString = empty;
    EXPECT_EQ(Banner(*this), std::string(kBorder) + kTitle + kApl + "|\n" + kNotice + kBorder);
}

TEST_F(Modules, BuildSuffixStandsBeforeTheVersion) {
    gAppName = "ABCDEFGHIJ";
    EXPECT_EQ(Banner(*this).substr(sizeof(kBorder) - 1, 78),
              "|            Yoz Manufacturing Flash Utility (Linux) ABCDEFGHIJv5.09.04.1503|\n");
    gAppName = "ABCDEFGHIJKLMNOP";
    EXPECT_EQ(Banner(*this).substr(sizeof(kBorder) - 1, 78),
              "|            Yoz Manufacturing Flash Utility (Linux) ABCDEFGHIJv5.09.04.1503|\n");
    gAppName = "XY";
    EXPECT_EQ(Banner(*this).substr(sizeof(kBorder) - 1, 78),
              "|            Yoz Manufacturing Flash Utility (Linux) XYv5.09.04.1503        |\n");
}

TEST_F(Modules, OemVersionStringAddsAnOptionsLineAndKeepsTheBanner) {
    char version[] = "OEM 1.0";
    YOZ_pUCPOEMVerString = version;
    YOZ_SetMLAP_FTF_isExist(1);
    std::string banner = Banner(*this);
    EXPECT_EQ(banner, std::string(kBorder) + kTitle + kNotice + kBorder) << "no FTF form with a version text";
    EXPECT_EQ(banner.find("OEM 1.0"), std::string::npos) << "the version text is never printed";
    TKX_QUEUE_ITEM* head = items[items.size() - 1];
    ASSERT_EQ(head->CommandHelp, YOZ_UsageHead_CommandOEMHelp);
    unit::CapturedOut out;
    head->CommandHelp(0);
    EXPECT_EQ(out.Text(), "| Options:                                                                  |\n");
    out.Clear();
    YOZ_UsageHead_CommandHelp(0);
    EXPECT_EQ(out.Text(), "");
}

TEST_F(Modules, MaskedModulesStayOutOfBiosGuardMode) {
    YOZ_pFSwitchModeFunc = ONLY_PFAT_SwitchMode;
    TKX_QUEUE_ITEM* head = Register(RegisterusageheadQueueItem);
    TKX_QUEUE_ITEM* help = Register(RegisterhelpQueueItem);
    TKX_QUEUE_ITEM* foot = Register(RegisterusagefootQueueItem);
    Words({"p", "/?"});
    unit::CapturedOut out;
    for (TKX_QUEUE_ITEM* item : {head, help, foot}) {
        EXPECT_EQ(item->ModeMask, 0x19);
        EXPECT_EQ(item->ParsingCommandFunction(args, item), eEID_NO_ERROR);
        EXPECT_EQ(item->Enabled, 0);
        item->CommandHelp(1);
        item->CommandHelp(0);
    }
    EXPECT_EQ(args[1]->claimed, 0);
    EXPECT_EQ(out.Text(), "");
}

TEST_F(Modules, HelpDropsEveryWordAfterTheProgramName) {
    TKX_QUEUE_ITEM* help = Register(RegisterhelpQueueItem);
    EXPECT_EQ(help->StopParse, 1);
    // The dropped items are freed by the module, so they are made here.
    args.push_back(new TKX_ARGV_ITEM{const_cast<char*>("p"), 0, 0});
    made.push_back(args[0]);
    for (const char* w : {"rom.bin", "/hx", "/h", "/x"}) args.push_back(new TKX_ARGV_ITEM{const_cast<char*>(w), 0, 0});
    EXPECT_EQ(help->ParsingCommandFunction(args, help), eEID_NO_ERROR);
    EXPECT_EQ(help->Enabled, 1);
    ASSERT_EQ(args.size(), 1u);
    EXPECT_STREQ(args[0]->text, "p");

    // "/hx" alone is not a help word: nothing is dropped.
    help->Enabled = 0;
    Words({"p", "/hx"});
    EXPECT_EQ(help->ParsingCommandFunction(args, help), eEID_NO_ERROR);
    EXPECT_EQ(help->Enabled, 0);
    EXPECT_EQ(args.size(), 2u);
}

TEST_F(Modules, BiosGuardUsagePrinter) {
    TKX_QUEUE_ITEM* head = Register(RegisterusageheadQueueItem);
    TKX_QUEUE_ITEM* foot = Register(RegisterusagefootQueueItem);
    (void)head;
    (void)foot;
    YOZ_pFSwitchModeFunc = ONLY_YOZ_SwitchMode;
    g_LastErrorCode = 0;
    unit::CapturedOut out;
    char word[] = "/zz";
    char text[] = "bad\n";
    PFAT_PrintUsageHelp(word, text, items);
    const std::string& got = out.Text();
    EXPECT_EQ(got.find("| Options:"), std::string::npos);
    EXPECT_NE(got.find("| Commands:"), std::string::npos);
    const std::string tail = std::string(kBorder) + "Unknown command or option : /zz\nERROR : bad\n";
    ASSERT_GE(got.size(), tail.size());
    EXPECT_EQ(got.substr(got.size() - tail.size()), tail);
    EXPECT_EQ(g_LastErrorCode, static_cast<UINT32>(eEID_COMMAND_LINE));
    g_LastErrorCode = 0;
    out.Clear();
    PFAT_PrintUsageHelp(nullptr, nullptr, items);
    EXPECT_EQ(g_LastErrorCode, 0u);
}

}  // namespace
