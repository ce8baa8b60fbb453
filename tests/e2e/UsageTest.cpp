// The program's face end to end: banner, usage listing, help words and the
// mode switch, on both widths, with standard input at its end.
#include "E2eHarness.h"
#include "UsageListing.h"

using namespace e2e;

namespace {

class Usage : public E2eWidth {
protected:
    Machine m = MakeMachine(Filled(0x40000, 0xFF), "4x64K:main");
    RunResult Run(const std::vector<std::string>& args) { return RunProgram(Width(), m, args); }
};

// Every line of the box is 77 columns: "|" or "+" at both ends.
void ExpectBoxLines(const std::string& out) {
    size_t start = 0;
    for (size_t end = out.find('\n'); end != std::string::npos; start = end + 1, end = out.find('\n', start)) {
        std::string line = out.substr(start, end - start);
        if (line.empty() || (line[0] != '|' && line[0] != '+')) continue;
        EXPECT_EQ(line.size(), 77u) << line;
        EXPECT_EQ(line.back(), line[0]) << line;
    }
}

TEST_P(Usage, NoArgumentsPrintsBannerAndUsageAndExitsZero) {
    RunResult r = Run({});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, UsageListing(Width()));
    EXPECT_EQ(r.out.compare(0, PlainBanner().size(), PlainBanner()), 0) << r.out;
    ExpectBoxLines(WithoutPagerPauses(r.out));
}

TEST_P(Usage, HelpWordsEndTheParseAndExitZero) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"/?"}, {"/h"}, {"/H"}, {"/?", "/nosuch"}, {"rom.bin", "/x", "/H", "/other"}}) {
        RunResult r = Run(args);
        EXPECT_EQ(r.status, 0) << args[0];
        EXPECT_EQ(r.out, UsageListing(Width())) << args[0];
    }
}

TEST_P(Usage, UnknownWordsAreNamedAfterTheUsage) {
    RunResult r = Run({"/hx"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, UnknownWordListing(Width(), "/hx"));

    r = Run({"/nosuch", "/other"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, UnknownWordListing(Width(), "/nosuch"));
}

TEST_P(Usage, ListingLineByLineWithoutPauses) {
    RunResult r = Run({"/?"});
    std::string got = WithoutPagerPauses(r.out);
    std::string want = WithoutPagerPauses(UsageListing(Width()));
    size_t a = 0, b = 0;
    for (int line = 1; a < got.size() || b < want.size(); ++line) {
        size_t ea = got.find('\n', a), eb = want.find('\n', b);
        ASSERT_EQ(got.substr(a, ea - a), want.substr(b, eb - b)) << "line " << line;
        if (ea == std::string::npos || eb == std::string::npos) break;
        a = ea + 1;
        b = eb + 1;
    }
}

TEST_P(Usage, UnknownModeIsReportedBeforeTheBannerAndChangesNothing) {
    RunResult r = Run({"/SM:9", "/?"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Error - Not this mode in YOZ.\n" + UsageListing(Width()));

    // Each word is taken in turn: the error of the first, then normal mode.
    r = Run({"/SM:4", "/sm:0", "/h"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Error - Not this mode in YOZ.\n" + UsageListing(Width()));
}

TEST_P(Usage, ModesThatChangeNothingKeepTheNormalListing) {
    for (const char* word : {"/SM:2", "/SM:-1", "/SM:x", "/SM:0", "/sm:0003", "/SM:259"}) {
        RunResult r = Run({word, "/?"});
        EXPECT_EQ(r.status, 0) << word;
        EXPECT_EQ(r.out, UsageListing(Width(), std::string(word) == "/SM:259" || std::string(word) == "/sm:0003"
                                                      ? kMode2x2
                                                      : kModeNormal))
            << word;
    }
}

TEST_P(Usage, BiosGuardModeHidesTheNormalModules) {
    // "/?" belongs to a normal-mode module, so it is unknown here; the usage
    // has no banner and no "| Options:" line.
    RunResult r = Run({"/sm:1", "/?"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, UnknownWordListing(Width(), "/?", kModeBiosGuard));

    // A huge number is cut to 8 bits like the rest: 257 is mode 1.
    r = Run({"/SM:257", "/x"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, UnknownWordListing(Width(), "/x", kModeBiosGuard));
}

TEST_P(Usage, ModeWordWithoutNumberIsUnknown) {
    RunResult r = Run({"/SM:"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, UnknownWordListing(Width(), "/SM:"));
}

YOZ_E2E_BOTH_WIDTHS(Usage);

}  // namespace
