// The configuration trailer end to end: copies of the trailer probe and of
// the test build with containers appended, found through /proc/self/exe.
#include "E2eHarness.h"
#include <cstdio>
#include "RomCompressor.h"
#include "UafBuilder.h"

#ifndef YOZ_UAF_PROBE64
#define YOZ_UAF_PROBE64 ""
#define YOZ_UAF_PROBE32 ""
#endif

using namespace e2e;

namespace {

class Trailer : public E2eWidth {
protected:
    std::string Probe() const { return Width() == 32 ? YOZ_UAF_PROBE32 : YOZ_UAF_PROBE64; }
    // A copy of `exe` with the container appended, in a fresh directory.
    std::string CopyWith(const std::string& exe, const std::string& container) {
        std::string path = TempDir("trailer") + "/copy";
        EXPECT_TRUE(uaf::WriteProgramCopy(exe, path, container)) << path;
        return path;
    }
    RunResult RunProbe(const std::string& exe, const std::vector<std::string>& args) {
        return RunExecutableEnv(Width(), exe, args, {"PATH=/usr/bin:/bin"});
    }
};

std::string Hex(uint32_t v) {
    char buf[16];
    snprintf(buf, sizeof(buf), "0x%x", v);
    return buf;
}

// The probe's line for record `index`, whose payload is `payload`.
std::string RecordLine(size_t index, const std::string& record, const std::string& payload) {
    uint32_t stored = romz::GetLE32(record, 0x10);
    uint32_t unpacked = romz::GetLE32(record, 0x14);
    char fnv[16];
    snprintf(fnv, sizeof(fnv), "%08x", uaf::Fnv1a(payload));
    std::string head;
    for (size_t i = 0; i < payload.size() && i < 16; ++i) {
        char b[4];
        snprintf(b, sizeof(b), "%02x", static_cast<unsigned char>(payload[i]));
        head += b;
    }
    return std::to_string(index) + " " + record.substr(0, 4) + " length=" + Hex(romz::GetLE32(record, 4)) +
           " stored=" + Hex(stored) + " unpacked=" + Hex(unpacked) + (stored == unpacked ? " plain" : " unpacked") +
           " bytes=" + Hex(static_cast<uint32_t>(payload.size())) + " fnv=" + fnv + " head=" + head + "\n";
}

std::string BigImage() {
    std::string s;
    for (int i = 0; s.size() < 200000; ++i) {
        s += "_FVH volume " + std::to_string(i % 97) + " ";
        if (i % 50 == 0) s += std::string(9000, '\xFF');
    }
    return s;
}

TEST_P(Trailer, ProbeWithoutTrailerListsNothing) {
    RunResult r = RunProbe(Probe(), {"@UII"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "status 0\nelements 0\nfind @UII none\n");
}

TEST_P(Trailer, ProbeListsPlainAndCompressedRecords) {
    const std::string image = BigImage();
    std::vector<std::pair<std::string, std::string>> parts = {
        {uaf::Record("@UII", "build 7"), "build 7"},
        {uaf::Record("@CMD", "/bogus", true), "/bogus"},
        {uaf::Record("@VER", "v1"), "v1"},
        {uaf::Record("@ROM", image, true), image},
    };
    std::vector<std::string> records;
    for (const auto& p : parts) records.push_back(p.first);
    std::string container = uaf::Container(records);
    ASSERT_LT(parts[3].first.size(), image.size() / 10) << "the image is stored compressed";

    RunResult r = RunProbe(CopyWith(Probe(), container), {"@ROM", "@DIS", "@CMD"});
    EXPECT_EQ(r.status, 0) << r.err;
    std::string expected = "status 0\nelements 5\n0 @UAF length=" + Hex(static_cast<uint32_t>(container.size())) + "\n";
    for (size_t i = 0; i < parts.size(); ++i) expected += RecordLine(i + 1, parts[i].first, parts[i].second);
    expected += "find @ROM element 4\nfind @DIS none\nfind @CMD element 2\n";
    EXPECT_EQ(r.out, expected);
}

TEST_P(Trailer, ProbeTakesTheLastOfTwoContainers) {
    std::string first = uaf::Container({uaf::Record("@VER", "old")});
    std::string secondRecord = uaf::Record("@VER", "new", true);
    std::string second = uaf::Container({secondRecord});
    std::string once = CopyWith(Probe(), first);
    RunResult r = RunProbe(CopyWith(once, second), {});
    EXPECT_EQ(r.out, "status 0\nelements 2\n0 @UAF length=" + Hex(static_cast<uint32_t>(second.size())) + "\n" +
                         RecordLine(1, secondRecord, "new"));
}

TEST_P(Trailer, ProbeStaysInsideDamagedTrailers) {
    const std::string good = uaf::Record("@UII", "u");
    // A length that would wrap a 32-bit pointer back into the file: the walk
    // ends after that record.
    std::string huge = uaf::RawRecord("@VER", 0xFFFFFFF0u, 2, 2, std::string(8, 'v'));
    RunResult r = RunProbe(CopyWith(Probe(), uaf::Container({good, huge, good})), {});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("elements 3\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("2 @VER length=0xfffffff0 stored=0x2 unpacked=0x2 plain bytes=0x2"), std::string::npos)
        << r.out;

    // A stored size past the end of the file: not listed.
    std::string longer = uaf::RawRecord("@ROM", 0x20, 0x7FFFFFF0u, 0x7FFFFFF0u, std::string(8, 'r'));
    r = RunProbe(CopyWith(Probe(), uaf::Container({good, longer})), {"@ROM"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("elements 2\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("find @ROM none\n"), std::string::npos) << r.out;

    // A compressed record whose stream is garbage: listed, and unpacking fails cleanly.
    std::string garbage = uaf::RawRecord("@CMD", 0x40, 0x30, 0x100000, std::string(0x28, '\xFF'));
    r = RunProbe(CopyWith(Probe(), uaf::Container({garbage})), {});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("1 @CMD length=0x40 stored=0x30 unpacked=0x100000 unpacked-failed\n"), std::string::npos)
        << r.out;
}

TEST_P(Trailer, ProbeIgnoresATruncatedTrailer) {
    std::string container = uaf::Container({uaf::Record("@ROM", BigImage(), true)});
    RunResult r = RunProbe(CopyWith(Probe(), container.substr(0, container.size() - 24)), {"@ROM"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "status 0\nelements 0\nfind @ROM none\n");
}

// The test build itself with a trailer starts, indexes it and runs as before.
TEST_P(Trailer, ProgramWithTrailerRunsLikeWithout) {
    Machine m = MakeMachine(Filled(0x40000, 0xFF), "4x64K:main");
    std::string container = uaf::Container({uaf::Record("@UII", "build information"),
                                            uaf::Record("@TST", BigImage(), true)});
    std::string copy = CopyWith(ProgramPath(Width()), container);
    for (const std::vector<std::string>& args : {std::vector<std::string>{}, std::vector<std::string>{"/nosuch"}}) {
        RunResult plain = RunProgram(Width(), m, args);
        RunResult trailed = RunExecutable(Width(), copy, m, args);
        EXPECT_EQ(trailed.status, plain.status);
        EXPECT_EQ(trailed.out, plain.out);
        EXPECT_EQ(trailed.err, "");
    }
    RunResult r = RunExecutable(Width(), copy, m, {"/nosuch"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("Unknown command or option : /nosuch\n1 - Error: Unknown command.\n"), std::string::npos);
}

TEST_P(Trailer, ProgramWithDamagedTrailerRunsLikeWithout) {
    Machine m = MakeMachine(Filled(0x40000, 0xFF), "4x64K:main");
    std::string container = uaf::Container({uaf::RawRecord("@CMD", 0xFFFFFFF0u, 0x30, 0x100000, std::string(0x28, 'x'))});
    std::string copy = CopyWith(ProgramPath(Width()), container);
    RunResult plain = RunProgram(Width(), m, {"/nosuch"});
    RunResult trailed = RunExecutable(Width(), copy, m, {"/nosuch"});
    EXPECT_EQ(trailed.status, plain.status);
    EXPECT_EQ(trailed.out, plain.out);
}

YOZ_E2E_BOTH_WIDTHS(Trailer);

}  // namespace
