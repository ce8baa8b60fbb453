// The test-image tool and the emulated machine: an image built by yozimg is
// taken by yozemu as the flash part with the sample block layout, and the
// "$ECB" settings place the status block in E0000h.
#include <gtest/gtest.h>
#include <cstdlib>
#include <string>
#include "E2eHarness.h"
#include "RomImageBuilder.h"

namespace {

std::string Tool(const std::string& args) {
    std::string dir = e2e::TempDir("yozimg");
    std::string out = dir + "/out.bin";
    std::string cmd = std::string(YOZ_IMGTOOL) + " " + out + " " + args + " >/dev/null 2>&1";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
    return e2e::ReadFile(out);
}

TEST(ImageTool, SampleImageBecomesTheFlashPartAndEcbIsPlaced) {
    std::string image = Tool("vol=0x20000,0xC0000 fid=PRJ00001,key=16 hole=0 slpkey vol=0xE0000,0x20000,ffs3 hole=5");
    ASSERT_EQ(image.size(), 0x100000u);
    EXPECT_EQ(image.substr(0x20000 + 40, 4), "_FVH");
    EXPECT_NE(image.find("$FID"), std::string::npos);

    e2e::Machine m = e2e::MakeMachine(image, "2x64K:nvram,12x64K:main,2x64K:boot",
                                      {"ecb=0x20", "ecb_msg20=Battery low.", "ecb_area_start=0x20000",
                                       "ecb_area_size=0x10000", "ecb_version_offset=0x1234",
                                       "ecb_version_mask=0xa1b2c3d4"});
    EXPECT_EQ(e2e::ReadFile(m.File("flash.bin")), image);
    FILE* mem = fopen(m.Root("/dev/mem").c_str(), "rb");
    ASSERT_NE(mem, nullptr);
    char block[0x200];
    ASSERT_EQ(fseek(mem, 0xE0400, SEEK_SET), 0);
    ASSERT_EQ(fread(block, 1, sizeof(block), mem), sizeof(block));
    fclose(mem);
    EXPECT_EQ(std::string(block, 4), "$ECB");
    EXPECT_EQ(static_cast<unsigned char>(block[4]), 0x20);
    unsigned offset = static_cast<unsigned char>(block[25]) | static_cast<unsigned char>(block[26]) << 8;
    ASSERT_LT(offset - 0x400, sizeof(block));
    EXPECT_STREQ(block + (offset - 0x400), "Battery low.");
    // The EC area fields, little-endian at +5, +9, +0x11 and +0x13.
    EXPECT_EQ(std::string(block + 5, 8), std::string("\x00\x00\x02\x00\x00\x00\x01\x00", 8));
    EXPECT_EQ(std::string(block + 0x11, 6), std::string("\x34\x12\xd4\xc3\xb2\xa1", 6));

    // A version offset wider than its u16 field is refused.
    e2e::RunResult bad = e2e::RunTool({"init", e2e::TempDir("ecbwide") + "/m", "--flash", m.File("flash.bin"),
                                       "--blocks", "2x64K:nvram,12x64K:main,2x64K:boot", "--set", "ecb=0x01", "--set",
                                       "ecb_version_offset=0x10000"});
    EXPECT_NE(bad.status, 0);
}

TEST(ImageTool, EcHeaderInsideARomImageSumsTheWholeImage) {
    for (const char* flag : {"", ",flag"}) {
        SCOPED_TRACE(flag);
        std::string image = Tool(std::string("vol=0x30000,0xB0000 file=1,100 echdr=0x20010,chip=0x4321") + flag);
        ASSERT_EQ(image.size(), 0x100000u);
        ASSERT_EQ(image.substr(0x20010, 7), std::string("$NUVEC\0", 7));
        EXPECT_EQ(static_cast<unsigned char>(image[0x20017]), flag[0] != '\0' ? 1 : 0);
        EXPECT_EQ(static_cast<unsigned char>(image[0x20018]) | static_cast<unsigned char>(image[0x20019]) << 8, 0x4321);
        unsigned sum = 0;
        for (size_t i = flag[0] != '\0' ? 256 : 0; i < image.size(); ++i)
            if (i != 0x2001A && i != 0x2001B) sum += static_cast<unsigned char>(image[i]);
        unsigned stored = static_cast<unsigned char>(image[0x2001A]) | static_cast<unsigned char>(image[0x2001B]) << 8;
        EXPECT_EQ(stored, sum & 0xFFFF);
        EXPECT_EQ(image.substr(0x30000 + 40, 4), "_FVH");
    }
}

TEST(ImageTool, FaultsAndCapsuleForms) {
    std::string good = Tool("vol=0x20000,0xC0000 file=1,100 signed=0x40");
    ASSERT_EQ(good.size(), 0x100040u);
    EXPECT_EQ(static_cast<unsigned char>(good[0x1C]), 0x40);
    std::string broken = Tool("vol=0x20000,0xC0000 file=1,100 break=data-sum:0");
    std::string plain = Tool("vol=0x20000,0xC0000 file=1,100");
    ASSERT_EQ(broken.size(), plain.size());
    EXPECT_NE(broken, plain);
    // A damaged volume header: one byte of the file-system GUID or of "_FVH".
    std::string guid = Tool("vol=0x20000,0xC0000 file=1,100 break=fs-guid:0");
    std::string sig = Tool("vol=0x20000,0xC0000 file=1,100 break=fv-sig:0");
    EXPECT_NE(guid.substr(0x20000 + 16, 16), plain.substr(0x20000 + 16, 16));
    EXPECT_NE(sig.substr(0x20000 + 40, 4), "_FVH");
    EXPECT_EQ(sig.substr(0x20000 + 44), plain.substr(0x20000 + 44));
    // A single binary: descriptor signature at 0x10, pattern bytes over the ME area.
    std::string single = Tool("vol=0x20000,0xC0000 file=1,100 descriptor fill=0x20,0x1FFE0,7");
    EXPECT_EQ(single.substr(0x10, 4), std::string("\x5a\xa5\xf0\x0f", 4));
    EXPECT_EQ(single.substr(0x14, 0x0C), std::string(0x0C, '\xff'));
    romimg::Bytes fill = romimg::Pattern(0x1FFE0, 7);
    EXPECT_EQ(single.substr(0x20, 0x1FFE0), std::string(fill.begin(), fill.end()));
    EXPECT_EQ(single.substr(0x20000), plain.substr(0x20000));
    std::string me = Tool("vol=0x20000,0xC0000 file=1,100 me=0x10000");
    EXPECT_EQ(me.size(), 0x110000u);
    EXPECT_EQ(me.substr(0x100000 + 40, 4), "_FVH");
}

TEST(ImageTool, BsaItemWritesADmiFileWithStructures) {
    auto u32 = [](const std::string& s, size_t at) {
        return static_cast<unsigned>(static_cast<unsigned char>(s[at]) | static_cast<unsigned char>(s[at + 1]) << 8 |
                                     static_cast<unsigned char>(s[at + 2]) << 16 |
                                     static_cast<unsigned char>(s[at + 3]) << 24);
    };
    std::string image = Tool("vol=0x20000,0xC0000 \"bsa=1:16;2:32;1:8;17:12,pad=0x10\"");
    size_t at = image.find("BSA_");
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(u32(image, at + 4), 0x54u);
    EXPECT_EQ(image[at + 8], 1);
    EXPECT_EQ(image[at + 8 + 2], 16);
    EXPECT_EQ(image[at + 8 + 20], 2);
    EXPECT_EQ(image[at + 8 + 20 + 2], 32);
    // The file: its header right before the area, its size with the pad bytes.
    EXPECT_EQ(static_cast<unsigned char>(image[at - 24 + 19]), 0x40);
    EXPECT_EQ(u32(image, at - 24 + 20) & 0xFFFFFF, 24u + 8 + 0x54 + 0x10);

    std::string longForm = Tool("vol=0x20000,0xC0000 bsa=1:16,long,nosum");
    at = longForm.find("BSA_");
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(u32(longForm, at + 4), 9u + 16);
    EXPECT_EQ(static_cast<unsigned char>(longForm[at + 8 + 3]) & 0x80, 0x80);
    EXPECT_EQ(longForm[at + 8 + 5], 16);
    EXPECT_EQ(longForm[at - 24 + 19], 0);
}

}  // namespace
