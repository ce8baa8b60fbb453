// "/N", "/K" and "/K" with block numbers end to end: only the NVRAM or the
// non-critical blocks of the flash change, taken from the image (or from a
// file of block data only); the firmware's configuration answer picks the
// numbered blocks.
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "E2eHarness.h"
#include "FlashLines.h"
#include "SampleUpdate.h"
#include "UsageListing.h"

namespace {

using romimg::Bytes;
const uint32_t kBlock = 0x10000;
const std::string kChecksums = " - FFS checksums ......... ok\n";
const std::vector<uint32_t> kNvram = {0, kBlock};

std::string Str(const Bytes& b) { return std::string(b.begin(), b.end()); }
std::string Head() { return e2e::PlainBanner() + e2e::FlashRead(); }

// The non-critical block layout: its own main code, NVRAM and blocks per
// seed (and two ROM holes in the main volume when asked).
romimg::Rom NcbRom(uint32_t seed, bool holes = false) {
    romimg::SampleSpec spec;
    romimg::FidSpec fid;
    spec.mainLength = romimg::kNcbMainLength;
    spec.mainFiles = {romimg::PlainFile(seed, 0x300), romimg::FidFile(fid), romimg::PlainFile(seed + 1, 0x120)};
    if (holes) spec.mainFiles.insert(spec.mainFiles.begin() + 2, {romimg::RomHoleFile(0, 0x40), romimg::RomHoleFile(1, 0x40)});
    spec.bootFiles = {romimg::PlainFile(3, 0x80)};
    romimg::Rom r = romimg::SampleRom(spec);
    r.Fill(0, 2 * kBlock, seed + 2);
    r.Fill(romimg::kNcb0, romimg::kSampleBoot - romimg::kNcb0, seed + 3);
    return r;
}

class NvramNcb : public E2eWidth {
protected:
    romimg::Rom system = NcbRom(1);
    romimg::Rom image = NcbRom(21);

    e2e::Machine Machine(const std::vector<std::string>& sets = {}) {
        return e2e::MakeMachine(Str(system.bytes), romimg::BlockSpec(romimg::NcbSampleBlocks()), sets);
    }
    std::string File(const e2e::Machine& m, const Bytes& bytes, const std::string& name = "new.rom") {
        romimg::WriteBytes(m.File(name), bytes);
        return name;
    }
    e2e::RunResult Run(const e2e::Machine& m, const std::vector<std::string>& args) {
        return e2e::RunProgram(Width(), m, args);
    }
    Bytes Flash(const e2e::Machine& m) {
        std::string f = e2e::ReadFile(m.File("flash.bin"));
        return Bytes(f.begin(), f.end());
    }
    // The system's flash with [at, at + size) of `from` in place.
    Bytes With(Bytes base, const Bytes& from, uint32_t at, uint32_t size) {
        std::copy(from.begin() + at, from.begin() + at + size, base.begin() + at);
        return base;
    }
    size_t Count(const e2e::Machine& m, const std::string& needle) {
        size_t n = 0;
        for (const std::string& line : e2e::TraceOfKind(m, "smi")) n += line.find(needle) != std::string::npos;
        return n;
    }
};

TEST_P(NvramNcb, SlashNFlashesTheNvramBlocksStraightFromTheImage) {
    // The main-BIOS sample: ROM holes and SLP key of the image play no part.
    romimg::SampleUpdate u = romimg::MakeSampleUpdate();
    u.system.Fill(0, 2 * kBlock, 0x61);
    u.image.Fill(0, 2 * kBlock, 0x62);
    e2e::Machine m = e2e::MakeMachine(Str(u.system.bytes), romimg::BlockSpec(romimg::SampleBlocks()));
    e2e::RunResult r = e2e::RunProgram(Width(), m, {File(m, u.image.bytes), "/n"});
    EXPECT_EQ(r.out, Head() + kChecksums + e2e::Passes("NVRAM", kNvram));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Flash(m), With(u.system.bytes, u.image.bytes, 0, 2 * kBlock));
    EXPECT_EQ(Count(m, "cmd=0x22"), 2u);
    EXPECT_EQ(Count(m, "cmd=0x23"), 2u);

