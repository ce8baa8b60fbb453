// The whole ROM end to end: the firmware-named option rewrites every block
// of the flash from an image of its size, also across a changed ROM layout,
// which it then reports to the firmware; the layout check asks the operator
// before a region flash into a changed layout.
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "E2eHarness.h"
#include "FlashLines.h"
#include "RomImageBuilder.h"
#include "UsageListing.h"

namespace {

using romimg::Bytes;

const char kMfg[] = "mfg_table=16|/WHOLE|Whole ROM";
const std::string kLayoutChanged = " - Check RomLayout ......... Changed.\n";

std::string Str(const Bytes& b) { return std::string(b.begin(), b.end()); }
std::string Head() { return e2e::PlainBanner() + e2e::FlashRead(); }
std::string AllPasses() { return e2e::Passes("All", [] {
    std::vector<uint32_t> all;
    for (uint32_t a = 0; a < romimg::kSampleSize; a += 0x10000) all.push_back(a);
    return all;
}()); }

// A sample ROM with its own code, a firmware ID and, when given, layout data.
romimg::Rom Build(uint32_t seed, const Bytes* area) {
    romimg::SampleSpec spec;
    spec.mainFiles = {romimg::PlainFile(seed, 0x300), romimg::FidFile(romimg::FidSpec{})};
    if (area != nullptr) spec.mainFiles.push_back(romimg::LayoutFile(*area));
    spec.mainFiles.push_back(romimg::PlainFile(seed + 1, 0x120));
    spec.bootFiles = {romimg::PlainFile(seed + 2, 0x80)};
    return romimg::SampleRom(spec);
}

class WholeRom : public E2eWidth {
protected:
    Bytes oldArea = romimg::Pattern(0x40, 0x31), newArea = romimg::Pattern(0x50, 0x32);
    e2e::Machine Machine(const romimg::Rom& system, std::vector<std::string> sets = {}) {
        sets.push_back("mfg=1");
        sets.push_back(kMfg);
        return e2e::MakeMachine(Str(system.bytes), romimg::BlockSpec(romimg::SampleBlocks()), sets);
    }
    e2e::RunResult Run(const e2e::Machine& m, const Bytes& image, std::vector<std::string> args,
                       const std::string& input = "") {
        romimg::WriteBytes(m.File("new.rom"), image);
        args.insert(args.begin(), "new.rom");
        return e2e::RunProgram(Width(), m, args, input);
    }
    size_t Count(const e2e::Machine& m, const std::string& needle) {
        size_t n = 0;
        for (const std::string& line : e2e::TraceOfKind(m, "smi")) n += line.find(needle) != std::string::npos;
        return n;
    }
    std::string Flash(const e2e::Machine& m) { return e2e::ReadFile(m.File("flash.bin")); }
};

TEST_P(WholeRom, EveryBlockIsRewrittenAndTheSignaturesLast) {
    romimg::Rom system = Build(1, nullptr), image = Build(21, nullptr);
    e2e::Machine m = Machine(system);
    e2e::RunResult r = Run(m, image.bytes, {"/whole"});
    EXPECT_EQ(r.out, Head() + AllPasses());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Flash(m), Str(image.bytes));
    // 16 blocks, then the two blocks that held the old volume signatures.
    EXPECT_EQ(Count(m, "cmd=0x22"), 18u);
    EXPECT_EQ(Count(m, "cmd=0x22 port=0xb2 ebx=0x7e000000 addr=0x00020000"), 2u);
    EXPECT_EQ(Count(m, "cmd=0x22 port=0xb2 ebx=0x7e000000 addr=0x000e0000"), 2u);
    EXPECT_EQ(Count(m, "cmd=0x23"), 20u);
    std::string lastWrite;
    for (const std::string& line : e2e::TraceOfKind(m, "smi"))
        if (line.find("cmd=0x23") != std::string::npos) lastWrite = line;
    EXPECT_NE(lastWrite.find("addr=0x000e0028 size=0x00000004"), std::string::npos) << lastWrite;
    EXPECT_EQ(Count(m, "zokt=0x51 ver=0x0210 disable=0x00000000 enable=0x00020000"), 1u);
    EXPECT_EQ(Count(m, "cmd=0x25"), 1u) << "no layout change without layout data";

