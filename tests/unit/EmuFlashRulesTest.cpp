// What the emulated firmware refuses of the flash requests: block and ROM
// information requests on a closed interface, ROM information requests not
// laid out as the program must send them, and, under an open runtime
// secure-flash session, writes of bytes that were not uploaded.
#include <gtest/gtest.h>
#include <cstring>
#include <functional>
#include <string>
#include <vector>
#include "EmuSmi.h"
#include "FlashBlock.h"
#include "FlashRig.h"
#include "RomInfo.h"
#include "SecureFlash.h"
#include "SmiTransport.h"
#include "TKXPortIo.h"
#include "ZoktFormat.h"

using unit::FlashRig;
using unit::Pattern;

namespace {

const char kLayout[] = "4x4K:main";

std::string Smi(const char* command, const std::string& fields) {
    return "smi cmd=0x" + std::string(command) + " port=0xb2 ebx=0x7e000000" + fields;
}

UINT8* Data(std::string& s) { return reinterpret_cast<UINT8*>(&s[0]); }

TEST(EmuFlashRules, TheClosedInterfaceRefusesBlockAndInformationRequests) {
    const std::string flash = Pattern(0x4000, 3);
    FlashRig rig(flash, kLayout);
    ASSERT_TRUE(rig.Ok()) << rig.Error();
    std::string data = Pattern(0x1000, 9);
    std::string read(0x1000, '\0');
    struct Case {
        const char* what;
        std::function<ENUM_ERR_ID()> call;
        ENUM_ERR_ID result;
        std::string line;
    } cases[] = {
        {"read", [&] { return FLASH_ReadBlockEx(0x1000, 0x1000, Data(read), nullptr); }, eEID_READ_FLASH,
         Smi("21", " addr=0x00001000 size=0x00001000 status=0x01 refused=\"closed\"")},
        {"erase", [&] { return FLASH_EraseBlockEx(0x2000, 0x1000, nullptr); }, eEID_ERASE_FLASH,
         Smi("22", " addr=0x00002000 size=0x00001000 status=0x01 refused=\"closed\"")},
        {"write", [&] { return FLASH_WriteBlockEx(0x3000, 0x1000, Data(data), nullptr); }, eEID_WRITE_FLASH,
         Smi("23", " addr=0x00003000 size=0x00001000 status=0x01 refused=\"closed\"")},
        {"ROM information",
         [&] {
             sROMInfo* answer = nullptr;
             return GetFlashInfo(&answer);
         },
         eEID_FLASH_GET_INFO, Smi("25", " refused=\"closed\"")},
    };
    CleanFlashIfc();
    for (const Case& c : cases) {
        rig.ClearTrace();
        EXPECT_EQ(c.call(), c.result) << c.what;
        EXPECT_EQ(rig.Trace(), std::vector<std::string>{c.line}) << c.what;
    }
    EXPECT_EQ(rig.Flash(), flash);

    // Opened again, the same requests go through.
    ASSERT_EQ(EnableFlashIfc(), eEID_NO_ERROR);
    rig.ClearTrace();
    ASSERT_EQ(FLASH_EraseBlockEx(0x2000, 0x1000, nullptr), eEID_NO_ERROR);
    ASSERT_EQ(FLASH_WriteBlockEx(0x2000, 0x1000, Data(data), nullptr), eEID_NO_ERROR);
    EXPECT_EQ(rig.Flash().substr(0x2000, 0x1000), data);
    EXPECT_EQ(rig.SmiSequence(), "22 23 ");
}

TEST(EmuFlashRules, RefusedOpenLeavesTheInterfaceClosed) {
    FlashRig rig(Pattern(0x4000, 3), kLayout, {"flash_faults=open#2+:3"});
    ASSERT_TRUE(rig.Ok()) << rig.Error();
    CleanFlashIfc();
    EXPECT_EQ(EnableFlashIfc(), eEID_FLASH_NOT_ALLOWED);
    std::string read(0x1000, '\0');
    rig.ClearTrace();
    EXPECT_EQ(FLASH_ReadBlockEx(0, 0x1000, Data(read), nullptr), eEID_READ_FLASH);
    EXPECT_EQ(rig.Trace(),
              std::vector<std::string>{Smi("21", " addr=0x00000000 size=0x00001000 status=0x01 refused=\"closed\"")});
}

TEST(EmuFlashRules, RomInformationRequestsAreCheckedAsLaidOut) {
    FlashRig rig(Pattern(0x4000, 3), kLayout);
    ASSERT_TRUE(rig.Ok()) << rig.Error();
    struct Case {
        const char* what;
        UINT32 length;
        UINT8 subFunction;
        UINT8 form;
        std::string fields;  // of the trace line; refusals leave the buffer as it was
    } cases[] = {
        {"no sub-function", 0x11000, 0, 0, " refused=\"sub-function\""},
        {"unknown sub-function", 0x11000, 3, 0, " refused=\"sub-function\""},
        {"short length", 0x10000, 1, 0, " refused=\"length\""},
        {"no length", 0, 1, 0, " refused=\"length\""},
        {"large retry without length", 0x10000, 1, 0x0E, " refused=\"length\""},
        {"the request as laid out", 0x11000, 1, 0, " info=head16 status=0x00"},
        {"layout change with its data length", 0x20, 2, 0, " layout size=0x00000020 status=0x00"},
    };
    for (const Case& c : cases) {
        memset(gpIntrBuf, 0x5C, INTERFACE_BUFFER_SIZE);
        memcpy(gpIntrBuf, &c.length, 4);
        gpIntrBuf[4] = c.subFunction;
        gpIntrBuf[5] = c.form;
        std::vector<UINT8> before(gpIntrBuf, gpIntrBuf + INTERFACE_BUFFER_SIZE);
        rig.ClearTrace();
        TKX_GeneralPurposeRegisterBuffer regs{0, 0, 0, gIntrBufPhyAddr, 0xB2, 0, 0x25};
        EmuSmi_Dispatch(0xB2, 0x25, regs);
        EXPECT_EQ(rig.Trace(), std::vector<std::string>{Smi("25", c.fields)}) << c.what;
        bool refused = c.fields.find("refused") != std::string::npos;
        EXPECT_EQ(memcmp(before.data(), gpIntrBuf, INTERFACE_BUFFER_SIZE) == 0, refused) << c.what;
    }
}

// Secure flash: an upload and a runtime session, then block writes.
class EmuSecureWrites : public ::testing::Test {
protected:
    const std::string flash = Pattern(0x4000, 3);
    std::string image = Pattern(0x4000, 21);
    // The secure-flash module leaves the run marked secure: later tests of
    // the same process start without it.
    void TearDown() override { FLASH_SetSecureFlashSupported(0); }
    void OpenSession(UINT32 size) {
        TKXQueueItemList items;
        items.init();
        g_ZoktVer = 0x210;
        ASSERT_EQ(RegisterSecureFlashQueueItem(items), eEID_NO_ERROR);
        ASSERT_EQ(items[0]->ExecutionActionFunction(items), eEID_NO_ERROR);
        FLASH_ConfigFlashSessionBlock(FLASH_OP_RUNTIME, FLASH_BLOCK_MAIN, nullptr, size);
        ASSERT_EQ(FLASH_LoadFwImage(Data(image), size, 0, nullptr), 1);
        ASSERT_EQ(FLASH_SetFlashMethod(), 0);
        items.clear();
    }
    ENUM_ERR_ID Write(UINT32 address, std::string data) {
        return FLASH_WriteBlockEx(address, static_cast<UINT32>(data.size()), Data(data), nullptr);
    }
};

TEST_F(EmuSecureWrites, OnlyTheUploadedBytesAreWrittenAtTheirAddress) {
    FlashRig rig(flash, kLayout, {"secure_flash=1"});
    ASSERT_TRUE(rig.Ok()) << rig.Error();
    OpenSession(0x4000);
    ASSERT_EQ(FLASH_EraseBlockEx(0x1000, 0x2000, nullptr), eEID_NO_ERROR);
    rig.ClearTrace();
    EXPECT_EQ(Write(0x1000, image.substr(0x1000, 0x1000)), eEID_NO_ERROR);
    EXPECT_EQ(Write(0x2000, image.substr(0x1000, 0x1000)), eEID_WRITE_FLASH) << "the image's bytes, at another address";
    std::string changed = image.substr(0x2000, 0x1000);
    changed[0x800] ^= 1;
    EXPECT_EQ(Write(0x2000, changed), eEID_WRITE_FLASH) << "one byte not uploaded";
    EXPECT_EQ(rig.Trace(), (std::vector<std::string>{
                               Smi("23", " addr=0x00001000 size=0x00001000 status=0x00"),
                               Smi("23", " addr=0x00002000 size=0x00001000 status=0x01 refused=\"not-uploaded\""),
                               Smi("23", " addr=0x00002000 size=0x00001000 status=0x01 refused=\"not-uploaded\"")}));
    EXPECT_EQ(rig.Flash().substr(0x1000, 0x1000), image.substr(0x1000, 0x1000));
    EXPECT_EQ(rig.Flash().substr(0x2000, 0x1000), std::string(0x1000, '\xFF'));

    // The next run's policy request ends the session: outside one only
    // write-once data goes into blank flash; nothing is erased, nothing
    // programmed over bytes already written.
    FLASH_POLICY_INFO_BLOCK policy;
    ASSERT_EQ(ZOKT_GetSupportedPolicy(&policy), 1);
    rig.ClearTrace();
    EXPECT_EQ(Write(0x2000, changed), eEID_NO_ERROR);
    EXPECT_EQ(Write(0x1000, changed), eEID_WRITE_FLASH);
    EXPECT_EQ(FLASH_EraseBlockEx(0x1000, 0x1000, nullptr), eEID_ERASE_FLASH);
    EXPECT_EQ(rig.Trace(), (std::vector<std::string>{
                               Smi("23", " addr=0x00002000 size=0x00001000 status=0x00"),
                               Smi("23", " addr=0x00001000 size=0x00001000 status=0x01 refused=\"no-session\""),
                               Smi("22", " addr=0x00001000 size=0x00001000 status=0x01 refused=\"no-session\"")}));
    EXPECT_EQ(rig.Flash().substr(0x1000, 0x2000), image.substr(0x1000, 0x1000) + changed);

    // A session whose operation the policy does not allow is refused.
    const struct {
        const char* policy;
        UINT8 operation;
        FLASH_BLOCK_TYPE area;
    } refusals[] = {{"sf_policy0=0x03", FLASH_OP_RUNTIME, FLASH_BLOCK_NVRAM},
                    {"sf_policy1=0x03", FLASH_OP_RUNTIME, FLASH_BLOCK_BOOT},
                    {"sf_policy1=0x05", FLASH_OP_CAPSULE, FLASH_BLOCK_MAIN}};
    for (const auto& r : refusals) {
        FlashRig refusing(flash, kLayout, {"secure_flash=1", r.policy});
        ASSERT_TRUE(refusing.Ok()) << refusing.Error();
        TKXQueueItemList items;
        items.init();
        ASSERT_EQ(RegisterSecureFlashQueueItem(items), eEID_NO_ERROR);
        ASSERT_EQ(items[0]->ExecutionActionFunction(items), eEID_NO_ERROR);
        items.clear();
        FLASH_ConfigFlashSessionBlock(r.operation, r.area, nullptr, 0x4000);
        EXPECT_EQ(FLASH_SetFlashMethod(), 1) << r.policy;
    }
}

TEST_F(EmuSecureWrites, AnUploadSmallerThanTheFlashIsBlockDataAndNotCompared) {
    FlashRig rig(flash, kLayout, {"secure_flash=1"});
    ASSERT_TRUE(rig.Ok()) << rig.Error();
    OpenSession(0x1800);
    ASSERT_EQ(FLASH_EraseBlockEx(0x3000, 0x1000, nullptr), eEID_NO_ERROR);
    std::string data = image.substr(0, 0x1000);
    EXPECT_EQ(Write(0x3000, data), eEID_NO_ERROR);
    EXPECT_EQ(rig.Flash().substr(0x3000, 0x1000), data);
}

}  // namespace
