// The secure-flash library against the emulated firmware: policy, image
// upload in pieces with its progress line, session block, capsule header.
#include <gtest/gtest.h>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>
#include "HuxCore.h"
#include "SecureFlash.h"
#include "CaptureOut.h"
#include "E2eHarness.h"
#include "UnitMachine.h"
#include "ZoktFormat.h"

namespace {

using unit::CaptureOut;
using unit::g_Out;

// Trace fields of the secure-flash requests, without the common head.
std::vector<std::string> SfTrace() {
    std::vector<std::string> out;
    const std::string head = "smi cmd=0x26 port=0xb2 ebx=0x00200000 zokt=0x70 ver=0x0210";
    for (const std::string& l : unitmachine::Trace()) {
        if (l.rfind(head, 0) == 0) out.push_back(l.substr(head.size()));
    }
    return out;
}

std::string Image(UINT32 size) {
    std::string data(size, '\0');
    for (UINT32 i = 0; i < size; ++i) data[i] = static_cast<char>((i * 13 + (i >> 8)) & 0xFF);
    return data;
}

std::string StateFile(const char* name) { return e2e::ReadFile(unitmachine::File(std::string("state/") + name)); }

class SecureFlash : public ::testing::Test {
protected:
    WriteOutT savedOut = nullptr;
    TKXQueueItemList items;
    void SetUp() override {
        ASSERT_TRUE(unitmachine::Reset());
        ASSERT_NE(unitmachine::InstallInterfaceBuffer(), nullptr);
        savedOut = WriteOut;
        WriteOut = CaptureOut;
        items.init();
        g_ZoktVer = 0x210;
        Start({"secure_flash=1"});
    }
    void TearDown() override {
        WriteOut = savedOut;
        ZOKT_SetMethod_BeforeDelayTime(0);
        ZOKT_SetMethod_AfterDelayTime(0);
        items.clear();
    }
    // A new run: settings, registration of the module and its execute step.
    void Start(const std::vector<std::string>& settings, bool keepTrace = false) {
        unitmachine::Settings(settings);
        unitmachine::ClearTrace();
        items.clear();
        ASSERT_EQ(RegisterSecureFlashQueueItem(items), eEID_NO_ERROR);
        ASSERT_EQ(items.size(), 1u);
        TKX_QUEUE_ITEM* item = items[0];
        EXPECT_EQ(item->ModuleId, static_cast<UINT32>(eMID_SECUREFLASH));
        EXPECT_EQ(item->Enabled, 1);
        EXPECT_EQ(item->OrderKey, 0x6000);
        EXPECT_EQ(item->ParsingCommandFunction, nullptr);
        EXPECT_EQ(item->ExecutionActionFunction(items), eEID_NO_ERROR);
        if (!keepTrace) unitmachine::ClearTrace();
        g_Out.clear();
    }
};

TEST_F(SecureFlash, PolicyIsReadOncePerRun) {
    Start({"secure_flash=1", "sf_policy0=0x04", "sf_policy1=0x03"}, true);
    EXPECT_EQ(FLASH_IsSecureFlashSupported(), 1);
    FLASH_POLICY_INFO_BLOCK policy;
    memset(&policy, 0xEE, sizeof(policy));
    ASSERT_EQ(FLASH_GetSupportedPolicy(&policy), 1);
    EXPECT_EQ(policy.Policy[0], 0x04);
    EXPECT_EQ(policy.Policy[1], 0x03);
    EXPECT_EQ(policy.Key[0], 0xA5);
    EXPECT_EQ(policy.Key[255], 0xA5 ^ 0xFF);
    EXPECT_EQ(policy.Status, 0);
    EXPECT_EQ(FLASH_GetCurrentFlashOpType(), FLASH_OP_NONE);
    EXPECT_EQ(SfTrace(), std::vector<std::string>{" sub=0x04 policy=0x04,0x03 status=0x00 rs=0x0001"});
}

TEST_F(SecureFlash, UnansweredPolicyMeansUnsupported) {
    Start({}, true);
    EXPECT_EQ(FLASH_IsSecureFlashSupported(), 0);
    FLASH_POLICY_INFO_BLOCK policy;
    EXPECT_EQ(FLASH_GetSupportedPolicy(&policy), 0);
    EXPECT_EQ(FLASH_PolicyRefused(), 0);
    EXPECT_EQ(SfTrace(), std::vector<std::string>(3, " answer=none")) << "asked again: an answer may be lost";
}

TEST_F(SecureFlash, PolicyRequestLayout) {
    unitmachine::Settings({});
    unitmachine::ClearTrace();
    FLASH_POLICY_INFO_BLOCK policy;
    EXPECT_EQ(ZOKT_GetSupportedPolicy(&policy), 0);
    const UINT8 head[0x1E] = {0x5A, 0x4F, 0x4B, 0x54, 0x10, 0x02, 0x1C, 0x00, 0x40, 0x00, 0x00, 0x00, 0x00, 0x00, 0x12,
                              0x00, 0x04, 0x00, 0x70, 0x01, 0x02, 0x00, 0x04, 0x00, 0xAA, 0x55, 0xFF, 0xFF, 0x00, 0x00};
    EXPECT_EQ(memcmp(gpIntrBuf, head, sizeof(head)), 0);
    EXPECT_EQ(gpIntrBuf[0x11E], 1) << "policy status preset";
}

TEST_F(SecureFlash, ImageGoesUpInPiecesWithProgress) {
    std::string image = Image(0x11000);
    ASSERT_EQ(FLASH_LoadFwImage(reinterpret_cast<UINT8*>(&image[0]), 0x11000, 0, LoadProgress), 1);
    EXPECT_EQ(SfTrace(), (std::vector<std::string>{
                             " sub=0x02 addr=0x0020002d off=0x00000000 len=0x00008800 status=0x00 rs=0x0001",
                             " sub=0x02 addr=0x0020002d off=0x00008800 len=0x00008800 status=0x00 rs=0x0001"}));
    EXPECT_EQ(StateFile("sf_image.bin"), image);
    const std::string line = " Loading capsule to secure memory buffer ... ";
    EXPECT_EQ(g_Out, line + "0x00000000 (0%) \r" + line + "0x00008800 (50%) \r" + line + "done                \n");

    unitmachine::ClearTrace();
    EXPECT_EQ(FLASH_LoadFwImage(reinterpret_cast<UINT8*>(&image[0]), 0x11000, 0, LoadProgress), 1);
    EXPECT_TRUE(SfTrace().empty()) << "the image goes up once per run";
}

TEST_F(SecureFlash, RemainderGoesAsOneShortPiece) {
    std::string image = Image(0x8801);
    ASSERT_EQ(FLASH_LoadFwImage(reinterpret_cast<UINT8*>(&image[0]), 0x8801, 0, nullptr), 1);
    std::vector<std::string> t = SfTrace();
    ASSERT_EQ(t.size(), 2u);
    EXPECT_NE(t[1].find("off=0x00008800 len=0x00000001"), std::string::npos) << t[1];
    EXPECT_EQ(StateFile("sf_image.bin"), image);
    EXPECT_EQ(g_Out, "");
}

TEST_F(SecureFlash, RefusedPieceFailsAndTheNextTryStartsOver) {
    Start({"secure_flash=1", "sf_refuse_offset=0x8800"});
    std::string image = Image(0x19000);
    EXPECT_EQ(FLASH_LoadFwImage(reinterpret_cast<UINT8*>(&image[0]), 0x19000, 0, LoadProgress), 0);
    std::vector<std::string> t = SfTrace();
    ASSERT_EQ(t.size(), 2u);
    EXPECT_NE(t[1].find("off=0x00008800 len=0x00008800 status=0x01"), std::string::npos) << t[1];
    EXPECT_EQ(g_Out, " Loading capsule to secure memory buffer ... 0x00000000 (0%) \r");

    unitmachine::Settings({"secure_flash=1"});
    unitmachine::ClearTrace();
    EXPECT_EQ(FLASH_LoadFwImage(reinterpret_cast<UINT8*>(&image[0]), 0x19000, 0, nullptr), 1);
    t = SfTrace();
    ASSERT_EQ(t.size(), 3u);
    EXPECT_NE(t[0].find("off=0x00000000"), std::string::npos) << t[0];
    EXPECT_EQ(StateFile("sf_image.bin"), image);
}

TEST_F(SecureFlash, SessionKeepsLowestTypeAndAllAreas) {
    FLASH_ConfigFlashSessionBlock(FLASH_OP_RUNTIME, FLASH_BLOCK_BOOT, nullptr, 0x100);
    FLASH_ConfigFlashSessionBlock(FLASH_OP_RECOVERY, FLASH_BLOCK_MAIN, "AB", 0x200);
    FLASH_ConfigFlashSessionBlock(FLASH_OP_RUNTIME, FLASH_BLOCK_EC, nullptr, 0x12345);
    EXPECT_EQ(FLASH_GetCurrentFlashOpType(), FLASH_OP_RECOVERY);
    EXPECT_EQ(FLASH_SetFlashMethod(), 0);
    EXPECT_EQ(SfTrace(), std::vector<std::string>{
                             " sub=0x08 op=0x01 areas=0x0000000b name=\"AB\" size=0x00012345 status=0x00 rs=0x0001"});
    const UINT8 block[34] = {0x01, 0x0B, 0, 0, 0, 'A', 'B', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                             0,    0,    0, 0, 0x45, 0x23, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(StateFile("sf_session.bin"), std::string(reinterpret_cast<const char*>(block), 34))
        << "a short name is zero-padded";

    unitmachine::ClearTrace();
    EXPECT_EQ(FLASH_SetFlashMethod(), 0);
    EXPECT_TRUE(SfTrace().empty()) << "an open session is not sent again";
}

TEST_F(SecureFlash, RefusedSessionStaysClosed) {
    Start({"secure_flash=1", "sf_session_status=1"});
    FLASH_ConfigFlashSessionBlock(FLASH_OP_CAPSULE, FLASH_BLOCK_NVRAM, nullptr, 0x40);
    EXPECT_EQ(FLASH_SetFlashMethod(), 1);
    unitmachine::Settings({"secure_flash=1"});
    EXPECT_EQ(FLASH_SetFlashMethod(), 0);
    EXPECT_EQ(SfTrace().size(), 2u);
}

TEST_F(SecureFlash, FirmwareRefusesSessionsWithoutASignedUpdate) {
    // Operation, areas, an unsigned image uploaded first, the refusal ("" accepted).
    const std::vector<std::tuple<UINT8, UINT32, bool, std::string>> rows = {
        {FLASH_OP_NONE, 0, false, "no-operation"}, {FLASH_OP_CAPSULE, 0, false, "no-area"},
        {FLASH_OP_CAPSULE, 2, true, "unsigned"},   {FLASH_OP_RECOVERY, 2, true, "unsigned"},
        {FLASH_OP_RUNTIME, 2, true, ""},           {FLASH_OP_CAPSULE, 2, false, ""}};
    for (const auto& [op, areas, unsignedUpload, refusal] : rows) {
        Start({"secure_flash=1"});
        std::string image = Image(0x100);
        if (unsignedUpload) ASSERT_EQ(FLASH_LoadFwImage(reinterpret_cast<UINT8*>(&image[0]), 0x100, 0, nullptr), 1);
        unitmachine::ClearTrace();
        FUNC_FLASH_SESSION_BLOCK session{};
        session.OpType = op;
        session.AreaBits = areas;
        EXPECT_EQ(ZOKT_SetFlashMethod(&session), refusal.empty() ? 0 : 1) << refusal;
        std::string tail = refusal.empty() ? "status=0x00 rs=" : "status=0x01 refused=" + refusal + " rs=";
        EXPECT_NE(SfTrace().back().find(tail), std::string::npos) << SfTrace().back();
    }
}

TEST_F(SecureFlash, SetMethodDelaysAreAnnounced) {
    ZOKT_SetMethod_AfterDelayTime(5);
    FUNC_FLASH_SESSION_BLOCK session{};
    session.OpType = FLASH_OP_RUNTIME;
    session.AreaBits = 1u << FLASH_BLOCK_MAIN;
    EXPECT_EQ(ZOKT_SetFlashMethod(&session), 0);
    EXPECT_EQ(g_Out, "[EGM_SFMDT] Secure Flash SetMethod SMI After Delay Time:5...\n");
    g_Out.clear();
    ZOKT_SetMethod_BeforeDelayTime(3);
    ZOKT_SetMethod_AfterDelayTime(0);
    EXPECT_EQ(ZOKT_SetFlashMethod(&session), 0);
    EXPECT_EQ(g_Out, "[EGM_SFMDT] Secure Flash SetMethod SMI Before Delay Time:3...\n");
}

TEST_F(SecureFlash, FirmwareTextFollowsEachRequest) {
    Start({"secure_flash=1", "sf_text=%n key ok"});
    EXPECT_EQ(g_Out, "");  // Start clears what the policy request printed
    std::string image = Image(0x10);
    EXPECT_EQ(FLASH_LoadFwImageEx(reinterpret_cast<UINT8*>(&image[0]), 0, 0x10, nullptr), 1);
    EXPECT_EQ(g_Out, " - %n key ok \n");
}

TEST_F(SecureFlash, CapsuleHeaderIsStrippedOnlyWhenValid) {
    static const UINT8 guid[16] = {0x8B, 0xA6, 0x3C, 0x4A, 0x23, 0x77, 0xFB, 0x48,
                                   0x80, 0x3D, 0x57, 0x8C, 0xC1, 0xFE, 0xC4, 0x4D};
    std::vector<UINT8> file(0x1000, 0);
    memcpy(file.data(), guid, 16);
    file[0x1C] = 0x00;
    file[0x1D] = 0x08;
    EXPECT_EQ(FLASH_ExtractRomImageFromCapsule(file.data(), 0x1000), file.data() + 0x800);
    EXPECT_EQ(FLASH_ExtractRomImageFromCapsule(file.data(), 0x800), nullptr) << "header at the end";
    EXPECT_EQ(FLASH_ExtractRomImageFromCapsule(file.data(), 0x1D), nullptr) << "shorter than a header";
    file[0x1D] = 0x00;
    file[0x1C] = 0x1E;
    EXPECT_EQ(FLASH_ExtractRomImageFromCapsule(file.data(), 0x1F), file.data() + 0x1E);
    file[5] ^= 1;
    EXPECT_EQ(FLASH_ExtractRomImageFromCapsule(file.data(), 0x1000), nullptr) << "other GUID";
}

TEST_F(SecureFlash, ProgressPercentageHoldsForLargeImages) {
    LoadProgress(0x4000000, 0x3000000, 1);
    EXPECT_EQ(g_Out, " Loading capsule to secure memory buffer ... 0x03000000 (75%) \r");
}

}  // namespace
