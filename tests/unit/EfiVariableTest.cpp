// UEFI variables in-process against the emulated machine: the choice of
// interface, both read forms, both write forms, and the Secure Boot test.
#include <gtest/gtest.h>
#include <cstring>
#include <sys/stat.h>
#include "E2eHarness.h"
#include "TKXEfiVar.h"
#include "TKXPhysMem.h"
#include "UnitMachine.h"

using namespace unitmachine;

namespace {

const char kSecureBootFile[] = "SecureBoot-8be4df61-93ca-11d2-aa0d-00e098032b8c";
const EFI_GUID kVendor = {0x12345678, 0x9ABC, 0xDEF0, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}};
const char kVendorFile[] = "Test-12345678-9abc-def0-0123-456789abcdef";

struct EfiVars : ::testing::Test {
    void Start(const std::vector<std::string>& settings, bool sysfs, bool efivarfs) {
        ASSERT_TRUE(Reset(settings));
        if (sysfs) {
            ASSERT_EQ(mkdir(Root("/sys/firmware/efi/vars").c_str(), 0755), 0);
        }
        if (efivarfs) {
            ASSERT_EQ(mkdir(Root("/sys/firmware/efi/efivars").c_str(), 0755), 0);
        }
        varPathChoice = 0;
        bSecureBootEnable = 0;
    }
    UINT32 Get(const char* name, const EFI_GUID& guid, std::string& data) {
        UINT8* buffer = nullptr;
        UINT32 size = 0;
        EFI_GUID g = guid;
        UINT32 rc = OS_GetFirmwareVariable(reinterpret_cast<UINT8*>(const_cast<char*>(name)), &g, &buffer, &size);
        if (rc == 0) data.assign(reinterpret_cast<char*>(buffer), size);
        FreeMem(buffer);
        return rc;
    }
    UINT32 Set(const char* name, const EFI_GUID& guid, const std::string& data) {
        EFI_GUID g = guid;
        return OS_SetFirmwareVariable(reinterpret_cast<UINT8*>(const_cast<char*>(name)), &g,
                                      reinterpret_cast<UINT8*>(const_cast<char*>(data.data())),
                                      static_cast<UINT32>(data.size()));
    }
    UINT8 SecureBoot() {
        TKXArgvList args;
        UINT8 conti = 1;
        TKX_Linux_SecureBoot_Check(args, conti);
        EXPECT_EQ(conti, 1);
        return TKX_Get_Linux_SecureBoot_Enable();
    }
};

TEST_F(EfiVars, EfivarfsHandsOutTheDataWithoutTheAttributeWord) {
    Start({"efi_vars=efivars"}, false, true);
    WriteRootFile(std::string("/sys/firmware/efi/efivars/") + kSecureBootFile, std::string("\x06\0\0\0\x01", 5));
    std::string data;
    ASSERT_EQ(Get("SecureBoot", SECUREBOOTVARIABLE_GUID, data), 0u);
    EXPECT_EQ(data, "\x01");
    EXPECT_EQ(varPathChoice, 1);
    EXPECT_EQ(SecureBoot(), 1);
    EXPECT_EQ(Get("Missing", SECUREBOOTVARIABLE_GUID, data), 0xFFu);
    // A file too short to hold the attribute word is no variable.
    WriteRootFile(std::string("/sys/firmware/efi/efivars/") + kVendorFile, std::string("\x06\0", 2));
    EXPECT_EQ(Get("Test", kVendor, data), 0xFFu);
}

TEST_F(EfiVars, EfivarfsIsRecognisedByItsTypeOnly) {
    Start({"efi_vars=none"}, false, true);
    WriteRootFile(std::string("/sys/firmware/efi/efivars/") + kSecureBootFile, std::string("\x06\0\0\0\x01", 5));
    std::string data;
    EXPECT_EQ(Get("SecureBoot", SECUREBOOTVARIABLE_GUID, data), 0xFFu);
    EXPECT_EQ(varPathChoice, 0);
    EXPECT_EQ(SecureBoot(), 0);
    EXPECT_EQ(Set("Test", kVendor, "x"), 0xFFu);
}

