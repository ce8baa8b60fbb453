// Volume and file checksum walk over built images, each one-fault mutator,
// and real firmware images from the ovmf package.
#include <gtest/gtest.h>
#include <cstdio>
#include <fstream>
#include "RomImageBuilder.h"
#include "RomModelKit.h"
#include "YozRomFile.h"

using namespace romimg;

namespace {

SampleSpec Typical() {
    SampleSpec s;
    s.mainFiles = {PlainFile(1, 300), FidFile(FidSpec()), RomHoleFile(0, 64), PadFile(40), PlainFile(2, 1)};
    s.bootFiles = {PlainFile(3, 500), SlpKeyFile(20)};
    return s;
}

class ChecksumWalk : public ::testing::Test {
protected:
    void SetUp() override { romkit::SetBlocks(SampleBlocks()); }
    UINT8 Walk(Rom& r) {
        romkit::UseImage(r.bytes);
        return YOZ_RomFile_CheckSum(r.bytes.data(), r.size());
    }
};

TEST_F(ChecksumWalk, AcceptsGoodImagesOfBothFileSystemsAndRevisions) {
    Rom r = SampleRom(Typical());
    EXPECT_EQ(Walk(r), 1);
    EXPECT_EQ(YOZ_RomFile_PIVersion, 0x10000u);
    // The firmware-ID file holds the version-4 record: its start is kept.
    EXPECT_EQ(YOZ_RomFile_GetCheckSumOffset(), r.File(kFidFile).offset);

    SampleSpec s = Typical();
    s.mainRevision = 1;
    s.mainFiles[0].attributes = 0x41;   // checksum and tail
    Rom old = SampleRom(s);
    // The boot volume (revision 2) comes last and sets the version.
    EXPECT_EQ(Walk(old), 1);
    EXPECT_EQ(YOZ_RomFile_PIVersion, 0x10000u);
}

TEST_F(ChecksumWalk, RejectsEachHeaderAndDataFault) {
    {
        Rom r = SampleRom(Typical());
        mut::VolumeHeaderSum(r, 1);
        EXPECT_EQ(Walk(r), 0);
    }
    {
        Rom r = SampleRom(Typical());
        mut::FileHeaderSum(r, r.File(kFidFile));
        EXPECT_EQ(Walk(r), 0);
    }
    {
        Rom r = SampleRom(Typical());
        mut::FileDataSum(r, r.File(PlainGuid(3)));
        EXPECT_EQ(Walk(r), 0);
    }
    {
        // A file without the checksum attribute needs 0xAA or 0x5A.
        Rom r = SampleRom(Typical());
        mut::FileNoSumMark(r, r.File(PadFile(0).name), 0x5A);
        EXPECT_EQ(Walk(r), 1);
        mut::FileNoSumMark(r, r.File(PadFile(0).name), 0x00);
        EXPECT_EQ(Walk(r), 0);
    }
}

TEST_F(ChecksumWalk, TailsCountOnlyInRevisionOneVolumes) {
    SampleSpec s = Typical();
    s.mainRevision = 1;
    s.mainFiles[0].attributes = 0x41;
    Rom r = SampleRom(s);
    mut::FileTail(r, r.File(PlainGuid(1)));
    EXPECT_EQ(Walk(r), 0);

    // In an FFS3 revision-2 volume attribute 0x01 means no tail: the last two
    // body bytes are data and the data sum covers them.
    SampleSpec t = Typical();
    t.bootFiles[0].attributes = 0x41;
    Rom r3 = SampleRom(t);
    EXPECT_EQ(Walk(r3), 1);
    mut::FileTail(r3, r3.File(PlainGuid(3)));
    EXPECT_EQ(Walk(r3), 0);
}

TEST_F(ChecksumWalk, RejectsVolumeAndFileLengthsThatDoNotFit) {
    {
        Rom r = SampleRom(Typical());
        mut::FvLength(r, 0, 0);   // would loop for ever if trusted
        EXPECT_EQ(Walk(r), 0);
    }
    {
        Rom r = SampleRom(Typical());
        mut::FvLength(r, 1, 0x40000);   // past the end of the image
        EXPECT_EQ(Walk(r), 0);
    }
    {
        Rom r = SampleRom(Typical());
        mut::FvLength(r, 0, 0x100000000ULL + kSampleMainLength);   // high half set
        EXPECT_EQ(Walk(r), 0);
    }
    {
        Rom r = SampleRom(Typical());
        mut::HeaderLength(r, 0, 0x37);
        EXPECT_EQ(Walk(r), 0);
    }
    {
        Rom r = SampleRom(Typical());
        mut::FileSize(r, r.File(PlainGuid(1)), 8);   // below a header
        EXPECT_EQ(Walk(r), 0);
    }
    {
        Rom r = SampleRom(Typical());
        mut::FileSize(r, r.File(PlainGuid(3)), kSampleBootLength);   // past the volume
        EXPECT_EQ(Walk(r), 0);
    }
}

TEST_F(ChecksumWalk, SignatureInTheFirstFortyBytesIsNoVolume) {
    Rom r = SampleRom(Typical());
    // A volume header whose signature sits 8 bytes into the image would start
    // before it; a broken header there must not be walked.
    r.Put(8, Text("_FVH"));
    EXPECT_EQ(Walk(r), 1);
}

TEST_F(ChecksumWalk, ShortImageIsWalkedWithinItsOwnSize) {
    Rom r = SampleRom(Typical());
    // Cut inside the boot volume: the walk must report it, not read past the end.
    Bytes cut(r.bytes.begin(), r.bytes.begin() + kSampleBoot + 0x8000);
    romkit::UseImage(cut);
    EXPECT_EQ(YOZ_RomFile_CheckSum(cut.data(), static_cast<UINT32>(cut.size())), 0);
}

// Real firmware that no one here wrote.
static Bytes ReadIfPresent(const char* path) {
    std::ifstream f(path, std::ios::binary);
    if (!f) return Bytes();
    return Bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

// Offset of the first file with a body (with the checksum attribute when
// `checksummed`), found by walking the volumes with the builder's own reading.
static long FirstFile(const Bytes& b, bool checksummed) {
    for (size_t v = 0; v + 0x48 <= b.size(); v += 0x1000) {
        if (Get32(b, v + 40) != 0x4856465F) continue;   // "_FVH"
        Guid fs;
        std::copy(b.begin() + v + 16, b.begin() + v + 32, fs.b);
        if (!(fs == kFfs2) && !(fs == kFfs3)) continue;
        size_t len = Get32(b, v + 32);
        size_t off = v + Get16(b, v + 48);
        while (off + 24 <= v + len) {
            uint32_t size = b[off + 20] | b[off + 21] << 8 | b[off + 22] << 16;
            if (size < 24 || size == 0xFFFFFF) break;
            if (size > 24 && b[off + 18] != 0xF0 && (!checksummed || (b[off + 19] & 0x40))) return static_cast<long>(off);
            off += (size + 7) & ~7u;
        }
    }
    return -1;
}

TEST(ChecksumWalkReal, AcceptsOvmfImagesAndRejectsOneFlippedByte) {
    const char* paths[] = {"/usr/share/ovmf/OVMF.fd", "/usr/share/OVMF/OVMF_CODE.fd", "/usr/share/OVMF/OVMF_CODE_4M.fd"};
    int tested = 0;
    for (const char* path : paths) {
        Bytes b = ReadIfPresent(path);
        if (b.empty()) continue;
        ++tested;
        romkit::SetBlocks({{static_cast<uint32_t>(b.size() / 0x1000), 0x1000, 1}});
        romkit::UseImage(b);
        YOZ_RomFile_PIVersion = 0;
        EXPECT_EQ(YOZ_RomFile_CheckSum(b.data(), static_cast<UINT32>(b.size())), 1) << path;
        EXPECT_NE(YOZ_RomFile_PIVersion, 0u) << path << ": no volume was walked";
        // One flipped data byte of a checksummed file, where the image has
        // one; otherwise one flipped byte of a file header.
        long f = FirstFile(b, true);
        Bytes broken = b;
        if (f >= 0) {
            broken[f + 24] ^= 0x01;
        } else {
            f = FirstFile(b, false);
            ASSERT_GE(f, 0) << path;
            broken[f + 2] ^= 0x01;
        }
        romkit::UseImage(broken);
        EXPECT_EQ(YOZ_RomFile_CheckSum(broken.data(), static_cast<UINT32>(broken.size())), 0) << path;
    }
    if (tested == 0) GTEST_SKIP() << "the ovmf package is not installed";
}

}  // namespace
