// The container walker on files built in memory: finding the container,
// listing its records, plain and compressed payloads, damaged trailers.
#include <gtest/gtest.h>
#include <cstring>
#include <string>
#include <unistd.h>
#include "RomCompressor.h"
#include "TKXFile.h"
#include "TKXPhysMem.h"
#include "TKXUaf.h"
#include "UafBuilder.h"

namespace {

// Fake program bytes: size `n`, with a few "@UAF" look-alikes at aligned
// offsets (as code and data can hold them).
std::string Program(size_t n) {
    std::string p(n, '\x90');
    for (size_t at = 64; at + 16 <= n; at += 4096) {
        memcpy(&p[at], "@UAF", 4);
        romz::PutLE32(p, at + 4, 0x40);
    }
    return p;
}

struct Walker : ::testing::Test {
    std::string file;
    UINT8* Data() { return reinterpret_cast<UINT8*>(&file[0]); }
    UINT32 Size() const { return static_cast<UINT32>(file.size()); }
    // FindUaf, then the walk from after the header, as LoadUaf does.
    unsigned long Index(const std::string& f) {
        file = f;
        TKXUafDataList.clear();
        if (FindUaf(Data(), Size()) == 0) return 0;
        UINT8* header = reinterpret_cast<UINT8*>(TKXUafDataList[0]);
        if (header + 16 < Data() + Size()) {
            EnumAllUafData(Data(), reinterpret_cast<_TKX_UAF_DATA*>(header + 16), Size());
        }
        return TKXUafDataList.size();
    }
    size_t OffsetOf(unsigned long i) { return reinterpret_cast<UINT8*>(TKXUafDataList[i]) - Data(); }
    void TearDown() override { TKXUafDataList.clear(); }
};

TEST_F(Walker, ContainerWithOneRecordAtTheEnd) {
    // 0x1000 bytes of program, then a 112-byte container: header + one 96-byte record.
    std::string record = uaf::Record("@UII", std::string(72, 'i'));
    ASSERT_EQ(record.size(), 96u);
    ASSERT_EQ(Index(uaf::Append(Program(0x1000), uaf::Container({record}))), 2u);
    EXPECT_EQ(OffsetOf(0), 0x1000u);
    EXPECT_EQ(OffsetOf(1), 0x1010u);
    EXPECT_EQ(TKXUafDataList[0]->Length, 112u);
    EXPECT_EQ(TKXUafDataList[1]->Length, 96u);

    _TKX_UAF_DATA* rec = nullptr;
    // The header is element 0: its "payload" is 0x18 bytes in.
    EXPECT_EQ(GetUafDataBySign("@UAF", &rec), Data() + 0x1000 + 0x18);
    EXPECT_EQ(rec, TKXUafDataList[0]);
    UINT8* payload = GetUafDataBySign("@UII", &rec);
    EXPECT_EQ(payload, Data() + 0x1010 + 0x18);
    EXPECT_EQ(rec, TKXUafDataList[1]);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(payload), rec->StoredSize), std::string(72, 'i'));
    rec = TKXUafDataList[0];
    EXPECT_EQ(GetUafDataBySign("@ROM", &rec), nullptr);
    EXPECT_EQ(rec, nullptr);
    EXPECT_EQ(GetUafDataBySign("@U", &rec), nullptr) << "short signatures compare with their terminator";
}

TEST_F(Walker, PlainAndCompressedRecordsInFileOrder) {
    std::string text;
    for (int i = 0; i < 400; ++i) text += "/B /P /N /R line " + std::to_string(i % 7) + "\n";
    std::vector<std::string> records = {uaf::Record("@UII", "build 1"), uaf::Record("@CMD", "/bogus", true),
                                        uaf::Record("@VER", "1.02"), uaf::Record("@ROM", text, true)};
    ASSERT_EQ(Index(uaf::Append(Program(0x2345), uaf::Container(records))), 5u);
    EXPECT_EQ(OffsetOf(0), 0x2350u) << "the program is padded to 16";
    const char* sigs[] = {"@UAF", "@UII", "@CMD", "@VER", "@ROM"};
    for (unsigned long i = 0; i < 5; ++i) EXPECT_EQ(std::string(TKXUafDataList[i]->Signature, 4), sigs[i]);

    _TKX_UAF_DATA* rec = nullptr;
    UINT8* plain = GetUafDataBySign("@VER", &rec);
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(rec->StoredSize, rec->UnpackedSize);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(plain), rec->StoredSize), "1.02");

    ASSERT_NE(GetUafDataBySign("@ROM", &rec), nullptr);
    ASSERT_NE(rec->StoredSize, rec->UnpackedSize);
    EXPECT_LT(rec->StoredSize, text.size() / 4);
    std::vector<UINT8> out(rec->UnpackedSize + 0x8000);
    UINT32 n = DecompressUafData(out.data(), static_cast<UINT32>(out.size()),
                                 reinterpret_cast<UINT8*>(rec) + UAF_STREAM_OFFSET, rec->StoredSize);
    ASSERT_EQ(n, text.size());
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out.data()), n), text);

    ASSERT_NE(GetUafDataBySign("@CMD", &rec), nullptr);
    n = DecompressUafData(out.data(), static_cast<UINT32>(out.size()),
                          reinterpret_cast<UINT8*>(rec) + UAF_STREAM_OFFSET, rec->StoredSize);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out.data()), n), "/bogus");
}

