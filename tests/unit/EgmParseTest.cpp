// The engineering set's parse against the emulated firmware's manufacturing
// table: the prefix word, the selection by name, the arguments each word
// leaves, and the number readers of "sfmdt:" and "preset:".
#include <gtest/gtest.h>
#include <cstring>
#include <string>
#include <vector>
#include "HuxCoreHooks.h"
#include "YozEgm.h"
#include "YozOptionStore.h"
#include "ZoktMfg.h"
#include "ZoktUnit.h"

namespace {

class EgmParse : public unit::ZoktRequests {
protected:
    TKXQueueItemList items;
    std::vector<TKX_ARGV_ITEM> words;
    TKXArgvList args;

    void SetUp() override {
        unit::ZoktRequests::SetUp();
        items.init();
        const RegisterQueueItemFunction registrars[] = {
            RegisterEGMQueueItem,         RegisterEGM_JVC_QueueItem,   RegisterEGM_R2x2_QueueItem,
            RegisterEGM_INFO_QueueItem,   RegisterEGM_MEINFO_QueueItem, RegisterEGM_NPSLP_QueueItem,
            RegisterEGM_SFMDT_QueueItem,  RegisterEGM_ERASE_QueueItem, RegisterEGM_S24_QueueItem,
            RegisterEGM_PRESET_QueueItem};
        for (RegisterQueueItemFunction r : registrars) ASSERT_EQ(r(items), eEID_NO_ERROR);
    }
    void TearDown() override {
        ZOKT_YOZMFG_Release();
        YOZ_SetMFGIsEnable(0);
        YOZ_SetOrvexCheck(1);
        YOZ_SetNPSLPMode(0);
        memset(gEGM_HC_IdfStr, 0, sizeof(gEGM_HC_IdfStr));
        items.clear();
    }
    // The firmware's table with word 6, and manufacturing mode as the mode module sets it.
    void Firmware(const std::string& table, bool mfg = true) {
        Machine({mfg ? "mfg=1" : "mfg=0", "mfg_table=" + table});
        YOZ_SetMFGIsEnable(ZOKT_YOZMFG_Support());
    }
    void Parse(const std::vector<const char*>& line) {
        words.clear();
        words.push_back(TKX_ARGV_ITEM{const_cast<char*>("yozmfglnx"), 0, 0});
        for (const char* w : line) words.push_back(TKX_ARGV_ITEM{const_cast<char*>(w), 0, 0});
        args.clear();
        for (TKX_ARGV_ITEM& w : words) args.push_back(&w);
        for (unsigned long i = 0; i < items.size(); ++i)
            ASSERT_EQ(items[i]->ParsingCommandFunction(args, items[i]), eEID_NO_ERROR);
    }
    std::string Claimed() const {
        std::string c;
        for (size_t i = 1; i < words.size(); ++i) c += words[i].claimed ? '1' : '0';
        return c;
    }
    std::string Selected() const {
        std::string s;
        for (const GM_CMD_ITEM& e : GMCmdList) s += e.selected ? '1' : '0';
        return s;
    }
    // Enabled bytes in registration order: egm, jvc, 2x2, info, meinfo, npslp, sfmdt, er, s24, preset.
    std::string Enabled() {
        std::string s;
        for (unsigned long i = 0; i < items.size(); ++i) s += items[i]->Enabled ? '1' : '0';
        return s;
    }
};

TEST_F(EgmParse, PrefixSelectsEntriesByNameWithoutRegardToCase) {
    struct Row {
        std::vector<const char*> line;
        const char* claimed;
        const char* selected;  // table order: s24 info meinfo npslp er sfmdt: preset: jvc 2x2
        const char* enabled;   // registration order: egm jvc 2x2 info meinfo npslp sfmdt er s24 preset
        int count;
        UINT8 help;
    };
    const Row rows[] = {
        {{"new.rom", "/egmER"}, "01", "000010000", "1000000100", 1, 0},
        {{"/EgMmeInfo", "/EGMinfo"}, "11", "011000000", "1001100000", 2, 0},
        {{"/EGMjvc", "/EGM2X2", "/EGMs24x"}, "111", "100000011", "1110000010", 3, 0},
        {{"/EGMhiyoz"}, "1", "000000000", "1000000000", 0, 1},
        {{"/EGMwhatever", "/EGM"}, "10", "000000000", "1000000000", 0, 0},  // the prefix alone is no word
        {{"/EG", "/XEGMer", "new.rom"}, "000", "000000000", "0000000000", 0, 0},
        {{"/EGMnpslp", "/EGMsfmdt:1:2", "/EGMpreset:e"}, "111", "000101100", "1000011001", 3, 0},
    };
    Firmware("6|/EGM|Engineering set");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line[0]);
        Parse(row.line);
        EXPECT_STREQ(gEGM_HC_IdfStr, "/EGM");
        EXPECT_EQ(Claimed(), row.claimed);
        EXPECT_EQ(Selected(), row.selected);
        EXPECT_EQ(Enabled(), row.enabled);
        EXPECT_EQ(SubCmdNum, row.count);
        EXPECT_EQ(EGMHelp, row.help);
    }
}