    // A signature that does not verify cannot be mended in place (NOR
    // programming only clears bits) and is never erased alone: its block is
    // erased and written again whole.
    e2e::Machine corrupt = Machine(system, {"flash_faults=write@0xe0028#3:corrupt"});
    e2e::RunResult again = Run(corrupt, image.bytes, {"/whole"});
    EXPECT_EQ(again.status, 0) << again.out;
    EXPECT_EQ(Flash(corrupt), Str(image.bytes));
    EXPECT_EQ(Count(corrupt, "cmd=0x23 port=0xb2 ebx=0x7e000000 addr=0x000e0028"), 1u);
    EXPECT_EQ(Count(corrupt, "cmd=0x22"), 19u);
    EXPECT_EQ(Count(corrupt, "cmd=0x22 port=0xb2 ebx=0x7e000000 addr=0x000e0000 size=0x00010000"), 3u)
        << "the pass, the old signature's block, the repair";

    // Outside manufacturing mode the option does not exist.
    e2e::Machine plain = e2e::MakeMachine(Str(system.bytes), romimg::BlockSpec(romimg::SampleBlocks()));
    e2e::RunResult no = Run(plain, image.bytes, {"/whole"});
    EXPECT_EQ(no.status, 1);
    EXPECT_NE(no.out.find("Unknown command or option : /whole\n"), std::string::npos) << no.out;
    EXPECT_EQ(Count(plain, "cmd=0x22"), 0u);
}

TEST_P(WholeRom, ChangedLayoutIsFlashedAndHandedToTheFirmware) {
    romimg::Rom system = Build(1, &oldArea), image = Build(21, &newArea);
    e2e::Machine m = Machine(system);
    e2e::RunResult r = Run(m, image.bytes, {"/WHOLE"});
    EXPECT_EQ(r.out, Head() + kLayoutChanged + AllPasses());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Flash(m), Str(image.bytes));
    // The "ROML" header to the layout file's end, and not a byte past it.
    const romimg::FileAt& layout = image.File(romimg::kLayoutFile);
    EXPECT_EQ(e2e::ReadFile(m.File("state/layout")), Str(image.bytes).substr(layout.offset + 44, layout.size - 44));
    char sent[64];
    snprintf(sent, sizeof(sent), "layout size=0x%08x status=0x00", layout.size - 44);
    EXPECT_EQ(Count(m, sent), 1u);

    // A firmware that refuses the new layout fails the run after the flash.
    e2e::Machine refusing = Machine(system, {"flash_faults=info#2:1"});
    e2e::RunResult refused = Run(refusing, image.bytes, {"/whole"});
    EXPECT_EQ(refused.out, Head() + kLayoutChanged + AllPasses() + "46 - Error: Problem getting flash information.\n");
    EXPECT_EQ(refused.status, 0x46);

    // The same layout: the line ends in "Ok." and nothing is handed over.
    e2e::Machine same = Machine(Build(1, &newArea));
    e2e::RunResult ok = Run(same, image.bytes, {"/whole"});
    EXPECT_EQ(ok.out, Head() + " - Check RomLayout ......... Ok.\n" + AllPasses());
    EXPECT_EQ(ok.status, 0);
    EXPECT_EQ(Count(same, "layout size="), 0u);
}

