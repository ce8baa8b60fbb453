// The ACPI walk on synthetic physical memory: RSDP by scan and by systab,
// RSDT before XSDT, revisions 0 and 2, bad signatures, short tables, the
// kernel copies, the FADT's SMI port and the "$ASF" record.
#include <gtest/gtest.h>
#include <cstring>
#include "CaptureOut.h"
#include "EmuAcpi.h"
#include "TKXAcpi.h"
#include "UnitMachine.h"

using namespace unitmachine;

namespace {

const UINT32 kRsdpAt = 0xE0010;
const UINT32 kRsdtAt = 0x100000;
const UINT32 kXsdtAt = 0x101000;
const UINT32 kFacpAt = 0x102000;
const UINT32 kFacp2At = 0x103000;
const UINT32 kTestAt = 0x104000;
const UINT32 kDsdtAt = 0x105000;
const UINT32 kSigTest = 0x54534554;  // "TEST"

std::string Fadt(UINT32 smiCmd, UINT32 length = 244, UINT32 dsdt = kDsdtAt) {
    std::string body(length - 36, '\0');
    EmuPutU32(body, 40 - 36, dsdt);
    EmuPutU32(body, 48 - 36, smiCmd);
    return EmuAcpi_Table("FACP", 6, body);
}

std::string Rsdt(const std::vector<UINT32>& entries, const char* sig = "RSDT") {
    std::string body;
    for (size_t i = 0; i < entries.size(); ++i) EmuPutU32(body, i * 4, entries[i]);
    return EmuAcpi_Table(sig, 1, body);
}

std::string Xsdt(const std::vector<UINT64>& entries, const char* sig = "XSDT") {
    std::string body;
    for (size_t i = 0; i < entries.size(); ++i) EmuPutU64(body, i * 8, entries[i]);
    return EmuAcpi_Table(sig, 1, body);
}

struct AcpiWalk : ::testing::Test {
    void SetUp() override {
        ASSERT_TRUE(Reset());
        TKX_AcpiForgetTables();
    }
    // FACP (port 0x52) listed by the RSDT; another FACP (port 0x60) and TEST
    // listed by the XSDT only.
    void LayOut(UINT8 revision) {
        ASSERT_TRUE(PutPhys(kRsdpAt, EmuAcpi_Rsdp(revision, kRsdtAt, kXsdtAt)));
        ASSERT_TRUE(PutPhys(kRsdtAt, Rsdt({kFacpAt})));
        ASSERT_TRUE(PutPhys(kXsdtAt, Xsdt({kFacp2At, kTestAt})));
        ASSERT_TRUE(PutPhys(kFacpAt, Fadt(0x52)));
        ASSERT_TRUE(PutPhys(kFacp2At, Fadt(0x60)));
        ASSERT_TRUE(PutPhys(kTestAt, EmuAcpi_Table("TEST", 1, "payload")));
    }
    UINT16 Port(UINT32* result = nullptr) {
        UINT16 port = 0xFFFF;
        UINT32 r = TKX_GetAcpiSmiPort(&port);
        if (result != nullptr) *result = r;
        return port;
    }
};

TEST_F(AcpiWalk, Revision2SearchesRsdtFirstThenXsdt) {
    LayOut(2);
    EXPECT_EQ(Port(), 0x52) << "a table in both is taken from the RSDT";
    std::string test = EmuAcpi_Table("TEST", 1, "payload");
    std::vector<char> buffer(64, 'x');
    EXPECT_EQ(TKX_GetAcpiTable(kSigTest, buffer.data(), 64), test.size()) << "found only in the XSDT";
    EXPECT_EQ(std::string(buffer.data(), test.size()), test);
    EXPECT_EQ(TKX_GetAcpiTable(0x54534F4E /* "NOST" */, buffer.data(), 64), 0u);
}

TEST_F(AcpiWalk, SizeQueryAndShortBufferCopyNothing) {
    LayOut(2);
    std::string test = EmuAcpi_Table("TEST", 1, "payload");
    EXPECT_EQ(TKX_GetAcpiTable(kSigTest, nullptr, 0), test.size());
    std::vector<char> buffer(64, 'x');
    EXPECT_EQ(TKX_GetAcpiTable(kSigTest, buffer.data(), static_cast<UINT32>(test.size() - 1)), test.size());
    EXPECT_EQ(std::string(buffer.begin(), buffer.end()), std::string(64, 'x'));
}

TEST_F(AcpiWalk, Revision0IgnoresWhatFollowsTheShortRsdp) {
    LayOut(0);
    // Bytes 24..31 after a 20-byte RSDP happen to hold the XSDT's address.
    std::string tail(16, '\0');
    EmuPutU64(tail, 4, kXsdtAt);
    ASSERT_TRUE(PutPhys(kRsdpAt + 20, tail));
    EXPECT_EQ(Port(), 0x52);
    EXPECT_EQ(TKX_GetAcpiTable(kSigTest, nullptr, 0), 0u) << "no XSDT below revision 2";
}

TEST_F(AcpiWalk, BadOrShortRootTablesAreNotWalked) {
    LayOut(2);
    ASSERT_TRUE(PutPhys(kRsdtAt, Rsdt({kFacpAt}, "RSDX")));
    EXPECT_EQ(Port(), 0x60) << "a bad RSDT leaves the XSDT";

    TKX_AcpiForgetTables();
    std::string shortRsdt = Rsdt({kFacpAt});
    EmuPutU32(shortRsdt, 4, 20);
    ASSERT_TRUE(PutPhys(kRsdtAt, shortRsdt));
    EXPECT_EQ(Port(), 0x60) << "an RSDT shorter than its header is not walked";

    TKX_AcpiForgetTables();
    ASSERT_TRUE(PutPhys(kXsdtAt, Xsdt({kFacp2At, kTestAt}, "XSDX")));
    UINT32 result = 0;
    EXPECT_EQ(Port(&result), 0);
    EXPECT_EQ(result, 0x98u);
    EXPECT_EQ(TKX_GetAcpiTable(kSigTest, nullptr, 0), 0u);
}

TEST_F(AcpiWalk, XsdtAddressZeroIsNotMapped) {
    ASSERT_TRUE(PutPhys(kRsdpAt, EmuAcpi_Rsdp(2, kRsdtAt, 0)));
    ASSERT_TRUE(PutPhys(kRsdtAt, Rsdt({kFacpAt})));
    ASSERT_TRUE(PutPhys(kFacpAt, Fadt(0x52)));
    // Physical 0 holds something that looks like an XSDT listing TEST.
    ASSERT_TRUE(PutPhys(0, Xsdt({kTestAt})));
    ASSERT_TRUE(PutPhys(kTestAt, EmuAcpi_Table("TEST", 1, "payload")));
    EXPECT_EQ(Port(), 0x52);
    EXPECT_EQ(TKX_GetAcpiTable(kSigTest, nullptr, 0), 0u);
}

TEST_F(AcpiWalk, RsdpOutsideTheBiosAreaNeedsSystab) {
    const UINT32 rsdpAt = 0x7FFE0000;
    ASSERT_TRUE(PutPhys(rsdpAt, EmuAcpi_Rsdp(2, kRsdtAt, kXsdtAt)));
    ASSERT_TRUE(PutPhys(kRsdtAt, Rsdt({kFacpAt})));
    ASSERT_TRUE(PutPhys(kXsdtAt, Xsdt({kFacpAt})));
    ASSERT_TRUE(PutPhys(kFacpAt, Fadt(0x52)));
    UINT32 result = 0;
    EXPECT_EQ(Port(&result), 0);
    EXPECT_EQ(result, 0x98u);

    TKX_AcpiForgetTables();
    WriteRootFile("/sys/firmware/efi/systab", "SMBIOS=0x7ff00000\nACPI20=0x7ffe0000\nACPI=0x7ffe0000\n");
    EXPECT_EQ(Port(), 0x52);

    TKX_AcpiForgetTables();
    WriteRootFile("/sys/firmware/efi/systab", "ACPI20=0x7ffe0100\n");
    EXPECT_EQ(Port(&result), 0) << "systab naming no RSDP finds nothing";
}

TEST_F(AcpiWalk, RsdpScanStaysInsideItsArea) {
    // At the last 16-byte boundary of the area a whole RSDP does not fit.
    std::string rsdp = EmuAcpi_Rsdp(2, kRsdtAt, kXsdtAt);
    ASSERT_TRUE(PutPhys(0xFFFF0, rsdp.substr(0, 16)));
    ASSERT_TRUE(PutPhys(kRsdtAt, Rsdt({kFacpAt})));
    ASSERT_TRUE(PutPhys(kFacpAt, Fadt(0x52)));
    UINT32 result = 0;
    Port(&result);
    EXPECT_EQ(result, 0x98u);
}

TEST_F(AcpiWalk, KernelCopiesComeFirst) {
    LayOut(2);
    WriteRootFile("/sys/firmware/acpi/tables/FACP", Fadt(0x62));
    EXPECT_EQ(Port(), 0x62);
    std::string dsdt = EmuAcpi_Table("DSDT", 2, "kernel copy");
    WriteRootFile("/sys/firmware/acpi/tables/DSDT", dsdt);
    std::vector<char> buffer(128, 0);
    EXPECT_EQ(TKX_GetAcpiTable(kAcpiSigDsdt, buffer.data(), 128), dsdt.size());
    EXPECT_EQ(std::string(buffer.data(), dsdt.size()), dsdt);
}

TEST_F(AcpiWalk, DsdtFromTheFadtPointerWithoutKernelCopy) {
    LayOut(2);
    std::string dsdt = EmuAcpi_Table("DSDT", 2, "from memory");
    ASSERT_TRUE(PutPhys(kDsdtAt, dsdt));
    std::vector<char> buffer(128, 0);
    EXPECT_EQ(TKX_GetAcpiTable(kAcpiSigDsdt, buffer.data(), 128), dsdt.size());
    EXPECT_EQ(std::string(buffer.data(), dsdt.size()), dsdt);
}

TEST_F(AcpiWalk, Acpi5And6FadtsGiveTheirPort) {
    for (UINT32 length : {268u, 276u}) {
        ASSERT_TRUE(Reset());
        TKX_AcpiForgetTables();
        LayOut(2);
        ASSERT_TRUE(PutPhys(kFacpAt, Fadt(0x52, length)));
        EXPECT_EQ(Port(), 0x52) << "FADT of " << length << " bytes in memory";
        TKX_AcpiForgetTables();
        WriteRootFile("/sys/firmware/acpi/tables/FACP", Fadt(0x62, length));
        EXPECT_EQ(Port(), 0x62) << "FADT of " << length << " bytes from the kernel copy";
    }
}

TEST_F(AcpiWalk, ZeroSmiCmdIsNoPort) {
    LayOut(2);
    ASSERT_TRUE(PutPhys(kFacpAt, Fadt(0)));
    UINT32 result = 0;
    EXPECT_EQ(Port(&result), 0);
    EXPECT_EQ(result, 0x98u);
}

TEST_F(AcpiWalk, AsfRecordOnlyWhereItFitsWhole) {
    UINT16 port = 0;
    EXPECT_EQ(TKX_GetLegacySmiPort(&port), 0u);
    EXPECT_EQ(port, 0xB2);

    std::string asf(14, '\0');
    memcpy(&asf[0], "$ASF", 4);
    EmuPutU16(asf, 12, 0xB0);
    ASSERT_TRUE(PutPhys(0xFFFF2, asf));
    ASF_HEADER header;
    EXPECT_EQ(TKX_GetAsfTable(&header), 0u);
    EXPECT_EQ(header.SmiPort, 0xB0);
    EXPECT_EQ(TKX_GetLegacySmiPort(&port), 0u);
    EXPECT_EQ(port, 0xB0);

    ASSERT_TRUE(Reset());
    ASSERT_TRUE(PutPhys(0xFFFF4, asf.substr(0, 12)));
    EXPECT_EQ(TKX_GetAsfTable(&header), 0xFFu) << "a record cut by the end of the area is not read";
    EXPECT_EQ(TKX_GetLegacySmiPort(&port), 0u);
    EXPECT_EQ(port, 0xB2);
}

UINT8 ByteSum(const std::vector<char>& data, size_t size) {
    UINT8 sum = 0;
    for (size_t i = 0; i < size && i < data.size(); ++i) sum = static_cast<UINT8>(sum + static_cast<UINT8>(data[i]));
    return sum;
}

TEST_F(AcpiWalk, EmulatedMachineTablesAreFoundByTheWalk) {
    for (const char* sysfs : {"acpi_sysfs=0", "acpi_sysfs=1"}) {
        ASSERT_TRUE(Reset({"smi_port=0x52", sysfs, "fadt_length=276"}));
        TKX_AcpiForgetTables();
        std::string error;
        ASSERT_TRUE(EmuAcpi_Layout(error)) << error;
        EXPECT_EQ(Port(), 0x52) << sysfs;
        std::vector<char> fidt(256, 0);
        UINT32 fidtLength = TKX_GetAcpiTable(kAcpiSigFidt, fidt.data(), 256);
        ASSERT_GE(fidtLength, 0x47u) << sysfs;
        EXPECT_EQ(std::string(&fidt[0x44], 3), std::string("05\0", 3));
        EXPECT_EQ(ByteSum(fidt, fidtLength), 0) << "checksum";
        std::vector<char> dsdt(256, 0);
        UINT32 dsdtLength = TKX_GetAcpiTable(kAcpiSigDsdt, dsdt.data(), 256);
        ASSERT_GE(dsdtLength, 36u) << sysfs;
        EXPECT_EQ(std::string(dsdt.data(), 4), "DSDT");
        EXPECT_EQ(ByteSum(dsdt, dsdtLength), 0);
        std::vector<char> fadt(512, 0);
        EXPECT_EQ(TKX_GetAcpiTable(kAcpiSigFacp, fadt.data(), 512), 276u);
        EXPECT_EQ(ByteSum(fadt, 276), 0);
    }
    std::string rsdp = GetPhys(0xE8000, 36);
    std::vector<char> bytes(rsdp.begin(), rsdp.end());
    EXPECT_EQ(rsdp.substr(0, 8), "RSD PTR ");
    EXPECT_EQ(ByteSum(bytes, 20), 0) << "RSDP checksum";
    EXPECT_EQ(ByteSum(bytes, 36), 0) << "RSDP extended checksum";
}

TEST_F(AcpiWalk, DsdtDumpPrintsRowsOfSixteen) {
    std::string dsdt = EmuAcpi_Table("DSDT", 2, std::string(4, '\x5a'));
    WriteRootFile("/sys/firmware/acpi/tables/DSDT", dsdt);
    unit::CapturedOut out;
    TKX_DumpAcpiDsdt();
    std::string expected = "\n  0000: 44 53 44 54 28 00 00 00 02 ";
    char checksum[8];
    snprintf(checksum, sizeof(checksum), "%02X ", static_cast<UINT8>(dsdt[9]));
    expected += checksum;
    expected += "59 4F 5A 45 4D 55 \n  0010: 59 4F 5A 4D 41 43 48 20 01 00 00 00 59 4F 5A 45 "
                "\n  0020: 01 00 00 00 5A 5A 5A 5A \n";
    EXPECT_EQ(out.Text(), expected);
}

}  // namespace
