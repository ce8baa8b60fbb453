// Expected usage listing, built from the table of module help lines.
#include "UsageListing.h"
#include <cstring>

namespace e2e {

const char kPagerPause[] = "<Press any key to continue>\r";
const char kBorderLine[] = "+---------------------------------------------------------------------------+\n";
const char kOptionsLine[] = "| Options:                                                                  |\n";

// Help lines of the option modules other than the usage foot, in
// module-table order, one entry per count the module reports to the pager
// (a module that counts line by line has one entry per line). The usage
// head's pass-0 entry has no text of its own: it stands for the second
// options line that an OEM version text adds.
const std::vector<HelpGroup> kModuleHelp = {
    {0x04, 0, "|   /MAKEDRV - Make YOZLNX driver with user defined environment.            |\n"},
    {0x04, 0, "|    /GENDRV - Generate YOZLNX driver source files to specific directory.   |\n"},
    {0x19, 0, ""},  // usage head (slot 14)
    {0x11, 0, "|      /CMD: - Send special command to BIOS. /CMD:{xxx}                     |\n"},
    {0x01, 0, "|   /OEMCMD: - Send special value to BIOS. /OEMCMD:xxx                      |\n"},
    {0x04, 0, "|       /DPC - Don't Check Orvex 4 and Orvex 5 platform.                    |\n"},
    {0x01, 0, "|     /MEUL: - Program ME Entire Firmware Block, which supports             |\n"
              "|              Production.BIN and PreProduction.BIN files.                  |\n"},
    {0x04, 0, "|         /Q - Silent execution                                             |\n"},
    {0x11, 0, "|         /X - Don't Check ROM ID                                           |\n"},
    {0x11, 0, "|       /CAF - Compare ROM file's data with Systems is different or         |\n"},
    {0x11, 0, "|              not, if not then cancel related update.                      |\n"},
    {0x11, 1, "|         /O - Save current ROM image to file                               |\n"},
    {0x11, 1, "|         /U - Display ROM File's ROMID                                     |\n"},
    {0x11, 1, "|         /S - Refer to Options: /S                                         |\n"},
    {0x11, 0, "|         /S - Display current system's ROMID                               |\n"},
    {0x04, 0, "|       /JBC - Don't Check AC adapter and battery                           |\n"},
    {0x11, 0, "|  /HOLEOUT: - Save specific ROM Hole according to RomHole GUID.            |\n"
              "|              NewRomHole1.BIN /HOLEOUT:GUID                                |\n"},
    {0x11, 1, "|         /D - Verification test of given ROM File without flashing BIOS.   |\n"},
    {0x11, 0, "|        /SP - Preserve Setup setting.                                      |\n"},
    {0x11, 0, "|         /R - Preserve ALL SMBIOS structure during programming             |\n"},
    {0x11, 0, "|        /Rn - Preserve SMBIOS type N during programming(n=0-255)           |\n"},
    {0x09, 0, "|         /B - Program Boot Block                                           |\n"},
    {0x19, 0, "|         /P - Program Main BIOS                                            |\n"},
    {0x19, 0, "|         /N - Program NVRAM                                                |\n"},
    {0x11, 0, "|         /K - Program all non-critical blocks.                             |\n"},
    {0x11, 0, "|        /Kn - Program n'th non-critical block(n=0-15).                     |\n"},
    {0x11, 0, "|     /HOLE: - Update specific ROM Hole according to RomHole GUID.          |\n"
              "|              NewRomHole1.BIN /HOLE:GUID                                   |\n"},
    {0x11, 0, "|         /L - Program all ROM Holes.                                       |\n"},
    {0x11, 0, "|        /Ln - Program n'th ROM Hole only(n=0-15).                          |\n"},
    {0x01, 0, "|      /ECUF - Update EC BIOS when newer version is detected.               |\n"},
    {0x01, 0, "|         /E - Program Embedded Controller Block                            |\n"},
    {0x01, 0, "|        /ME - Program ME Entire Firmware Block.                            |\n"},
    {0x01, 0, "|      /MEUF - Program ME Ignition Firmware Block.                          |\n"},
    {0x19, 1, "|         /A - Refer to Options: /A                                         |\n"},
    {0x19, 0, "|         /A - Oem Activation file                                          |\n"},
    {0x19, 1, "|       /OAD - Refer to Options: /OAD                                       |\n"},
    {0x19, 0, "|       /OAD - Delete Oem Activation key                                    |\n"},
    {0x11, 1, "| /CLNEVNLOG - Refer to Options: /CLNEVNLOG                                 |\n"},
    {0x11, 0, "| /CLNEVNLOG - Clear Event Log.                                             |\n"},
    {0x19, 0, "|   /CAPSULE - Override Secure Flash policy to Capsule                      |\n"},
    {0x19, 0, "|  /RECOVERY - Override Secure Flash policy to Recovery                     |\n"},
    {0x01, 0, "|        /EC - Program Embedded Controller Block. (Flash Type)              |\n"},
    {0x11, 0, "|    /REBOOT - Reboot after programming.                                    |\n"},
    {0x11, 0, "|  /SHUTDOWN - Shutdown after programming.                                  |\n"},
};

static const unsigned kUsageMask = 0x19;

std::string PlainBanner() {
    return std::string(kBorderLine) +
           "|            Yoz Manufacturing Flash Utility (Linux) v5.09.04.1503          |\n"
           "|        Keep the machine powered on until the update has finished.         |\n" +
           kBorderLine;
}

static std::string UsageHeadLines(int width) {
    const std::string name = width == 64 ? "yozmfglnx_64" : "yozmfglnx_32";
    return "| Usage: " + name + " <ROM File Name> [Option 1] [Option 2]...              |\n"
           "|           or                                                              |\n"
           "|        " + name + " <Input or Output File Name> <Command>                 |\n"
           "|           or                                                              |\n"
           "|        " + name + " <Command>                                             |\n"
           "| ------------------------------------------------------------------------- |\n"
           "| Commands:                                                                 |\n";
}

static bool TakesPart(unsigned mask, unsigned mode) { return mask == 0 || (mask & mode) != 0; }

namespace {
struct Pager {
    std::string out;
    unsigned count = 0;
    void Add(const std::string& text, unsigned lines) {
        out += text;
        count = (count + lines) & 0xFF;
        if (count >= 18) {
            out += kPagerPause;
            count = 0;
        }
    }
};
}  // namespace

static unsigned Lines(const std::string& text) {
    unsigned n = 0;
    for (char c : text) n += c == '\n';
    return n;
}

std::string UsageListing(int width, unsigned mode, bool oemVersion, bool banner) {
    Pager pager;
    bool face = TakesPart(kUsageMask, mode);
    if (face && banner) pager.Add(PlainBanner(), 1);
    if (face) pager.Add(UsageHeadLines(width), 7);
    for (const HelpGroup& g : kModuleHelp) {
        if (g.pass == 1 && TakesPart(g.mask, mode)) pager.Add(g.text, Lines(g.text));
    }
    // BIOS Guard usage has no "| Options:" line.
    if (mode != kModeBiosGuard) pager.out += kOptionsLine;
    for (const HelpGroup& g : kModuleHelp) {
        if (g.pass != 0 || !TakesPart(g.mask, mode)) continue;
        if (g.text.empty()) {
            if (oemVersion) pager.Add(kOptionsLine, 1);
        } else {
            pager.Add(g.text, Lines(g.text));
        }
    }
    if (face) pager.out += kBorderLine;
    return pager.out;
}

std::string UnknownWordListing(int width, const std::string& word, unsigned mode) {
    return UsageListing(width, mode) + "Unknown command or option : " + word + "\n1 - Error: Unknown command.\n";
}

std::string WithoutPagerPauses(std::string text) {
    const size_t n = strlen(kPagerPause);
    for (size_t at = text.find(kPagerPause); at != std::string::npos; at = text.find(kPagerPause, at)) {
        text.erase(at, n);
    }
    return text;
}

}  // namespace e2e