TEST_P(WholeRom, WrongSizeRefusalAndAFailingEraseStopTheRun) {
    romimg::Rom system = Build(1, nullptr), image = Build(21, nullptr);
    e2e::Machine m = Machine(system, {"cfg_answer=none"});
    Bytes shorter(image.bytes.begin(), image.bytes.end() - 1);
    e2e::RunResult small = Run(m, shorter, {"/whole"});
    EXPECT_EQ(small.out, Head() + "3 - Error: ROM file size does not match existing BIOS size.\n");
    EXPECT_EQ(small.status, 3);
    e2e::RunResult unsupported = Run(m, image.bytes, {"/whole"});
    EXPECT_EQ(unsupported.out, Head() + "c7 - Error: BIOS doesn't support all ROM flashing function.\n");
    EXPECT_EQ(unsupported.status, 0xC7);
    EXPECT_EQ(Count(m, "cmd=0x22"), 0u);
    EXPECT_EQ(Run(m, image.bytes, {"/whole", "extra"}).status, 1) << "only the file and the word";
    // A flash copy that cannot be read stops the run before any erase.
    e2e::Machine unreadable = Machine(system, {"flash_faults=read@0x30000:1"});
    EXPECT_EQ(Run(unreadable, image.bytes, {"/whole"}).status, 0x42);
    EXPECT_EQ(Count(unreadable, "cmd=0x22"), 0u);

    // The third block's erase keeps failing: one try with progress and five
    // more; the blocks before it stay erased, the rest as they were.
    e2e::Machine failing = Machine(system, {"flash_faults=erase@0x20000:1"});
    e2e::RunResult r = Run(failing, image.bytes, {"/whole"});
    std::string erasing = e2e::Pass("Erasing All Block ...........", 0, 16);
    size_t third = 0;
    for (int i = 0; i < 3; ++i) third = erasing.find('\r', third) + 1;
    EXPECT_EQ(r.out, Head() + erasing.substr(0, third) + "\n43 - Error: Problem erasing flash.\n");
    EXPECT_EQ(r.status, 0x43);
    EXPECT_EQ(Count(failing, "cmd=0x22 port=0xb2 ebx=0x7e000000 addr=0x00020000"), 6u);
    EXPECT_EQ(Count(failing, "cmd=0x23"), 0u);
    EXPECT_EQ(Flash(failing).substr(0x20000), Str(system.bytes).substr(0x20000));
}

TEST_P(WholeRom, UnderSecureFlashTheImageIsUploadedForAllThreeAreasFirst) {
    romimg::Rom system = Build(1, nullptr), image = Build(21, nullptr);
    e2e::Machine m = Machine(system, {"secure_flash=1"});
    e2e::RunResult r = Run(m, image.bytes, {"/whole"});
    EXPECT_EQ(r.out, Head() + e2e::Upload(romimg::kSampleSize) + AllPasses());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Flash(m), Str(image.bytes));
    EXPECT_EQ(Count(m, "sub=0x08 op=0x04 areas=0x00000007"), 1u);
    // Both policy bytes must allow the runtime update.
    e2e::Machine denied = Machine(system, {"secure_flash=1", "sf_policy1=0x03"});
    e2e::RunResult no = Run(denied, image.bytes, {"/whole"});
    EXPECT_EQ(no.out, Head() + "17 - Error: Unsupported Secure Flash policy.\n");
    EXPECT_EQ(no.status, 0x17);
    EXPECT_EQ(Count(denied, "cmd=0x22"), 0u);
}

TEST_P(WholeRom, ChangedLayoutAsksBeforeARegionFlash) {
    romimg::Rom system = Build(1, &oldArea), image = Build(21, &newArea);
    e2e::Machine m = Machine(system);
    const std::string warning = kLayoutChanged +
                                " WARNING !! ROM file information does not match system BIOS.\n"
                                " Do you continue to flash ? (Y/N)...";
    e2e::RunResult no = Run(m, image.bytes, {}, "n");
    EXPECT_EQ(no.out, Head() + " - FFS checksums ......... ok\n" + warning + "n\n" +
                          "4c - Error: ROM file information does not match system BIOS.\n");
    EXPECT_EQ(no.status, 0x4C);
    EXPECT_EQ(Count(m, "cmd=0x22"), 0u);
    e2e::RunResult yes = Run(m, image.bytes, {}, "y");
    EXPECT_EQ(yes.out, Head() + " - FFS checksums ......... ok\n" + warning + "y\n" +
                           e2e::Passes("Main", [] {
                               std::vector<uint32_t> a;
                               for (uint32_t at = romimg::kSampleMain; at < romimg::kSampleBoot; at += 0x10000)
                                   a.push_back(at);
                               return a;
                           }()));
    EXPECT_EQ(yes.status, 0);
    EXPECT_EQ(Count(m, "layout size="), 0u) << "a region flash never hands over a layout";
}

}  // namespace

YOZ_E2E_BOTH_WIDTHS(WholeRom);
