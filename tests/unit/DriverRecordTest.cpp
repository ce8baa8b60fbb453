// Request records of the driver as the emulated kernel decodes them for both
// process widths, against the byte offsets of each layout and against the
// program's own records; and the shell quoting of operator-given text.
#include <gtest/gtest.h>
#include <cstring>
#include "EmuDriver.h"
#include "TKXDriver.h"
#include "TKXShell.h"

namespace {

void Put(UINT8* b, UINT32 at, UINT32 bytes, UINT64 v) {
    for (UINT32 i = 0; i < bytes; ++i) b[at + i] = static_cast<UINT8>(v >> (8 * i));
}

TEST(DriverRecords, AllocLayoutsOfBothWidths) {
    EXPECT_EQ(EmuDriver_AllocSize(64), 40u);
    EXPECT_EQ(EmuDriver_AllocSize(32), 20u);
    UINT8 b64[40] = {}, b32[20] = {};
    Put(b64, 0, 8, 0x11000);
    Put(b64, 32, 8, 0x123456789ULL);
    Put(b32, 0, 4, 0xFFFFFFFF);  // -1: a negative size stays negative
    Put(b32, 16, 4, 0x00800000);
    EmuDrvAlloc a = EmuDriver_DecodeAlloc(b64, 64);
    EXPECT_EQ(a.size, 0x11000);
    EXPECT_EQ(a.kphysadd, 0x123456789ULL);
    EmuDrvAlloc c = EmuDriver_DecodeAlloc(b32, 32);
    EXPECT_EQ(c.size, -1);
    EXPECT_EQ(c.kphysadd, 0x800000u);

    c.kvirtadd = 0xC0800000;
    UINT8 out[20] = {};
    EmuDriver_EncodeAlloc(c, 32, out);
    EXPECT_EQ(out[12], 0x00);
    EXPECT_EQ(out[14], 0x80);
    EXPECT_EQ(out[15], 0xC0);
    EXPECT_EQ(out[18], 0x80);
}

TEST(DriverRecords, PortWriteLayoutsOfBothWidths) {
    EXPECT_EQ(EmuDriver_PortWriteSize(64), 59u);
    EXPECT_EQ(EmuDriver_PortWriteSize(32), 31u);
    const UINT32 offsets64[] = {3, 11, 19, 27, 35, 43, 51};
    const UINT32 offsets32[] = {3, 7, 11, 15, 19, 23, 27};
    UINT8 b64[59] = {}, b32[31] = {};
    Put(b64, 0, 2, 0xB2);
    b64[2] = 0x25;
    Put(b32, 0, 2, 0x52);
    b32[2] = 0xD9;
    for (UINT32 i = 0; i < 7; ++i) {
        Put(b64, offsets64[i], 8, 0x1000 + i);
        Put(b32, offsets32[i], 4, 0x2000 + i);
    }
    EmuDrvPortWrite p = EmuDriver_DecodePortWrite(b64, 64);
    EXPECT_EQ(p.Port, 0xB2);
    EXPECT_EQ(p.Value, 0x25);
    EXPECT_EQ(p.Edi, 0x1000u);
    EXPECT_EQ(p.Ebx, 0x1003u);
    EXPECT_EQ(p.Eax, 0x1006u);
    EmuDrvPortWrite q = EmuDriver_DecodePortWrite(b32, 32);
    EXPECT_EQ(q.Port, 0x52);
    EXPECT_EQ(q.Esi, 0x2001u);
    EXPECT_EQ(q.Ecx, 0x2005u);

    UINT8 round[31] = {};
    EmuDriver_EncodePortWrite(q, 32, round);
    EXPECT_EQ(0, memcmp(round, b32, sizeof(round)));
}

// The records the program sends are the ones the emulated kernel decodes.
TEST(DriverRecords, ProgramRecordsMatchTheNativeLayout) {
    const UINT32 width = sizeof(void*) * 8;
    NUVFLDRV_ALLOC a = {};
    a.size = 0x10000;
    a.kphysadd = 0xABC000;
    EmuDrvAlloc d = EmuDriver_DecodeAlloc(reinterpret_cast<UINT8*>(&a), width);
    EXPECT_EQ(d.size, 0x10000);
    EXPECT_EQ(d.kphysadd, 0xABC000u);
    NUVFLDRV_PORTWRITEBYTE p = {};
    p.Port = 0xB2;
    p.Value = 0x7F;
    p.Ecx = 0xC0000001;
    p.Eax = 5;
    EmuDrvPortWrite e = EmuDriver_DecodePortWrite(reinterpret_cast<UINT8*>(&p), width);
    EXPECT_EQ(e.Port, 0xB2);
    EXPECT_EQ(e.Value, 0x7F);
    EXPECT_EQ(e.Ecx, 0xC0000001u);
    EXPECT_EQ(e.Eax, 5u);
    EXPECT_EQ(sizeof(NUVFLDRV_PORTWRITEBYTE), EmuDriver_PortWriteSize(width));
}

TEST(ShellQuote, KeepsBlanksQuotesAndMetacharactersLiteral) {
    char out[64];
    ASSERT_EQ(TKX_ShellQuote(out, sizeof(out), "my kit;rm -rf ~"), 1);
    EXPECT_STREQ(out, "'my kit;rm -rf ~'");
    ASSERT_EQ(TKX_ShellQuote(out, sizeof(out), "it's"), 1);
    EXPECT_STREQ(out, "'it'\\''s'");
    ASSERT_EQ(TKX_ShellQuote(out, sizeof(out), ""), 1);
    EXPECT_STREQ(out, "''");
    char small[6];
    EXPECT_EQ(TKX_ShellQuote(small, sizeof(small), "abcd"), 0) << "'abcd' needs 7 bytes";
    EXPECT_STREQ(small, "");
    EXPECT_EQ(TKX_ShellQuote(small, sizeof(small), "abc"), 1);
    EXPECT_STREQ(small, "'abc'");
}

}  // namespace