TEST_F(EfiVars, EfivarfsWriteIsAttributesSevenAndTheData) {
    Start({"efi_vars=efivars"}, false, true);
    ASSERT_EQ(Set("Test", kVendor, "abc"), 0u);
    EXPECT_EQ(e2e::ReadFile(Root(std::string("/sys/firmware/efi/efivars/") + kVendorFile)),
              std::string("\x07\0\0\0abc", 7));
    ASSERT_EQ(Set("Test", kVendor, "z"), 0u);
    EXPECT_EQ(e2e::ReadFile(Root(std::string("/sys/firmware/efi/efivars/") + kVendorFile)),
              std::string("\x07\0\0\0z", 5))
        << "the file is cut to the new size";
}

std::string Record(const char* name, const EFI_GUID& guid, const std::string& data) {
    EFI_SYSFS_VARIABLE v;
    memset(&v, 0, sizeof(v));
    for (size_t i = 0; name[i] != '\0'; ++i) v.VariableName[i] = static_cast<UINT8>(name[i]);
    memcpy(&v.VendorGuid, &guid, 16);
    v.DataSize = data.size();
    memcpy(v.Data, data.data(), data.size());
    v.Attributes = 7;
    return std::string(reinterpret_cast<char*>(&v), sizeof(v));
}

TEST_F(EfiVars, OlderInterfaceWinsAndHandsOutTheWholeRecord) {
    Start({"efi_vars=both"}, true, true);
    std::string dir = std::string("/sys/firmware/efi/vars/") + kSecureBootFile;
    ASSERT_EQ(mkdir(Root(dir).c_str(), 0755), 0);
    WriteRootFile(dir + "/raw_var", Record("SecureBoot", SECUREBOOTVARIABLE_GUID, "\x01"));
    WriteRootFile(std::string("/sys/firmware/efi/efivars/") + kSecureBootFile, std::string("\x06\0\0\0\x00", 5));
    std::string data;
    ASSERT_EQ(Get("SecureBoot", SECUREBOOTVARIABLE_GUID, data), 0u);
    EXPECT_EQ(varPathChoice, 2);
    ASSERT_EQ(data.size(), sizeof(EFI_SYSFS_VARIABLE));
    EXPECT_EQ(data.size(), sizeof(void*) == 8 ? 2084u : 2076u);
    EXPECT_EQ(data[offsetof(EFI_SYSFS_VARIABLE, Data)], 1);
    EXPECT_EQ(SecureBoot(), 1);
    WriteRootFile(dir + "/raw_var", Record("SecureBoot", SECUREBOOTVARIABLE_GUID, std::string(1, '\0')));
    EXPECT_EQ(SecureBoot(), 0);
}

TEST_F(EfiVars, OlderInterfaceWritesNewVariablesToNewVarAndOthersInPlace) {
    Start({}, true, false);
    ASSERT_EQ(Set("Test", kVendor, "hello"), 0u);
    std::string written = e2e::ReadFile(Root("/sys/firmware/efi/vars/new_var"));
    EXPECT_EQ(written, Record("Test", kVendor, "hello"));

    std::string dir = std::string("/sys/firmware/efi/vars/") + kVendorFile;
    ASSERT_EQ(mkdir(Root(dir).c_str(), 0755), 0);
    WriteRootFile(dir + "/raw_var", Record("Test", kVendor, "old"));
    ASSERT_EQ(Set("Test", kVendor, "new"), 0u);
    EXPECT_EQ(e2e::ReadFile(Root(dir + "/raw_var")), Record("Test", kVendor, "new"));
    EXPECT_EQ(e2e::ReadFile(Root("/sys/firmware/efi/vars/new_var")), written);

    EXPECT_EQ(Set("Test", kVendor, std::string(1025, 'x')), 0xFFu) << "more data than a record holds";
    EXPECT_EQ(Set(std::string(512, 'n').c_str(), kVendor, "x"), 0xFFu) << "a name longer than 511 characters";
}

TEST_F(EfiVars, NoInterfaceMeansSecureBootOff) {
    Start({}, false, false);
    std::string data;
    EXPECT_EQ(Get("SecureBoot", SECUREBOOTVARIABLE_GUID, data), 0xFFu);
    EXPECT_EQ(Set("SecureBoot", SECUREBOOTVARIABLE_GUID, "\x01"), 0xFFu);
    bSecureBootEnable = 1;
    EXPECT_EQ(SecureBoot(), 0) << "the test clears the state first";
}

}  // namespace
