// Configuration words: the classifier, the collector on an argument list,
// the request and the applier of the firmware's answer, against the
// emulated firmware.
#include <gtest/gtest.h>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>
#include "HuxCore.h"
#include "UnitMachine.h"
#include "ZoktCfgCmd.h"
#include "ZoktFormat.h"

namespace {

std::vector<std::string> CfgTrace() {
    std::vector<std::string> out;
    for (const std::string& l : unitmachine::Trace()) {
        size_t at = l.find(" zokt=0x51 ver=0x0210 ");
        if (at != std::string::npos) out.push_back(l.substr(at + 22));
        if (l.rfind("delay ", 0) == 0) out.push_back(l);
    }
    return out;
}

struct Args {
    std::vector<std::string> words;
    std::vector<std::vector<char>> texts;
    TKXArgvList list;
    explicit Args(const std::vector<std::string>& w) : words(w) {
        for (const std::string& s : words) texts.emplace_back(s.c_str(), s.c_str() + s.size() + 1);
        for (auto& t : texts) list.push_back(new TKX_ARGV_ITEM{t.data(), 0, 0});
    }
    ~Args() {
        for (unsigned long i = 0; i < list.size(); ++i) delete list[i];
    }
    std::vector<std::string> Left() {
        std::vector<std::string> out;
        for (unsigned long i = 0; i < list.size(); ++i) out.push_back(list[i]->text);
        return out;
    }
};

class ZoktCfg : public ::testing::Test {
protected:
    UINT8* buf = nullptr;
    void SetUp() override {
        ASSERT_TRUE(unitmachine::Reset());
        buf = unitmachine::InstallInterfaceBuffer();
        ASSERT_NE(buf, nullptr);
        ZOKT_CfgCmd_Release();
        Machine({});
    }
    void TearDown() override { ZOKT_CfgCmd_Release(); }
    void Machine(const std::vector<std::string>& lines) {
        unitmachine::Settings(lines);
        g_ZoktVer = 0;
        ASSERT_EQ(Zokt_GetVer(), 0x210);
        unitmachine::ClearTrace();
    }
};

struct Word {
    const char* text;
    INT16 kind;
    UINT32 bit;
};

TEST_F(ZoktCfg, ClassifierReadsEveryRow) {
    const Word words[] = {
        {"/P", 1, ZOKT_TC_CFG_P},          {"/-P", -1, ZOKT_TC_CFG_P},       {"/", 1, ZOKT_TC_CFG_P},
        {"/b", 1, ZOKT_TC_CFG_B},          {"~n", -1, ZOKT_TC_CFG_N},        {"/K", 1, ZOKT_TC_CFG_K},
        {"/E", 1, ZOKT_TC_CFG_E},          {"/EC", 1, 0},                    {"/q", 1, ZOKT_TC_CFG_Q},
        {"~REBOOT", -1, ZOKT_TC_CFG_REBOOT}, {"/REBOO", 1, 0},               {"/x", 1, ZOKT_TC_CFG_X},
        {"/S", 1, ZOKT_TC_CFG_S},          {"/ecuf", 1, ZOKT_TC_CFG_ECUF},   {"/SHUT", 1, ZOKT_TC_CFG_SHUTDOWN},
        {"/SHUTDOWN", 1, ZOKT_TC_CFG_SHUTDOWN}, {"/SHUTDOWNX", 1, 0},        {"/sp", 1, ZOKT_TC_CFG_SETUPRESERVE},
        {"/HOLE:0123abcd", 1, ZOKT_TC_CFG_ROMHOLE}, {"/HOLE", 1, 0},         {"~clnevnlog", -1, ZOKT_TC_CFG_CLNEVNLOG},
        {"/R", 1, ZOKT_TC_CFG_R},          {"/RE", 1, 0},                    {"/gan", 1, ZOKT_TC_CFG_GAN},
        {"/K3", 1, ZOKT_TC_CFG_KN},        {"/K3X", 1, 0},                   {"/L", 1, ZOKT_TC_CFG_L},
        {"/L12", 1, ZOKT_TC_CFG_LN},       {"/LX", 1, 0},                    {"/a:Key.bin", 1, ZOKT_TC_CFG_A},
        {"/O", 1, ZOKT_TC_CFG_O},          {"/oad", 1, ZOKT_TC_CFG_OAD},     {"/OA", 1, 0},
        {"/CAPSULE", 1, ZOKT_TC_CFG_CAPSULE}, {"/CAPSULEX", 1, ZOKT_TC_CFG_CAPSULE},
        {"/recovery", 1, ZOKT_TC_CFG_RECOVERY}, {"/CAF", 1, ZOKT_TC_CFG_CAF}, {"/cafe", 1, 0},
        {"rom.bin", 0, 0},                 {"-P", 0, 0},
    };
    for (const Word& w : words) {
        std::string copy = w.text;
        UINT32 bit = 0xDEAD;
        EXPECT_EQ(ZOKT_CfgCmd_Strcmd2Valuecmd(&copy[0], bit), w.kind) << w.text;
        EXPECT_EQ(bit, w.bit) << w.text;
        EXPECT_EQ(copy, w.text) << "the word itself keeps its case";
    }
}

TEST_F(ZoktCfg, BitsAreTakenInTheFixedOrderWithTheirModules) {
    UINT32 bits = 0x03FFFFFF;
    std::vector<UINT32> ids;
    for (int i = 0; i < 30 && bits != 0; ++i) {
        ENUM_MODULE_ID id = ZOKT_CFG_NO_MODULE;
        ZOKT_CfgCmd_Valuecmd2ModID(bits, id);
        ids.push_back(id);
    }
    EXPECT_EQ(ids, (std::vector<UINT32>{69, 66, 71, 73, 81, 35, 90, 54, 57, 80, 91, 60, 79,
                                        98, 62, 100, 75, 77, 78, 94, 59, 96, 39, 40, 106, 92}));
    bits = ZOKT_TC_CFG_NCB | 0x80000000u;
    ENUM_MODULE_ID id = eMID_QUIET;
    EXPECT_EQ(ZOKT_CfgCmd_Valuecmd2ModID(bits, id), 0) << "a bit outside the order stays";
    EXPECT_EQ(id, eMID_QUIET) << "0x2000 has no module";
    EXPECT_EQ(bits, 0x80000000u);
    UINT16 sel = 0;
    ZOKT_CfgCmd_ValueToBit(15, &sel);
    ZOKT_CfgCmd_ValueToBit(16, &sel);
    ZOKT_CfgCmd_ValueToBit(-1, &sel);
    EXPECT_EQ(sel, 0x8000);
}

TEST_F(ZoktCfg, CollectorRemovesClearingWordsAndSendsTheMasks) {
    Args args({"prog", "rom.bin", "/P", "/-B", "~REBOOT", "~X9", "/K3", "/k16", "/a:Key.bin", "~L2"});
    ASSERT_EQ(ZOKT_InitCfgCmd(args.list), 1);
    EXPECT_EQ(args.Left(), (std::vector<std::string>{"prog", "rom.bin", "/P", "~X9", "/K3", "/k16", "/a:Key.bin"}))
        << "a clearing word without bit stays to be reported as unknown";
    EXPECT_EQ(ZOKT_defcmdset.Enable, ZOKT_TC_CFG_P | ZOKT_TC_CFG_KN | ZOKT_TC_CFG_A);
    EXPECT_EQ(ZOKT_defcmdset.Disable, ZOKT_TC_CFG_B | ZOKT_TC_CFG_REBOOT | ZOKT_TC_CFG_LN);

    Machine({"trace_delays=1", "cfg_answer=echo"});
    ZOKT_TC_51_DC_STRUCT masks = ZOKT_defcmdset;
    EXPECT_EQ(ZOKT_RunCfgCmd(&masks), nullptr) << "an unchanged answer changes nothing";
    const UINT8 head[0x2E] = {0x5A, 0x4F, 0x4B, 0x54, 0x10, 0x02, 0x22, 0x00, 0x00, 0x00, 0x00, 0x40, 0x01, 0x00, 0x12,
                              0x00, 0x04, 0x00, 0x51, 0x01, 0x08, 0x00, 0x42, 0x00, 0x10, 0x00, 0x01, 0x00, 0x24, 0x00,
                              0x00, 0x00, 0x04, 0x00, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x04, 0x00, 0x00,
                              0x00};
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 0x2E), std::string(reinterpret_cast<const char*>(head), 0x2E))
        << "K and L entries take the terminator's place; the running size stays 0x22";
    EXPECT_EQ(CfgTrace(), (std::vector<std::string>{
                              "disable=0x00100042 enable=0x00240001 k=0x00040000,0x0008,0x0000 "
                              "l=0x00100000,0x0004,0x0000 answer=echo rs=0x0001",
                              "delay us=0x3e8"}));
    EXPECT_EQ(ZOKT_RunCfgCmd(&masks), nullptr) << "the request was freed";
    EXPECT_EQ(ZOKT_InitCfgCmd(args.list), 0) << "collected once";
    EXPECT_EQ(GetKnEx_HDRData(), nullptr) << "a second collection clears the entries";
}

