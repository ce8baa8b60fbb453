// The region variants of capsule and recovery mode against the emulated
// firmware: the variant table (each region word in each mode, its module id
// and session area, "/E" included), and the rule that names the recovery
// file in the session.
#include <gtest/gtest.h>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>
#include "CaptureOut.h"
#include "E2eHarness.h"
#include "EspCopyLnx.h"
#include "HuxCoreHooks.h"
#include "RomScan.h"
#include "TKXFile.h"
#include "UnitMachine.h"
#include "YozGlobal.h"
#include "YozOptionStore.h"
#include "YozRomFile.h"
#include "YozSecFlash.h"
#include "ZoktFormat.h"

namespace {

TEST(SecFlashName, BaseNameMustFitTheSessionField) {
    struct Row {
        std::string word;
        const char* name;  // null: refused
    };
    const std::string deep(300, 'd');
    const std::vector<Row> rows = {
        {"rom.cap", "rom.cap"},
        {"images/2024/rom.cap", "rom.cap"},
        {"./123456789012345", "123456789012345"},   // 15 characters and the terminator
        {"/tmp/1234567890123456", "1234567890123456"},  // 16 fill the field
        {"12345678901234567", nullptr},
        {deep, nullptr},                             // no base name taken: the word itself is too long
        {"dir/" + std::string(255, 'n'), nullptr},   // base name fits its buffer, not the session field
    };
    for (const Row& row : rows) {
        YOZ_SECFLASH_FILE file;
        memset(&file, 0x5A, sizeof(file));
        YOZ_SecFlash_TakeFile(file, row.word.c_str(), 1);
        EXPECT_EQ(file.RomFileName, row.word.c_str());
        const char* name = YOZ_SecFlash_SessionName(file);
        if (row.name == nullptr) {
            EXPECT_EQ(name, nullptr) << row.word;
        } else {
            ASSERT_NE(name, nullptr) << row.word;
            EXPECT_STREQ(name, row.name);
        }
    }
    // Base names of 256 characters or more are not taken; 255 are.
    YOZ_SECFLASH_FILE file{};
    std::string word = "d/" + std::string(256, 'x');
    YOZ_SecFlash_TakeFile(file, word.c_str(), 1);
    EXPECT_EQ(file.RomFileBaseEnable, 0);
    word.pop_back();
    YOZ_SecFlash_TakeFile(file, word.c_str(), 1);
    EXPECT_EQ(file.RomFileBaseEnable, 1);
    EXPECT_EQ(strlen(file.RomFileBaseName), 255u);
    // A variant that takes no base name keeps the word alone.
    YOZ_SECFLASH_FILE plain{};
    YOZ_SecFlash_TakeFile(plain, "a/b.cap", 0);
    EXPECT_EQ(plain.RomFileBaseEnable, 0);
    EXPECT_STREQ(YOZ_SecFlash_SessionName(plain), "a/b.cap");
}

class SecFlashVariants : public ::testing::Test {
protected:
    WriteOutT savedOut = nullptr;
    TKXQueueItemList items;
    std::vector<TKX_ARGV_ITEM> words;
    TKXArgvList args;
    UINT8 on = 1;
    std::string romPath;
    std::string image = std::string(0x9000, '\x3C');

