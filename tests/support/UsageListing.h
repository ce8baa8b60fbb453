// The usage listing as the program prints it: banner, usage-head lines, the
// help lines of every module in table order, the closing border, and the
// pager's pauses ("<Press any key to continue>\r" after every 18 counted
// lines). Each module that prints help adds its lines to kModuleHelp
// (UsageListing.cpp), so every usage test follows the table.
#pragma once
#include <string>
#include <vector>

namespace e2e {

// Mode filters chosen by "/SM:n": the mask bits a module needs to take part.
enum UsageMode : unsigned {
    kModeNormal = 0x05,     // default, "/SM:0"
    kModeBiosGuard = 0x06,  // "/SM:1"
    kMode2x2 = 0x0C,        // "/SM:3"
    kModeFtf = 0x14,
};

// Help output of one module in one help pass: the lines it reports to the
// pager together (one or more "\n"-ended lines).
struct HelpGroup {
    unsigned mask;  // the module's mode mask (0: takes part in every mode)
    int pass;       // 1: "Commands" pass, 0: "Options" pass
    std::string text;
};
extern const std::vector<HelpGroup> kModuleHelp;

extern const char kPagerPause[];
extern const char kBorderLine[];
extern const char kOptionsLine[];

// The plain banner box (4 lines).
std::string PlainBanner();
// The complete listing of a run that prints the usage in `mode`, with the
// pager pauses (standard input at its end, so each pause goes on at once).
// With an OEM version text from the trailer the usage head adds a second
// options line.
// Without `banner` the listing lacks the banner box, as when a module before
// the usage head fails its parse.
std::string UsageListing(int width, unsigned mode = kModeNormal, bool oemVersion = false, bool banner = true);
// The listing followed by the unknown-word lines of the framework.
std::string UnknownWordListing(int width, const std::string& word, unsigned mode = kModeNormal);
std::string WithoutPagerPauses(std::string text);

}  // namespace e2e
