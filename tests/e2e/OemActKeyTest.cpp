// The OEM activation key commands end to end: "/A" joined to a key file
// writes the key into the system's "$FID" record (boot block) and tells the
// firmware; "/OAD" erases the key of an OA block; every other byte stays.
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "E2eHarness.h"
#include "FlashLines.h"
#include "RomImageBuilder.h"
#include "UsageListing.h"

namespace {

using romimg::Bytes;

const uint32_t kKeyArea = 0x31;
const uint32_t kOaBlock = 0x10000;

std::string Str(const Bytes& b) { return std::string(b.begin(), b.end()); }

class OemActKey : public E2eWidth {
protected:
    // The sample whose boot volume holds a "$FID" record with an empty key area.
    // `inMain`: the record's file lies in the main volume and has no data checksum.
    romimg::Rom FidSystem(bool inMain = false) {
        romimg::SampleSpec spec;
        romimg::FidSpec fid;
        fid.oaKey = Bytes(kKeyArea, 0xFF);
        romimg::FileSpec file = romimg::FidFile(fid);
        spec.mainFiles = {romimg::PlainFile(1, 0x300)};
        spec.bootFiles = {romimg::PlainFile(3, 0x80)};
        if (inMain) file.attributes = 0;
        (inMain ? spec.mainFiles : spec.bootFiles).push_back(file);
        return romimg::SampleRom(spec);
    }
    // The first 64K block (NVRAM) split: NVRAM, then the OA block.
    static std::vector<romimg::BlockRun> OaBlocks() {
        return {{1, 0x10000, 2}, {1, 0x10000, 0x4A}, {12, 0x10000, 1}, {2, 0x10000, 0}};
    }
    e2e::Machine Machine(const Bytes& flash, const std::vector<romimg::BlockRun>& blocks) {
        return e2e::MakeMachine(Str(flash), romimg::BlockSpec(blocks), {});
    }
    e2e::RunResult Run(const e2e::Machine& m, const std::vector<std::string>& args) {
        return e2e::RunProgram(Width(), m, args, "");
    }
    static Bytes Flash(const e2e::Machine& m) {
        std::string f = e2e::ReadFile(m.File("flash.bin"));
        return Bytes(f.begin(), f.end());
    }
    static size_t Smi(const e2e::Machine& m, const std::string& needle, const std::string& also = "") {
        size_t n = 0;
        for (const std::string& line : e2e::TraceOfKind(m, "smi"))
            n += line.find(needle) != std::string::npos && line.find(also) != std::string::npos;
        return n;
    }
    static uint32_t KeyAt(const romimg::Rom& r) {
        const romimg::FileAt& f = r.File(romimg::kFidFile);
        return f.offset + 44 + 0x47;
    }
};

TEST_P(OemActKey, SlashAWritesTheKeyIntoTheBootBlockAndNotifiesTheFirmware) {
    romimg::Rom system = FidSystem();
    e2e::Machine m = Machine(system.bytes, romimg::SampleBlocks());
    Bytes key = romimg::Pattern(kKeyArea, 0x3C);
    romimg::WriteBytes(m.File("key.bin"), key);
    e2e::RunResult r = Run(m, {"/A" + m.File("key.bin")});
    EXPECT_EQ(r.out, e2e::PlainBanner() + e2e::FlashRead() +
                         e2e::Passes("Boot", {romimg::kSampleBoot, romimg::kSampleBoot + 0x10000}));
    EXPECT_EQ(r.status, 0) << r.err;
    Bytes expected = system.bytes;
    std::copy(key.begin(), key.end(), expected.begin() + KeyAt(system));
    romimg::RefreshFile(expected, system.File(romimg::kFidFile).offset);
    EXPECT_EQ(Flash(m), expected) << "only the key (and its file's sum) changed";
    EXPECT_EQ(Smi(m, "zokt=0x5a"), 1u) << "the firmware saw the key before the write";
    EXPECT_EQ(Smi(m, "cmd=0x22"), 2u) << "the two boot blocks, nothing else";
    EXPECT_EQ(Smi(m, "cmd=0xdf"), 1u) << "the firmware is told of the new key";

    // A key is there now: the same file again is refused, nothing is written.
    e2e::RunResult again = Run(m, {"/A" + m.File("key.bin")});
    EXPECT_EQ(again.status, 0xBF);
    EXPECT_NE(again.out.find("Error: OA key is available, and OA Key is the same as BIN file in the system."),
              std::string::npos);
    EXPECT_EQ(Flash(m), expected);
}

// The key is written over blank flash without an erase of its own: the
// write-once test looks at what the flash holds, not at the new key. A key
// outside the boot block goes with the block that holds it.
TEST_P(OemActKey, SlashAWritesAKeyOfAFileWithoutSumWhereverItLies) {
    romimg::Rom system = FidSystem(true);
    e2e::Machine m = Machine(system.bytes, romimg::SampleBlocks());
    Bytes key = romimg::Pattern(kKeyArea, 0x3D);
    romimg::WriteBytes(m.File("key.bin"), key);
    e2e::RunResult r = Run(m, {"/A" + m.File("key.bin")});
    EXPECT_EQ(r.out, e2e::PlainBanner() + e2e::FlashRead() +
                         e2e::Passes("Boot", {romimg::kSampleMain, romimg::kSampleBoot, romimg::kSampleBoot + 0x10000}));
    EXPECT_EQ(r.status, 0) << r.err;
    Bytes expected = system.bytes;
    std::copy(key.begin(), key.end(), expected.begin() + KeyAt(system));
    EXPECT_EQ(Flash(m), expected);
    EXPECT_EQ(Smi(m, "cmd=0x22", "addr=0x00020000"), 1u);
}

TEST_P(OemActKey, SlashARefusesAKeyFileThatDoesNotFitTheKeyArea) {
    romimg::Rom system = FidSystem();
    e2e::Machine m = Machine(system.bytes, romimg::SampleBlocks());
    romimg::WriteBytes(m.File("big.bin"), romimg::Pattern(kKeyArea + 1, 0x3C));
    e2e::RunResult r = Run(m, {"/A" + m.File("big.bin")});
    EXPECT_EQ(r.out, e2e::PlainBanner() + e2e::FlashRead() +
                         "b2 - Error: File Size is greater than image activation key length.\n");
    EXPECT_EQ(r.status, 0xB2);
    EXPECT_EQ(Flash(m), system.bytes);
    EXPECT_EQ(Smi(m, "cmd=0x22"), 0u);
    EXPECT_EQ(Smi(m, "cmd=0xdf"), 0u);

    // An empty key file is no key.
    romimg::WriteBytes(m.File("empty.bin"), Bytes());
    EXPECT_EQ(Run(m, {"/A" + m.File("empty.bin")}).status, 0xB1);
    // A name longer than 127 characters is refused, not cut.
    EXPECT_EQ(Run(m, {"/A" + std::string(128, 'k')}).status, 0xB1);
    EXPECT_EQ(Flash(m), system.bytes);
}

TEST_P(OemActKey, SlashOadErasesTheKeyOfTheOaBlockOnly) {
    romimg::Rom system = FidSystem();
    system.Fill(kOaBlock, 0x10000, 0x99);
    e2e::Machine m = Machine(system.bytes, OaBlocks());
    e2e::RunResult r = Run(m, {"/OAD"});
    EXPECT_EQ(r.out, e2e::PlainBanner() + e2e::FlashRead() + e2e::Passes("OA", {kOaBlock}));
    EXPECT_EQ(r.status, 0) << r.err;
    Bytes expected = system.bytes;
    std::fill(expected.begin() + kOaBlock, expected.begin() + kOaBlock + kKeyArea, 0xFF);
    EXPECT_EQ(Flash(m), expected);
    EXPECT_EQ(Smi(m, "cmd=0x22"), 1u);
    EXPECT_EQ(Smi(m, "cmd=0x22", "addr=0x00010000"), 1u);
    EXPECT_EQ(Smi(m, "cmd=0xdf") + Smi(m, "cmd=0xee"), 0u) << "no SMI follows a delete";

    // The key is gone: a second delete finds nothing and writes nothing.
    e2e::RunResult again = Run(m, {"/OAD"});
    EXPECT_EQ(again.status, 0xB7);
    EXPECT_EQ(again.out, e2e::PlainBanner() + e2e::FlashRead() + "b7 - Error: OA key is empty.\n");
    EXPECT_EQ(Flash(m), expected);

    // With a ROM file the OA block comes from the image, its key area cleared.
    romimg::Rom image = system;
    image.Fill(kOaBlock, 0x10000, 0x77);
    e2e::Machine fresh = Machine(system.bytes, OaBlocks());
    romimg::WriteBytes(fresh.File("new.rom"), image.bytes);
    e2e::RunResult withFile = Run(fresh, {fresh.File("new.rom"), "/OAD"});
    EXPECT_EQ(withFile.status, 0) << withFile.out;
    expected = system.bytes;
    std::copy(image.bytes.begin() + kOaBlock, image.bytes.begin() + 2 * kOaBlock, expected.begin() + kOaBlock);
    std::fill(expected.begin() + kOaBlock, expected.begin() + kOaBlock + kKeyArea, 0xFF);
    EXPECT_EQ(Flash(fresh), expected);
}

}  // namespace

YOZ_E2E_BOTH_WIDTHS(OemActKey);
