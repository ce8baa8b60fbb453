// Configuration records end to end: copies of the test build with "@VER",
// "@CMD" and "@ROM" records appended, run as an operator would.
#include "E2eHarness.h"
#include "UafBuilder.h"
#include "UsageListing.h"

using namespace e2e;

namespace {

class TrailerRecords : public E2eWidth {
protected:
    Machine m = MakeMachine(Filled(0x40000, 0xFF), "4x64K:main");
    // A copy of the test build carrying these records.
    std::string CopyWith(const std::vector<std::string>& records) {
        std::string path = TempDir("records") + "/copy";
        EXPECT_TRUE(uaf::WriteProgramCopy(ProgramPath(Width()), path, uaf::Container(records))) << path;
        return path;
    }
    RunResult Run(const std::string& exe, const std::vector<std::string>& args) {
        return RunExecutable(Width(), exe, m, args);
    }
};

TEST_P(TrailerRecords, VersionTextAddsTheSecondOptionsLineOnly) {
    for (bool compressed : {false, true}) {
        std::string exe = CopyWith({uaf::Record("@UII", "build"), uaf::Record("@VER", "OEM-Ver 7.1", compressed)});
        RunResult r = Run(exe, {});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, UsageListing(Width(), kModeNormal, true));
        EXPECT_EQ(r.out.find("OEM-Ver"), std::string::npos) << "the version text is never printed";
    }
    // An empty text, and a text without a terminator that fills its record.
    RunResult r = Run(CopyWith({uaf::Record("@VER", "")}), {});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, UsageListing(Width()));
    r = Run(CopyWith({uaf::Record("@VER", std::string(200, 'V'))}), {"/?"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, UsageListing(Width(), kModeNormal, true));
}

TEST_P(TrailerRecords, CommandWordsAreParsedAsIfTyped) {
    // Plain: a run without arguments becomes a command line.
    std::string exe = CopyWith({uaf::Record("@CMD", "/nosuch")});
    RunResult r = Run(exe, {});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, UnknownWordListing(Width(), "/nosuch"));
    // The user's own words come first.
    r = Run(exe, {"/other"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, UnknownWordListing(Width(), "/other"));
    // Help drops the trailer's words with the user's.
    r = Run(exe, {"/h"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, UsageListing(Width()));

    // Compressed: the mode switch and help read the merged words.
    exe = CopyWith({uaf::Record("@CMD", "/SM:9 /? /nosuch", true)});
    r = Run(exe, {});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Error - Not this mode in YOZ.\n" + UsageListing(Width()));
}

TEST_P(TrailerRecords, DamagedCommandRecordLeavesTheCommandLineAlone) {
    // The stream is shorter than its own header: the record is not used.
    std::string exe = CopyWith({uaf::RawRecord("@CMD", 0x20, 5, 400, std::string(8, '\0')),
                                uaf::Record("@VER", "1.0")});
    RunResult r = Run(exe, {});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, UsageListing(Width(), kModeNormal, true));
}

TEST_P(TrailerRecords, EmbeddedImageComesBeforeOptionsAlone) {
    // An image of blank bytes: it loads and passes its checksums, and the
    // firmware's ROM ID check refuses it.
    const std::string image(0x40000, '\xFF');
    const std::string refused = "4 - Error: ROM file ROMID is not compatible with existing BIOS ROMID.\n";
    // Options from the trailer or typed: the image's name takes word 1, where
    // the check item claims it as the ROM file, and the run goes on to check it.
    for (const auto& run : std::vector<std::pair<std::vector<std::string>, std::vector<std::string>>>{
             {{uaf::Record("@ROM", image, true), uaf::Record("@CMD", "/jbc")}, {}},
             {{uaf::Record("@ROM", image)}, {"/jbc"}},
             {{uaf::Record("@ROM", image, true), uaf::Record("@CMD", "/P")}, {}}}) {
        RunResult r = Run(CopyWith(run.first), run.second);
        EXPECT_EQ(r.status, 4) << r.out;
        EXPECT_EQ(r.out.compare(0, PlainBanner().size(), PlainBanner()), 0) << r.out;
        EXPECT_EQ(r.out.find("| Usage:"), std::string::npos) << r.out;
        ASSERT_GE(r.out.size(), refused.size());
        EXPECT_EQ(r.out.substr(r.out.size() - refused.size()), refused);
    }
    // Without an image, "/jbc" is the only word: a command-line error.
    RunResult r = Run(CopyWith({uaf::Record("@CMD", "/jbc")}), {});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, UsageListing(Width()) + "1 - Error: Unknown command.\n");
}

YOZ_E2E_BOTH_WIDTHS(TrailerRecords);

}  // namespace