TEST_F(ZoktCfg, RequestWithoutNumberWordsKeepsItsTerminator) {
    Args args({"prog", "/N", "~Q"});
    ASSERT_EQ(ZOKT_InitCfgCmd(args.list), 1);
    Machine({"cfg_answer=none"});
    EXPECT_EQ(ZOKT_RunCfgCmd(&ZOKT_defcmdset), nullptr);
    const UINT8 rec[12] = {0x20, 0, 0, 0, 0x04, 0, 0, 0, 0xAA, 0x55, 0xFF, 0xFF};
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf) + 0x16, 12), std::string(reinterpret_cast<const char*>(rec), 12));
    EXPECT_EQ(GetKnEx_HDRData(), nullptr);
    EXPECT_EQ(GetLnEx_HDRData(), nullptr);
}

struct Items {
    std::vector<TKX_QUEUE_ITEM> items;
    TKXQueueItemList list;
    explicit Items(const std::vector<UINT32>& ids) : items(ids.size()) {
        for (size_t i = 0; i < ids.size(); ++i) {
            items[i] = TKX_QUEUE_ITEM{};
            items[i].ModuleId = ids[i];
            items[i].Enabled = (i % 2 == 0) ? 1 : 0;
        }
        for (auto& it : items) list.push_back(&it);
    }
    std::string Enabled() {
        std::string s;
        for (auto& it : items) s += static_cast<char>('0' + it.Enabled);
        return s;
    }
};