    // Under "/caf" a block that equals the flash is left.
    Bytes oneNew = With(u.system.bytes, u.image.bytes, kBlock, kBlock);
    e2e::Machine caf = e2e::MakeMachine(Str(oneNew), romimg::BlockSpec(romimg::SampleBlocks()));
    e2e::RunResult rc = e2e::RunProgram(Width(), caf, {File(caf, u.image.bytes), "/N", "/caf"});
    EXPECT_EQ(rc.out, Head() + kChecksums + e2e::Pass("Verifying NVRAM Block .......", kNvram) +
                          e2e::Passes("NVRAM", {0}));
    EXPECT_EQ(rc.status, 0) << rc.err;
    EXPECT_EQ(Flash(caf), With(u.system.bytes, u.image.bytes, 0, 2 * kBlock));
    EXPECT_EQ(Count(caf, "cmd=0x22"), 1u);
}

TEST_P(NvramNcb, SlashKAndSlashNFlashNvramThenEveryNonCriticalBlock) {
    e2e::Machine m = Machine();
    e2e::RunResult r = Run(m, {File(m, image.bytes), "/K", "/N"});
    EXPECT_EQ(r.out, Head() + kChecksums + e2e::Passes("NVRAM", kNvram) +
                         e2e::Passes("NCB", {romimg::kNcb0, romimg::kNcb1, romimg::kNcb1 + kBlock, romimg::kNcb2}));
    EXPECT_EQ(r.status, 0) << r.err;
    Bytes expected = With(system.bytes, image.bytes, 0, 2 * kBlock);
    EXPECT_EQ(Flash(m), With(expected, image.bytes, romimg::kNcb0, 4 * kBlock));
    EXPECT_EQ(Count(m, "cmd=0x22"), 6u);
    EXPECT_EQ(Count(m, "cmd=0x23"), 6u);
}

TEST_P(NvramNcb, SlashKOnASystemWithoutNonCriticalBlocksStopsBeforeTheFlash) {
    romimg::SampleUpdate u = romimg::MakeSampleUpdate();
    e2e::Machine m = e2e::MakeMachine(Str(u.system.bytes), romimg::BlockSpec(romimg::SampleBlocks()));
    e2e::RunResult r = Run(m, {File(m, u.image.bytes), "/K"});
    EXPECT_EQ(r.out, Head() + kChecksums + "12 - Error: No non-critical blocks found in ROM file.\n");
    EXPECT_EQ(r.status, 0x12);
    EXPECT_EQ(Count(m, "cmd=0x22"), 0u);
}

TEST_P(NvramNcb, BlockNumberWords) {
    e2e::Machine m = Machine();
    std::string rom = File(m, image.bytes);
    e2e::RunResult big = Run(m, {rom, "/K16"});
    EXPECT_EQ(big.out, e2e::UsageListing(Width()) +
                           "13 - Error: Requested non-critical block not available in ROM file.\n");
    EXPECT_EQ(big.status, 0x13);
    e2e::RunResult longer = Run(m, {rom, "/K0001"});  // longer than the number field
    EXPECT_EQ(longer.status, 0x13);
    e2e::RunResult letter = Run(m, {rom, "/Kx"});
    EXPECT_EQ(letter.out, e2e::UnknownWordListing(Width(), "/Kx"));
    EXPECT_EQ(letter.status, 1);
    EXPECT_EQ(Count(m, "cmd=0x22"), 0u);

    // "/K01" and "/K1" both choose block 1 (the two runs of type 0x81).
    for (const char* word : {"/K01", "/k1"}) {
        e2e::Machine one = Machine();
        e2e::RunResult r = Run(one, {File(one, image.bytes), word});
        EXPECT_EQ(r.out, Head() + kChecksums + e2e::Passes("NCB", {romimg::kNcb1, romimg::kNcb1 + kBlock})) << word;
        EXPECT_EQ(r.status, 0) << word << r.err;
        EXPECT_EQ(Flash(one), With(system.bytes, image.bytes, romimg::kNcb1, 2 * kBlock)) << word;
    }
}