    void SetUp() override {
        ASSERT_TRUE(unitmachine::Reset({"secure_flash=1", "sf_policy1=0x03"}));
        ASSERT_NE(unitmachine::InstallInterfaceBuffer(), nullptr);
        savedOut = WriteOut;
        WriteOut = unit::CaptureOut;
        g_ZoktVer = 0x210;
        InitializeFileHub();
        InitCopyRecoveryFile();
        memcpy(&image[0], kGuidCapsuleHeader, sizeof(kGuidCapsuleHeader));  // a signed capsule to the firmware
        romPath = e2e::TempDir("secflash") + "/image.cap";
        e2e::WriteFile(romPath, image);
        items.init();
        ASSERT_EQ(RegisterSecureFlashQueueItem(items), eEID_NO_ERROR);
        items[0]->ExecutionActionFunction(items);
        const RegisterQueueItemFunction registrars[] = {
            RegisterSecFlashBootBlockCapsuleQueueItem, RegisterSecFlashBootBlockRecoveryQueueItem,
            RegisterSecFlashEmbeddedEcCapsuleQueueItem, RegisterSecFlashEmbeddedEcRecoveryQueueItem,
            RegisterSecFlashMainBiosCapsuleQueueItem, RegisterSecFlashMainBiosRecoveryQueueItem,
            RegisterSecFlashNvramCapsuleQueueItem, RegisterSecFlashNvramRecoveryQueueItem};
        for (RegisterQueueItemFunction r : registrars) ASSERT_EQ(r(items), eEID_NO_ERROR);
        YOZ_pSecureFileBuff = reinterpret_cast<UINT8*>(&image[0]);
        YOZ_SecureFileSize = static_cast<UINT32>(image.size());
        YOZ_OpenFileSize = 0x8000;
        unitmachine::ClearTrace();
    }
    void TearDown() override {
        YOZ_SetCapsuleMode(nullptr);
        YOZ_SetRecoveryMode(nullptr);
        YOZ_pSecureFileBuff = nullptr;
        YOZ_SecureFileSize = 0;
        YOZ_OpenFileSize = 0;
        CleanUpFileHub();
        WriteOut = savedOut;
        items.clear();
    }
    void Parse(const std::vector<const char*>& line) {
        words.clear();
        for (const char* w : line) words.push_back(TKX_ARGV_ITEM{const_cast<char*>(w), 0, 0});
        args.clear();
        for (TKX_ARGV_ITEM& w : words) args.push_back(&w);
        for (unsigned long i = 1; i < items.size(); ++i)
            ASSERT_EQ(items[i]->ParsingCommandFunction(args, items[i]), eEID_NO_ERROR);
    }
    ENUM_ERR_ID Execute() {
        for (unsigned long i = 1; i < items.size(); ++i) {
            if (items[i]->Enabled != 1) continue;
            ENUM_ERR_ID status = items[i]->ExecutionActionFunction(items);
            if (status != eEID_NO_ERROR) return status;
        }
        return eEID_NO_ERROR;
    }
    // The session as the firmware receives it, from the trace.
    std::string SessionSent() {
        EXPECT_EQ(FLASH_SetFlashMethod(), 0);
        for (const std::string& l : unitmachine::Trace()) {
            size_t at = l.find("sub=0x08");
            if (at != std::string::npos) return l.substr(at, l.find(" status=") - at);
        }
        return "";
    }
};

TEST_F(SecFlashVariants, TableGivesEachRegionWordItsModuleAndArea) {
    struct Row {
        ENUM_MODULE_ID id;
        const char* word;
        FLASH_BLOCK_TYPE area;
        UINT8 op;
    };
    const Row expected[YOZ_SECFLASH_VARIANTS] = {
        {eMID_SECFLASHBOOTBLOCKCAPSULE, "/B", FLASH_BLOCK_BOOT, FLASH_OP_CAPSULE},
        {eMID_SECFLASHBOOTBLOCKRECOVERY, "/B", FLASH_BLOCK_BOOT, FLASH_OP_RECOVERY},
        {eMID_SECFLASHEMBEDDEDECCAPSULE, "/E", FLASH_BLOCK_EC, FLASH_OP_CAPSULE},
        {eMID_SECFLASHEMBEDDEDECRECOVERY, "/E", FLASH_BLOCK_EC, FLASH_OP_RECOVERY},
        {eMID_SECFLASHMAINBIOSCAPSULE, "/P", FLASH_BLOCK_MAIN, FLASH_OP_CAPSULE},
        {eMID_SECFLASHMAINBIOSRECOVERY, "/P", FLASH_BLOCK_MAIN, FLASH_OP_RECOVERY},
        {eMID_SECFLASHNVRAMCAPSULE, "/N", FLASH_BLOCK_NVRAM, FLASH_OP_CAPSULE},
        {eMID_SECFLASHNVRAMRECOVERY, "/N", FLASH_BLOCK_NVRAM, FLASH_OP_RECOVERY},
    };
    ASSERT_EQ(items.size(), 1u + YOZ_SECFLASH_VARIANTS);
    for (UINT32 i = 0; i < YOZ_SECFLASH_VARIANTS; ++i) {
        const YOZ_SECFLASH_VARIANT& v = YOZ_SecFlashVariants[i];
        EXPECT_EQ(v.ModuleId, expected[i].id);
        EXPECT_STREQ(v.Word, expected[i].word);
        EXPECT_EQ(v.Area, expected[i].area);
        EXPECT_EQ(v.OpType, expected[i].op);
        // Registered in table order: no mode mask, no help, not enabled.
        const TKX_QUEUE_ITEM* item = items[1 + i];
        EXPECT_EQ(item, v.Item);
        EXPECT_EQ(item->ModuleId, static_cast<UINT32>(expected[i].id));
        EXPECT_EQ(item->ModeMask, 0);
        EXPECT_EQ(item->CommandHelp, nullptr);
        EXPECT_EQ(item->Enabled, 0);
        EXPECT_EQ(item->OrderKey, 0x8000);
    }
}

TEST_F(SecFlashVariants, EmbeddedEcWordEnablesTheEcVariantsOnly) {
    // A region word in place of the ROM file claims nothing.
    Parse({"prog", "/E"});
    for (const YOZ_SECFLASH_VARIANT& v : YOZ_SecFlashVariants) EXPECT_EQ(v.Item->Enabled, 0);
    EXPECT_EQ(words[1].claimed, 0);
    // "/E" enables both EC variants and claims the ROM file, not "/E" itself.
    Parse({"prog", romPath.c_str(), "/e"});
    for (UINT32 i = 0; i < YOZ_SECFLASH_VARIANTS; ++i)
        EXPECT_EQ(YOZ_SecFlashVariants[i].Item->Enabled, (i == 2 || i == 3) ? 1 : 0) << i;
    EXPECT_EQ(words[1].claimed, 1);
    EXPECT_EQ(words[2].claimed, 0);

    // Outside both modes nothing happens.
    EXPECT_EQ(Execute(), eEID_NO_ERROR);
    EXPECT_TRUE(unitmachine::Trace().empty());

    // Capsule: the image goes up once, the session gets the EC area.
    YOZ_SetCapsuleMode(&on);
    EXPECT_EQ(Execute(), eEID_NO_ERROR);
    EXPECT_EQ(SessionSent(), "sub=0x08 op=0x02 areas=0x00000008 name=\"\" size=0x00008000");
    EXPECT_EQ(e2e::ReadFile(unitmachine::File("state/sf_image.bin")), image);
}

TEST_F(SecFlashVariants, RecoveryNamesTheFileByItsBaseNameAndStoredSize) {
    YOZ_SetRecoveryMode(&on);
    Parse({"prog", romPath.c_str(), "/P", "/E"});
    EXPECT_EQ(Execute(), eEID_NO_ERROR);
    EXPECT_EQ(SessionSent(), "sub=0x08 op=0x01 areas=0x0000000a name=\"image.cap\" size=0x00009000");
    for (const std::string& l : unitmachine::Trace()) EXPECT_EQ(l.find("sub=0x02"), std::string::npos) << l;
}

TEST_F(SecFlashVariants, PolicyByteOneDecidesForEveryArea) {
    unitmachine::Settings({"secure_flash=1", "sf_policy0=0x07", "sf_policy1=0x01"});
    items[0]->ExecutionActionFunction(items);
    YOZ_SetCapsuleMode(&on);
    Parse({"prog", romPath.c_str(), "/N"});
    EXPECT_EQ(Execute(), eEID_SECURE_FLASH_POLICY_MATCH);
    YOZ_SetCapsuleMode(nullptr);
    YOZ_SetRecoveryMode(&on);
    EXPECT_EQ(Execute(), eEID_NO_ERROR);
}

}  // namespace