TEST_F(Walker, NoContainerAndLookAlikes) {
    EXPECT_EQ(Index(Program(0x3000)), 0u) << "look-alikes in the program do not end at the end of the file";
    EXPECT_EQ(Index(""), 0u);
    EXPECT_EQ(Index("@UAF" + std::string(12, '\0')), 0u) << "offset 0 is not probed";
    // A look-alike whose length happens to reach the end is still refused when
    // its length is below the 16-byte header.
    std::string p = Program(0x100);
    p += "@UAF";
    p += std::string(12, '\0');
    romz::PutLE32(p, 0x104, 0x10);
    EXPECT_EQ(Index(p), 1u) << "a bare 16-byte container is a container";
    romz::PutLE32(p, 0x104, 0x8);
    EXPECT_EQ(Index(p), 0u);
    // Not 16-aligned: not a container.
    std::string q = Program(0x108) + uaf::Container({uaf::Record("@UII", "x")});
    EXPECT_EQ(Index(q), 0u);
}

TEST_F(Walker, TwoContainersYieldTheLast) {
    std::string first = uaf::Container({uaf::Record("@VER", "old")});
    std::string second = uaf::Container({uaf::Record("@VER", "new"), uaf::Record("@UII", "u")});
    ASSERT_EQ(Index(uaf::Append(uaf::Append(Program(0x400), first), second)), 3u);
    EXPECT_EQ(OffsetOf(0), 0x400 + first.size());
    _TKX_UAF_DATA* rec = nullptr;
    EXPECT_EQ(std::string(reinterpret_cast<char*>(GetUafDataBySign("@VER", &rec)), 3), "new");
}

TEST_F(Walker, DamagedRecordsEndTheWalkInsideTheFile) {
    const std::string good = uaf::Record("@UII", "build");
    auto build = [&](const std::string& damaged) { return uaf::Append(Program(0x200), uaf::Container({good, damaged})); };

    // Stored size past the end of the file: not listed.
    EXPECT_EQ(Index(build(uaf::RawRecord("@VER", 0x20, 0x1000, 0x1000, std::string(8, 'v')))), 2u);
    // Compressed stream running past the end by one byte: not listed; ending exactly there: listed.
    EXPECT_EQ(Index(build(uaf::RawRecord("@CMD", 0x20, 0x19, 0x50, std::string(8, 'c')))), 2u);
    EXPECT_EQ(Index(build(uaf::RawRecord("@CMD", 0x20, 0x10, 0x50, std::string(8, 'c')))), 3u);
    // A huge length (which would wrap a 32-bit pointer) ends the walk after the record.
    EXPECT_EQ(Index(build(uaf::RawRecord("@VER", 0xFFFFFFF0u, 4, 4, std::string(8, 'v')))), 3u);
    // Length 0 (and lengths shorter than the head) are listed and end the walk.
    EXPECT_EQ(Index(build(uaf::RawRecord("@VER", 0, 4, 4, std::string(8, 'v')) + good)), 3u);
    EXPECT_EQ(Index(build(uaf::RawRecord("@VER", 8, 4, 4, std::string(8, 'v')) + good)), 3u);
    // Fewer than 24 bytes left for a head: not listed.
    EXPECT_EQ(Index(build(std::string("@XYZ\x10\0\0\0", 8) + std::string(8, '\xFF'))), 2u);
    // Garbage that still lies inside the file is listed as it is.
    std::string garbage(0x30, '\0');
    garbage[0] = 'Z';
    garbage[4] = 0x30;
    EXPECT_EQ(Index(build(garbage)), 3u);
    EXPECT_EQ(TKXUafDataList[2]->Signature[0], 'Z');
}

TEST_F(Walker, TruncatedTrailerIsNotAContainer) {
    std::string whole = uaf::Append(Program(0x300), uaf::Container({uaf::Record("@ROM", std::string(5000, 'r'), true),
                                                                    uaf::Record("@UII", "u")}));
    ASSERT_EQ(Index(whole), 3u);
    for (size_t cut : {1u, 16u, 40u}) EXPECT_EQ(Index(whole.substr(0, whole.size() - cut)), 0u) << cut;
}

TEST(LoadUaf, ProgramWithoutTrailerIndexesNothingAndKeepsItsFileInTheHub) {
    InitializeFileHub();
    char name[] = "unit";
    char* argv[] = {name, nullptr};
    ASSERT_EQ(LoadUaf(1, argv), eEID_NO_ERROR);
    EXPECT_EQ(TKXUafDataList.size(), 0u);
    ASSERT_EQ(FileHubList.size(), 1u);
    char self[4096] = {0};
    ASSERT_GT(readlink("/proc/self/exe", self, sizeof(self) - 1), 0);
    EXPECT_STREQ(FileHubList[0]->name, self);
    char* path = GetCurrentFilePath(1, name);
    ASSERT_NE(path, nullptr);
    EXPECT_STREQ(path, self);
    FreeMem(path);
    _TKX_UAF_DATA* rec = reinterpret_cast<_TKX_UAF_DATA*>(1);
    EXPECT_EQ(GetUafDataBySign("@CMD", &rec), nullptr);
    EXPECT_EQ(rec, nullptr);
    CleanUpFileHub();
}

}  // namespace