TEST_P(NvramNcb, TheFirmwareAnswerPicksTheBlocks) {
    // Bits XOR mask of the answer: 0x0002 ^ 0x0007 chooses blocks 0 and 2.
    e2e::Machine m = Machine({"cfg_answer=masks", "cfg_enable=0", "cfg_k=0x0002,0x0007"});
    e2e::RunResult r = Run(m, {File(m, image.bytes), "/K1"});
    EXPECT_EQ(r.out, Head() + kChecksums + e2e::Passes("NCB", {romimg::kNcb0, romimg::kNcb2}));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Flash(m), With(With(system.bytes, image.bytes, romimg::kNcb0, kBlock), image.bytes, romimg::kNcb2, kBlock));

    // An answer whose bits equal its mask chooses nothing: the word is
    // claimed, the image checked, nothing flashed.
    e2e::Machine none = Machine({"cfg_answer=masks", "cfg_enable=0", "cfg_k=0x0002,0x0002"});
    e2e::RunResult n = Run(none, {File(none, image.bytes), "/K1"});
    EXPECT_EQ(n.out, Head() + kChecksums);
    EXPECT_EQ(n.status, 0) << n.err;
    EXPECT_EQ(Count(none, "cmd=0x22"), 0u);
}

TEST_P(NvramNcb, ASmallerFileFillsTheFirstChosenBlockWithoutImageChecks) {
    // 100 KiB: the first block of block 1 whole, 36 KiB at the start of the second.
    Bytes data = romimg::Pattern(100 * 1024, 0x77);
    e2e::Machine m = Machine();
    e2e::RunResult r = Run(m, {File(m, data, "ncb.bin"), "/K1", "/K2"});
    EXPECT_EQ(r.out, Head() + e2e::Passes("NCB", {romimg::kNcb1, romimg::kNcb1 + kBlock, romimg::kNcb2}));
    EXPECT_EQ(r.status, 0) << r.err;
    Bytes expected = system.bytes;
    std::copy(data.begin(), data.end(), expected.begin() + romimg::kNcb1);
    EXPECT_EQ(Flash(m), expected);
}

// Holes and non-critical runs share 16 places, a block file must fit its
// block and a chosen block must be one of the system's: otherwise the run
// stops before any erase, of a region ahead of the blocks too (before the
// flash is read when the block table alone says so).
TEST_P(NvramNcb, TooManyRunsAnOversizeBlockFileOrAMissingBlockStopBeforeAnyErase) {
    const std::string tooMany = "6 - Error: This BIOS version has more Non-Critical blocks than supported.\n";
    const std::string unread = "42 - Error: Problem reading flash.\n";
    const uint32_t holeBlockHeader = NcbRom(1, true).File(romimg::PlainGuid(1)).offset;
    struct Row {
        const char* name;
        uint32_t runs;  // 0: the sample's layout
        bool holes;
        Bytes file;     // empty: the image
        std::vector<std::string> options;
        int status;
        std::string out;
        uint32_t lyingRead = 0;  // an address whose first read gives one wrong byte
    } rows[] = {
        {"17 runs", 17, false, {}, {"/K"}, 6, e2e::PlainBanner() + tooMany},
        {"2 holes and 15 runs", 15, true, {}, {}, 6, Head() + tooMany},
        {"block file one byte too large", 0, false, romimg::Pattern(2 * kBlock + 1, 0x78), {"/K1"}, 3,
         Head() + "3 - Error: ROM file size does not match existing BIOS size.\n"},
        {"NVRAM and block 3 of three", 0, false, {}, {"/N", "/K3"}, 0x13,
         Head() + kChecksums + "13 - Error: Requested non-critical block not available in ROM file.\n"},
        {"NVRAM and hole 1, a lying read of the hole's block", 0, true, {}, {"/N", "/L1"}, 0x42,
         Head() + kChecksums + unread, holeBlockHeader},
        {"a block file, a lying read of the block's rest", 0, false, romimg::Pattern(kBlock + 0x100, 0x78), {"/K1"}, 0x42,
         Head() + unread, romimg::kNcb1 + kBlock + 0x200},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        romimg::Rom from = NcbRom(1, row.holes), to = NcbRom(21, row.holes);
        std::string blocks = romimg::BlockSpec(row.runs != 0 ? romimg::NcbRunBlocks(row.runs) : romimg::NcbSampleBlocks());
        std::vector<std::string> sets;
        if (row.lyingRead != 0) sets.push_back("flash_faults=read@" + std::to_string(row.lyingRead) + "#1:corrupt");
        e2e::Machine m = e2e::MakeMachine(Str(from.bytes), blocks, sets);
        std::vector<std::string> args = {row.file.empty() ? File(m, to.bytes) : File(m, row.file, "ncb.bin")};
        args.insert(args.end(), row.options.begin(), row.options.end());
        e2e::RunResult r = Run(m, args);
        EXPECT_EQ(r.out, row.out);
        EXPECT_EQ(r.status, row.status);
        EXPECT_EQ(Count(m, "cmd=0x22") + Count(m, "cmd=0x23"), 0u);
        EXPECT_EQ(Count(m, "cmd=0x21") != 0, row.runs <= 16);
        EXPECT_TRUE(Flash(m) == from.bytes);
    }
}