TEST_F(EgmParse, WithoutTheFirmwaresWordNothingIsTaken) {
    for (const char* table : {"6|/EGM|x", "5|/EGM|x;6||empty"}) {
        SCOPED_TRACE(table);
        Firmware(table, std::string(table) != "6|/EGM|x");
        Parse({"/EGMinfo", "/EGMer"});
        EXPECT_STREQ(gEGM_HC_IdfStr, "");
        EXPECT_EQ(Claimed(), "00");
        EXPECT_EQ(Enabled(), "0000000000");
        EXPECT_EQ(SubCmdNum, 0);
    }
}

TEST_F(EgmParse, EachWordReplacesTheArgumentsOfItsEntry) {
    Firmware("6|/EGM|Engineering set");
    Parse({"/EGMpreset:e4", "/EGMpreset:6", "/EGMsfmdt:100:200", "/EGMSFMDT:5:6"});
    EXPECT_STREQ(GMCmdList[EGM_PRESET].args, "6");
    EXPECT_STREQ(GMCmdList[EGM_SFMDT].args, "5:6");
    EXPECT_EQ(SubCmdNum, 4);
    // The rest of a word is cut at 63 characters.
    std::string longWord = "/EGMsfmdt:" + std::string(80, '7');
    Parse({longWord.c_str()});
    EXPECT_EQ(std::string(GMCmdList[EGM_SFMDT].args), std::string(63 - 6, '7'));
    // "jvc" and "npslp": their parse sets the flag back for their execute.
    YOZ_SetOrvexCheck(0);
    YOZ_SetNPSLPMode(1);
    Parse({"/EGMjvc"});
    EXPECT_EQ(YOZ_GetOrvexCheck(), 1);
    EXPECT_EQ(YOZ_GetNPSLPMode(), 0);
}

TEST(EgmNumbers, SfmdtTakesTwoDecimalNumbersThatFitTheWait) {
    const struct {
        const char* text;
        UINT8 read;
        UINT32 before, after;
    } rows[] = {
        {"100:200", 1, 100, 200},
        {"0:429496729", 1, 0, 429496729},
        {"100", 0, 0, 0},
        {"100:429496730", 0, 0, 0},
        {"-1:200", 0, 0, 0},
        {"1:+2", 0, 0, 0},
        {":200", 0, 0, 0},
        {"100:", 0, 0, 0},
        {"1:2:3", 0, 0, 0},
        {"99999999999999999999:1", 0, 0, 0},
        {"1 :2", 0, 0, 0},
    };
    for (const auto& row : rows) {
        UINT32 before = 7, after = 7;
        EXPECT_EQ(EGM_SFMDT_ReadDelays(row.text, &before, &after), row.read) << row.text;
        EXPECT_EQ(before, row.before) << row.text;
        EXPECT_EQ(after, row.after) << row.text;
    }
}

TEST(EgmNumbers, PresetTakesHexValuesUpToAByte) {
    const struct {
        const char* text;
        UINT8 value;
    } rows[] = {
        {"e", 0x0E}, {"E", 0x0E}, {"0e", 0x0E}, {"000000000e", 0x0E}, {"4", 0x04}, {"ff", 0xFF},
        {"10e", 0}, {"104", 0}, {"1000000004", 0}, {"5", 0x05},
    };
    for (const auto& row : rows) {
        char text[32];
        snprintf(text, sizeof(text), "%s", row.text);
        EXPECT_EQ(EGM_PRESET_ReadValue(text), row.value) << row.text;
    }
}

}  // namespace