// Modules P, B, N, Q, X, REBOOT, O, KN (enabled bytes 1 0 1 0 1 0 1 0).
const std::vector<UINT32> kIds = {69, 66, 71, 35, 54, 90, 59, 75};

TEST_F(ZoktCfg, AnswerSwitchesModulesOnAndOff) {
    Args args({"prog", "/P"});
    ASSERT_EQ(ZOKT_InitCfgCmd(args.list), 1);
    Items items(kIds);
    Machine({"cfg_answer=masks", "cfg_enable=0x82", "cfg_disable=0x25"});
    ZOKT_GetDefsetCfgCmd(items.list);
    EXPECT_EQ(items.Enabled(), "01001010") << "B and X on; P, N and Q off";
}

TEST_F(ZoktCfg, SaveRomBitEnablesOnlyThatModule) {
    Args args({"prog", "/P"});
    ASSERT_EQ(ZOKT_InitCfgCmd(args.list), 1);
    Items items(kIds);
    Machine({"cfg_answer=masks", "cfg_enable=0x10042", "cfg_disable=0"});
    ZOKT_GetDefsetCfgCmd(items.list);
    EXPECT_EQ(items.Enabled(), "10101010");
}

TEST_F(ZoktCfg, AnswersThatChangeNothing) {
    const std::vector<std::vector<std::string>> machines = {
        {"cfg_answer=none"}, {"cfg_answer=echo"}, {"cfg_answer=masks", "cfg_enable=0xFFFFFFFF", "cfg_disable=0xFF"}};
    for (const auto& m : machines) {
        ZOKT_CfgCmd_Release();
        Args args({"prog", "/P", "~B"});
        ASSERT_EQ(ZOKT_InitCfgCmd(args.list), 1);
        Items items(kIds);
        Machine(m);
        ZOKT_GetDefsetCfgCmd(items.list);
        EXPECT_EQ(items.Enabled(), "10101010") << m[0];
        EXPECT_EQ(ZOKT_CfgCmd_GetRS_ERROR_OUT(), 0);
    }
}

TEST_F(ZoktCfg, ErrorOutAndTextAreKept) {
    Args args({"prog", "/P"});
    ASSERT_EQ(ZOKT_InitCfgCmd(args.list), 1);
    Items items(kIds);
    std::string longText = "Denied %s " + std::string(300, 'z');
    Machine({"cfg_answer=error", "cfg_text=" + longText});
    ZOKT_GetDefsetCfgCmd(items.list);
    EXPECT_EQ(items.Enabled(), "10101010");
    EXPECT_EQ(ZOKT_CfgCmd_GetRS_ERROR_OUT(), 1);
    EXPECT_EQ(ZOKT_CfgCmd_GetRS_DIS_OEMSTR(), 1);
    EXPECT_EQ(std::string(ZOKT_CfgCmd_GetOEMString()), longText.substr(0, 255));
}

TEST_F(ZoktCfg, AnsweredKEntryWhoseWordsCancelSelectsNothing) {
    Args args({"prog", "/K3", "/L1"});
    ASSERT_EQ(ZOKT_InitCfgCmd(args.list), 1);
    Items items(kIds);
    Machine({"cfg_answer=masks", "cfg_enable=0x40000", "cfg_disable=0", "cfg_k=0x8,0x8"});
    ZOKT_GetDefsetCfgCmd(items.list);
    EXPECT_EQ(items.Enabled(), "10101011");
    ZOKT_DC_EXT_ENTRY* k = GetKnEx_HDRData();
    ASSERT_NE(k, nullptr);
    EXPECT_EQ(k->Type, ZOKT_TC_CFG_KN);
    EXPECT_EQ(k->Bits ^ k->Mask, 0) << "the firmware's answer selects nothing";
    ZOKT_DC_EXT_ENTRY* l = GetLnEx_HDRData();
    ASSERT_NE(l, nullptr);
    EXPECT_EQ(l->Bits ^ l->Mask, 0x2) << "the L entry as sent";
}

}  // namespace