TEST_P(NvramNcb, UnderSecureFlashOnlyNvramAsksThePolicyAndBlockDataIsFlashedFromTheSystemCopy) {
    // Policy byte 0 without runtime update: "/N" is refused, "/K" tests no
    // policy bit and opens its session for area 0.
    const std::vector<std::string> secure = {"secure_flash=1", "sf_policy0=0x03"};
    const std::string stripped = " Secure Flash enabled, recalculate ROM size with signature... Enable.\n";
    Bytes capsule = romimg::SignedCapsule(image.bytes, 0x40);
    e2e::Machine n = Machine(secure);
    e2e::RunResult rn = Run(n, {File(n, capsule), "/N"});
    EXPECT_EQ(rn.out, Head() + stripped + kChecksums + "17 - Error: Unsupported Secure Flash policy.\n");
    EXPECT_EQ(rn.status, 0x17);
    EXPECT_EQ(Flash(n), system.bytes);

    e2e::Machine k = Machine(secure);
    e2e::RunResult rk = Run(k, {File(k, capsule), "/K"});
    EXPECT_EQ(rk.out, Head() + stripped + kChecksums + e2e::Upload(static_cast<uint32_t>(capsule.size())) +
                          e2e::Passes("NCB", {romimg::kNcb0, romimg::kNcb1, romimg::kNcb1 + kBlock, romimg::kNcb2}));
    EXPECT_EQ(rk.status, 0) << rk.err;
    EXPECT_EQ(Flash(k), With(system.bytes, image.bytes, romimg::kNcb0, 4 * kBlock));
    EXPECT_EQ(Count(k, "sub=0x08 op=0x04 areas=0x00000001 "), 1u);

    // A file of block data only is smaller than the flash: its blocks come
    // from the system copy (the file itself holds no whole-flash layout).
    Bytes data = romimg::Pattern(100 * 1024, 0x77);
    e2e::Machine b = Machine(secure);
    e2e::RunResult rb = Run(b, {File(b, data, "ncb.bin"), "/K1"});
    EXPECT_EQ(rb.out, Head() + e2e::Upload(100 * 1024) + e2e::Passes("NCB", {romimg::kNcb1, romimg::kNcb1 + kBlock}));
    EXPECT_EQ(rb.status, 0) << rb.err;
    Bytes expected = system.bytes;
    std::copy(data.begin(), data.end(), expected.begin() + romimg::kNcb1);
    EXPECT_EQ(Flash(b), expected);
}

}  // namespace

YOZ_E2E_BOTH_WIDTHS(NvramNcb);
