// The OEM activation key commands end to end: "/A" joined to a key file
// writes the key into the system's "$FID" record (boot block) and tells the
// firmware; "/OAD" erases the key of an OA block; every other byte stays.
#include <gtest/gtest.h>
#include <algorithm>
#include <string>
#include <vector>
#include "E2eHarness.h"
#include "FlashLines.h"
#include "RomImageBuilder.h"
#include "SampleUpdate.h"
#include "UsageListing.h"

namespace {

using romimg::Bytes;

const uint32_t kKeyArea = 0x31;
const uint32_t kOaBlock = 0x10000;

std::string Str(const Bytes& b) { return std::string(b.begin(), b.end()); }

const std::string kChecksums = " - FFS checksums ......... ok\n";

std::string Head() { return e2e::PlainBanner() + e2e::FlashRead(); }

class OemActKey : public E2eWidth {
protected:
    // The sample whose boot volume holds a "$FID" record with an empty key area.
    // `inMain`: the record's file lies in the main volume and has no data checksum.
    romimg::Rom FidSystem(bool inMain = false) {
        romimg::FidSampleSpec spec;
        spec.inMain = inMain;
        if (inMain) spec.attributes = 0;
        return romimg::FidSample(spec);
    }
    // The first 64K block (NVRAM) split: NVRAM, then the OA block.
    static std::vector<romimg::BlockRun> OaBlocks() {
        return {{1, 0x10000, 2}, {1, 0x10000, 0x4A}, {12, 0x10000, 1}, {2, 0x10000, 0}};
    }
    e2e::Machine Machine(const Bytes& flash, const std::vector<romimg::BlockRun>& blocks,
                         const std::vector<std::string>& sets = {}) {
        return e2e::MakeMachine(Str(flash), romimg::BlockSpec(blocks), sets);
    }
    e2e::RunResult Run(const e2e::Machine& m, const std::vector<std::string>& args) {
        return e2e::RunProgram(Width(), m, args, "");
    }
    // The machine's key file "key.bin" (the key of a key area's length).
    static std::string KeyFile(const e2e::Machine& m, uint32_t seed = 0x3C) {
        romimg::WriteBytes(m.File("key.bin"), romimg::Pattern(kKeyArea, seed));
        return "/A" + m.File("key.bin");
    }
    // Nothing was erased or written and the firmware was told nothing.
    static void Untouched(const e2e::Machine& m, const Bytes& flash, const std::string& what) {
        EXPECT_EQ(Flash(m), flash) << what;
        EXPECT_EQ(Smi(m, "cmd=0x22") + Smi(m, "cmd=0x23"), 0u) << what;
        EXPECT_EQ(Smi(m, "cmd=0xdf") + Smi(m, "cmd=0xee"), 0u) << what;
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
    static uint32_t KeyAt(const romimg::Rom& r) { return romimg::FidKeyOffset(r); }
};

TEST_P(OemActKey, SlashAWritesTheKeyIntoTheBootBlockAndNotifiesTheFirmware) {
    // The key's file keeps its sums whatever the state of another volume; a
    // file that cannot be found (its volume too short to hold it) takes no key;
    // a boot block that reads other bytes each time is not written back.
    const struct {
        const char* what;
        int volume;  // whose header is damaged; -1: none
        uint64_t length;  // the damaged volume's length; 0: its header sum instead
        int status;
        std::string error;
        bool bootReadLies = false;  // the first read of the boot volume's code file header gives one wrong byte
        const char* zoktFault = nullptr;
        size_t checks = 1;  // key checks sent
    } cases[] = {
        {"sound volumes", -1, 0, 0, ""},
        {"main volume damaged", 0, 0, 0, ""},
        {"boot volume ends before the record", 1, 0x100, 0xB8, "b8 - Error: OA key region incorrect\n"},
        {"a lying read of the boot block", -1, 0, 0x42, "42 - Error: Problem reading flash.\n", true},
        {"the first key check unanswered", -1, 0, 0, "", false, "zokt_faults=0x5a#1:none", 2},
    };
    for (const auto& c : cases) {
        romimg::Rom system = FidSystem();
        if (c.volume >= 0 && c.length == 0) romimg::mut::VolumeHeaderSum(system, c.volume);
        if (c.volume >= 0 && c.length != 0) romimg::mut::FvLength(system, c.volume, c.length);
        std::vector<std::string> sets;
        if (c.bootReadLies)
            sets.push_back("flash_faults=read@" + std::to_string(system.File(romimg::PlainGuid(3)).offset) + "#1:corrupt");
        if (c.zoktFault != nullptr) sets.push_back(c.zoktFault);
        e2e::Machine m = Machine(system.bytes, romimg::SampleBlocks(), sets);
        Bytes key = romimg::Pattern(kKeyArea, 0x3C);
        romimg::WriteBytes(m.File("key.bin"), key);
        e2e::RunResult r = Run(m, {"/A" + m.File("key.bin")});
        EXPECT_EQ(r.status, c.status) << c.what << r.out;
        if (c.status != 0) {
            EXPECT_EQ(r.out, Head() + c.error) << c.what;
            Untouched(m, system.bytes, c.what);
            continue;
        }
        EXPECT_EQ(r.out, e2e::PlainBanner() + e2e::FlashRead() +
                             e2e::Passes("Boot", {romimg::kSampleBoot, romimg::kSampleBoot + 0x10000}))
            << c.what;
        Bytes expected = system.bytes;
        std::copy(key.begin(), key.end(), expected.begin() + KeyAt(system));
        romimg::RefreshFile(expected, system.File(romimg::kFidFile).offset);
        EXPECT_EQ(Flash(m), expected) << c.what << ": only the key (and its file's sum) changed";
        EXPECT_EQ(Smi(m, "zokt=0x5a"), c.checks) << c.what << ": the firmware saw the key before the write";
        EXPECT_EQ(Smi(m, "cmd=0x22"), 2u) << "the two boot blocks, nothing else";
        EXPECT_EQ(Smi(m, "cmd=0xdf"), 1u) << "the firmware is told of the new key";

        // A key is there now: the same file again is refused, nothing is written.
        e2e::RunResult again = Run(m, {"/A" + m.File("key.bin")});
        EXPECT_EQ(again.status, 0xBF);
        EXPECT_NE(again.out.find("Error: OA key is available, and OA Key is the same as BIN file in the system."),
                  std::string::npos);
        EXPECT_EQ(Flash(m), expected);
    }
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

// Where the key has no record to go into, "/A" stops before any erase: a
// system whose "$FID" record is older than version 4, and a system copy that
// holds no record (in eMMC 2x2 mode the copy is only the OA volumes).
TEST_P(OemActKey, SlashAWithoutARecordForTheKeyStopsBeforeAnyErase) {
    const std::string none = " - Warning: System doesn't have Activation Key, Activation Key update canceled.\n";
    const std::string b5 = "b5 - Error: No Support Activation Key error.\n";
    const std::string border = "+---------------------------------------------------------------------------+\n";
    std::string head2x2 = e2e::PlainBanner();
    head2x2.insert(border.size() * 2, "|                              2+2 Mode                                     |\n");
    romimg::FidSampleSpec noFid;
    noFid.version = 3;
    const struct {
        const char* what;
        bool systemFid;
        std::vector<std::string> sets;
        bool romFile;
        std::string out;
    } cases[] = {
        {"version 3 record", false, {}, false, Head() + none + b5},
        {"version 3 record, ROM file", false, {}, true, Head() + kChecksums + none + b5},
        {"2x2 copy", true, {"dsdt_text=..BIMC.."}, false,
         head2x2 + " 2X2 Mode Enable.\n" + e2e::FlashRead() +
             " - Warning: System FID table error, Activation Key update canceled.\n" + b5},
    };
    for (const auto& c : cases) {
        romimg::Rom system = c.systemFid ? FidSystem() : romimg::FidSample(noFid);
        e2e::Machine m = Machine(system.bytes, romimg::SampleBlocks(), c.sets);
        std::vector<std::string> args = {KeyFile(m)};
        if (c.romFile) {
            romimg::WriteBytes(m.File("new.rom"), FidSystem().bytes);
            args = {m.File("new.rom"), args[0]};
        }
        e2e::RunResult r = Run(m, args);
        EXPECT_EQ(r.status, 0xB5) << c.what;
        EXPECT_EQ(r.out, c.out) << c.what;
        Untouched(m, system.bytes, c.what);
    }
}

// A refusal of the firmware's key check ends the command before any erase:
// with the error line, or, after the firmware's own text, silently with the
// firmware's own error id when it gave one. A check never answered is no
// verdict: it is sent again, then the command ends as well.
TEST_P(OemActKey, FirmwareRefusalsOfTheKeyAreHonoured) {
    const struct {
        std::vector<std::string> sets;
        int status;
        std::string tail;
        size_t checks = 1;  // key checks sent
    } cases[] = {
        {{"oa_status=1"}, 0xD0, "d0 - Error: OA key data is invalid.\n"},
        {{"oa_status=4"}, 0xD1, "d1 - Error: BIOS has already updated OA.\n"},
        {{"oa_status=8"}, 0xD2, "d2 - Error: BIOS does not allow updating OA.\n"},
        {{"oa_status=0x8001", "oa_error_id=0xf3"}, 0xD0, "d0 - Error: OA key data is invalid.\n"},
        {{"oa_status=1", "oa_text=Key refused"}, 0xD0, " Key refused \n"},
        {{"oa_status=8", "oa_text=Key refused"}, 0xD2, " Key refused \n"},
        {{"oa_status=0x8008", "oa_error_id=0xf3", "oa_text=Key refused"}, 0xF3, " Key refused \n"},
        {{"zokt_faults=0x5a:none"}, 0xD3,
         " - The firmware did not answer the check of the OEM activation key.\n"
         "d3 - Error: BIOS doesn't support updating OA.\n",
         3},
    };
    for (const auto& c : cases) {
        romimg::Rom system = FidSystem();
        e2e::Machine m = Machine(system.bytes, romimg::SampleBlocks(), c.sets);
        e2e::RunResult r = Run(m, {KeyFile(m)});
        EXPECT_EQ(r.status, c.status) << c.sets.back();
        EXPECT_EQ(r.out, Head() + c.tail) << c.sets.back();
        EXPECT_EQ(Smi(m, "zokt=0x5a"), c.checks) << c.sets.back();
        Untouched(m, system.bytes, c.sets.back());
    }
}

// A ROM file beside "/A" or "/OAD" is flashed from, so it must be a whole
// image of this platform with sound checksums ("/X" skips the ROM ID).
TEST_P(OemActKey, RomFilesMustBeWholeImagesOfThisPlatform) {
    romimg::FidSampleSpec foreign;
    foreign.projectId = "OTHER001";
    romimg::Rom sound = FidSystem();
    Bytes shorter(sound.bytes.begin(), sound.bytes.end() - 0x10000);
    Bytes longer = sound.bytes;
    longer.resize(longer.size() + 0x10000, 0xFF);
    romimg::Rom broken = sound;
    romimg::mut::FileDataSum(broken, broken.File(romimg::PlainGuid(1)));
    const std::string size = "3 - Error: ROM file size does not match existing BIOS size.\n";
    const std::string romId = kChecksums + "4 - Error: ROM file ROMID is not compatible with existing BIOS ROMID.\n";
    const struct {
        const char* what;
        Bytes image;
        bool oaBlock;
        int status;
        std::string tail;
    } cases[] = {
        {"shorter", shorter, false, 3, size},
        {"longer", longer, false, 3, size},
        {"broken file", broken.bytes, false, 7, " - FFS checksums ......... bad\n7 - Error: BIOS checksum error.\n"},
        {"foreign", romimg::FidSample(foreign).bytes, false, 4, romId},
        {"shorter, OA block", shorter, true, 3, size},
        {"foreign, OA block", romimg::FidSample(foreign).bytes, true, 4, romId},
    };
    for (const auto& c : cases) {
        for (bool erase : {false, true}) {
            // "/OAD" needs a key to erase, "/A" an empty key area.
            romimg::FidSampleSpec spec;
            if (erase) spec.key = romimg::Pattern(kKeyArea, 5);
            romimg::Rom system = romimg::FidSample(spec);
            if (erase && c.oaBlock) system.Fill(kOaBlock, 0x10000, 0x99);
            e2e::Machine m = Machine(system.bytes, c.oaBlock ? OaBlocks() : romimg::SampleBlocks());
            romimg::WriteBytes(m.File("new.rom"), c.image);
            std::string what = std::string(c.what) + (erase ? " /OAD" : " /A");
            e2e::RunResult r = Run(m, {m.File("new.rom"), erase ? "/OAD" : KeyFile(m)});
            EXPECT_EQ(r.status, c.status) << what;
            EXPECT_EQ(r.out, Head() + c.tail) << what;
            Untouched(m, system.bytes, what);
            if (c.status != 4) continue;
            // "/X": the image's ROM ID is not compared.
            e2e::RunResult x = Run(m, {m.File("new.rom"), erase ? "/OAD" : KeyFile(m), "/X"});
            EXPECT_EQ(x.status, 0) << what << x.out;
        }
    }
}

// Under secure flash a key for the system copy is written as a flash item
// (over blank flash, without an erase); a "$FID" file with a data checksum
// cannot take it that way, and a key to erase cannot be erased that way:
// both stop before any request and tell the firmware nothing.
TEST_P(OemActKey, SecureFlashWritesTheKeyAreaAloneOrNothing) {
    const std::string kNotWriteOnce = "4a - Error: Platform data is not empty, And data address is not Alignment Block Address.\n";
    const std::vector<std::string> sets = {"secure_flash=1", "flash_nor=1"};
    romimg::Rom summed = FidSystem();
    e2e::Machine refused = Machine(summed.bytes, romimg::SampleBlocks(), sets);
    e2e::RunResult r = Run(refused, {KeyFile(refused)});
    EXPECT_EQ(r.status, 0x4A);
    EXPECT_EQ(r.out, Head() + kNotWriteOnce);
    Untouched(refused, summed.bytes, "data checksum");

    romimg::FidSampleSpec plain;
    plain.attributes = 0;
    romimg::Rom system = romimg::FidSample(plain);
    e2e::Machine m = Machine(system.bytes, romimg::SampleBlocks(), sets);
    e2e::RunResult w = Run(m, {KeyFile(m)});
    const std::string u = " Updating OA Block ........... ", v = " Verifying OA Block .......... ";
    char at[48];
    snprintf(at, sizeof(at), "0x%08X (0%%) \r", KeyAt(system));
    EXPECT_EQ(w.out, Head() + u + at + u + "done                \n" + v + at + v + "done                \n");
    EXPECT_EQ(w.status, 0) << w.out;
    Bytes expected = system.bytes;
    Bytes key = romimg::Pattern(kKeyArea, 0x3C);
    std::copy(key.begin(), key.end(), expected.begin() + KeyAt(system));
    EXPECT_EQ(Flash(m), expected);
    char addr[32];
    snprintf(addr, sizeof(addr), "addr=0x%08x", KeyAt(system));
    EXPECT_EQ(Smi(m, "cmd=0x23"), 1u);
    EXPECT_EQ(Smi(m, "cmd=0x23", addr), 1u);
    EXPECT_EQ(Smi(m, "cmd=0x22"), 0u);
    EXPECT_EQ(Smi(m, "cmd=0xdf"), 1u);

    // The key is there now: "/OAD" cannot erase it without its block.
    e2e::Machine again = Machine(expected, romimg::SampleBlocks(), sets);
    e2e::RunResult d = Run(again, {"/OAD"});
    EXPECT_EQ(d.status, 0x4A);
    EXPECT_EQ(d.out, Head() + kNotWriteOnce);
    Untouched(again, expected, "/OAD");

    // With a signed ROM file both rewrite the boot blocks through the
    // firmware's session: the image, its key written or cleared.
    romimg::Rom image = FidSystem();
    Bytes capsule = romimg::SignedCapsule(image.bytes, 0x400);
    romimg::FidSampleSpec keyed;
    keyed.key = romimg::Pattern(kKeyArea, 9);
    for (bool erase : {false, true}) {
        romimg::Rom before = erase ? romimg::FidSample(keyed) : image;
        e2e::Machine s = Machine(before.bytes, romimg::SampleBlocks(), sets);
        romimg::WriteBytes(s.File("new.cap"), capsule);
        e2e::RunResult c = Run(s, {s.File("new.cap"), erase ? "/OAD" : KeyFile(s)});
        EXPECT_EQ(c.out, Head() + " Secure Flash enabled, recalculate ROM size with signature... Enable.\n" + kChecksums +
                             e2e::Upload(romimg::kSampleSize) +
                             e2e::Passes("Boot", {romimg::kSampleBoot, romimg::kSampleBoot + 0x10000}))
            << erase;
        EXPECT_EQ(c.status, 0) << erase;
        Bytes after = image.bytes;
        if (!erase) romimg::PutFidKey(image, after, romimg::Pattern(kKeyArea, 0x3C));
        EXPECT_EQ(Flash(s), after) << erase;
        EXPECT_EQ(Smi(s, "sub=0x08 op=0x04 areas=0x00000001"), 1u) << erase;
    }
}

// "/OAD" without a ROM file rewrites the blocks that hold the "$FID"
// record from the system copy, its key cleared; the file keeps its sums.
TEST_P(OemActKey, SlashOadClearsTheKeyOfTheRecordInItsBlock) {
    for (bool inMain : {false, true}) {
        romimg::FidSampleSpec spec;
        spec.key = romimg::Pattern(kKeyArea, 7);
        spec.inMain = inMain;
        romimg::Rom system = romimg::FidSample(spec);
        e2e::Machine m = Machine(system.bytes, romimg::SampleBlocks(), {"flash_nor=1"});
        e2e::RunResult r = Run(m, {"/OAD"});
        uint32_t block = KeyAt(system) & ~0xFFFFu;
        EXPECT_EQ(r.out, Head() + e2e::Passes("Boot", {block})) << inMain;
        EXPECT_EQ(r.status, 0) << inMain;
        Bytes expected = system.bytes;
        romimg::PutFidKey(system, expected, Bytes(kKeyArea, 0xFF));
        EXPECT_EQ(Flash(m), expected) << inMain;
        EXPECT_EQ(Smi(m, "cmd=0x22"), 1u) << inMain;
        EXPECT_EQ(Smi(m, "cmd=0xdf") + Smi(m, "cmd=0xee"), 0u) << inMain;
        // The area is empty again: a new key can be written.
        EXPECT_EQ(Run(m, {KeyFile(m, 0x3E)}).status, 0) << inMain;
        romimg::PutFidKey(system, expected, romimg::Pattern(kKeyArea, 0x3E));
        EXPECT_EQ(Flash(m), expected) << inMain;
    }
}

// "/OAD" with a ROM file flashes the image's boot blocks and the blocks of
// its record, its key cleared; a system key that those blocks do not hold
// would stay on the flash: the run stops before any erase.
TEST_P(OemActKey, SlashOadWithARomFileRewritesTheBlocksOfTheRecord) {
    const struct {
        const char* what;
        bool imageInMain;
        int status;
    } cases[] = {
        {"both records in the main volume", true, 0},
        {"the image's record in the boot volume", false, 0xB8},
    };
    for (const auto& c : cases) {
        romimg::FidSampleSpec spec;
        spec.key = romimg::Pattern(kKeyArea, 7);
        spec.inMain = true;
        romimg::Rom system = romimg::FidSample(spec);
        spec.key = romimg::Pattern(kKeyArea, 9);
        spec.inMain = c.imageInMain;
        romimg::Rom image = romimg::FidSample(spec);
        e2e::Machine m = Machine(system.bytes, romimg::SampleBlocks(), {"flash_nor=1"});
        romimg::WriteBytes(m.File("new.rom"), image.bytes);
        e2e::RunResult r = Run(m, {m.File("new.rom"), "/OAD"});
        EXPECT_EQ(r.status, c.status) << c.what;
        if (c.status != 0) {
            EXPECT_EQ(r.out, Head() + kChecksums + "b8 - Error: OA key region incorrect\n") << c.what;
            Untouched(m, system.bytes, c.what);
            continue;
        }
        uint32_t block = KeyAt(system) & ~0xFFFFu;
        EXPECT_EQ(r.out, Head() + kChecksums + e2e::Passes("Boot", {block, romimg::kSampleBoot, romimg::kSampleBoot + 0x10000}))
            << c.what;
        Bytes expected = system.bytes;
        romimg::PutFidKey(system, expected, Bytes(kKeyArea, 0xFF));
        EXPECT_EQ(Flash(m), expected) << c.what;
        EXPECT_EQ(Smi(m, "cmd=0x22"), 3u) << c.what;
    }
}

// "/A" and "/OAD" with a ROM file rewrite the image's boot blocks and the
// block of its record: the system's ROM holes and SLP key in those blocks go
// with them, each at the image's place of its GUID, or the run stops before
// any erase.
TEST_P(OemActKey, RomFileBlocksKeepTheSystemsHolesAndSlpKey) {
    using romimg::ProtectedLayout;
    const romimg::Guid h0 = romimg::RomHoleGuid(0), h1 = romimg::RomHoleGuid(1), slp = romimg::kSlpKey;
    const ProtectedLayout plain, boot = ProtectedLayout().MoveToBoot(h1).MoveToBoot(slp);
    const Bytes key = romimg::Pattern(kKeyArea, 0x3C);
    const struct {
        const char* what;
        bool erase;  // "/OAD", else "/A" with the key
        ProtectedLayout system, image;
        int status;
    } cases[] = {
        {"/A, holes and SLP key in the record's block", false, plain, plain, 0},
        {"/A, a hole and the SLP key in the boot block", false, boot, boot, 0},
        {"/OAD, holes and SLP key in the record's block", true, plain, plain, 0},
        {"/OAD, a hole and the SLP key in the boot block", true, boot, boot, 0},
        {"/A, the image lacks a hole", false, plain, ProtectedLayout(plain).Drop(h1), 0xBB},
        {"/OAD, the image's SLP key file has another size", true, boot, ProtectedLayout(boot).Resize(slp, 0xA0),
         0x14},
    };
    // Other code in the record's main block than the system's would leave the volume half the image's.
    {
        romimg::SampleUpdate u = romimg::MakeSampleUpdate(plain, plain, kKeyArea);
        romimg::PutFidKey(u.system, u.system.bytes, Bytes(kKeyArea, 0xFF));
        e2e::Machine m = Machine(u.system.bytes, romimg::SampleBlocks(), {"flash_nor=1"});
        romimg::WriteBytes(m.File("new.rom"), u.image.bytes);
        romimg::WriteBytes(m.File("key.bin"), key);
        e2e::RunResult r = Run(m, {m.File("new.rom"), "/B", "/A" + m.File("key.bin")});
        EXPECT_EQ(r.out, Head() + kChecksums + "b8 - Error: OA key region incorrect\n");
        Untouched(m, u.system.bytes, "/B /A, other code beside the image's record");
    }
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        // The image's code is the system's: a block of the main volume taken
        // from it leaves the volume whole.
        romimg::SampleUpdate u = romimg::MakeSampleUpdate(c.system, c.image, kKeyArea, 1);
        // "/A" writes into an empty key area; "/OAD" clears the system's key.
        if (!c.erase) romimg::PutFidKey(u.system, u.system.bytes, Bytes(kKeyArea, 0xFF));
        e2e::Machine m = Machine(u.system.bytes, romimg::SampleBlocks(), {"flash_nor=1"});
        romimg::WriteBytes(m.File("new.rom"), u.image.bytes);
        romimg::WriteBytes(m.File("key.bin"), key);
        e2e::RunResult r = Run(m, {m.File("new.rom"), c.erase ? "/OAD" : "/A" + m.File("key.bin")});
        EXPECT_EQ(r.status, c.status) << r.out;
        if (c.status != 0) {
            EXPECT_EQ(r.out, Head() + kChecksums +
                                 (c.status == 0xBB
                                      ? "bb - Error: Rom image layout detected Rom Hole is redesigned.\n"
                                      : "14 - Error: Non-critical blocks in ROM image file do not match those in "
                                        "the system.\n"));
            Untouched(m, u.system.bytes, c.what);
            continue;
        }
        const uint32_t block = u.fid.offset & ~0xFFFFu;
        EXPECT_EQ(r.out, Head() + kChecksums +
                             e2e::Passes("Boot", {block, romimg::kSampleBoot, romimg::kSampleBoot + 0x10000}));
        Bytes carried = romimg::ImageWithSystemFiles(u, {h0, h1, slp});
        romimg::PutFidKey(u.image, carried, c.erase ? Bytes(kKeyArea, 0xFF) : key);
        Bytes expected = u.system.bytes;
        for (uint32_t at : {block, romimg::kSampleBoot, romimg::kSampleBoot + 0x10000})
            std::copy(carried.begin() + at, carried.begin() + at + 0x10000, expected.begin() + at);
        EXPECT_TRUE(Flash(m) == expected);
        const Bytes flash = Flash(m);
        for (const romimg::Guid& g : {h0, h1, slp}) {
            const romimg::FileAt from = u.system.File(g), to = u.image.File(g);
            EXPECT_TRUE(std::equal(flash.begin() + to.offset, flash.begin() + to.offset + to.size,
                                   u.system.bytes.begin() + from.offset));
        }
    }
}

// An OA block whose key length the "$FID" record does not give (a length of
// 0, or no record) is checked over its own key area before it is written.
TEST_P(OemActKey, SlashAChecksAnOaBlockKeyWithoutALengthInTheRecord) {
    romimg::FidSampleSpec zero, none;
    zero.key = {};
    none.fid = false;
    for (const romimg::FidSampleSpec& spec : {zero, none}) {
        romimg::Rom system = romimg::FidSample(spec);
        system.Fill(kOaBlock, 0x10000, 0x99);
        e2e::Machine m = Machine(system.bytes, OaBlocks());
        e2e::RunResult r = Run(m, {KeyFile(m)});
        EXPECT_EQ(r.status, 0xB6) << spec.fid;
        EXPECT_EQ(r.out, Head() + "b6 - Error: OA key is available, and OA Key is not the same as BIN file in the system.\n")
            << spec.fid;
        Untouched(m, system.bytes, spec.fid ? "length 0" : "no record");
    }
}

}  // namespace

YOZ_E2E_BOTH_WIDTHS(OemActKey);
