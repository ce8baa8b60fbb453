// The structure pairs and the machine-data property on made-up outcomes:
// the seeds give every change the property test relies on, and the check
// holds for the flash a sound update leaves and fails, with its class, for
// each way of losing or spoiling machine data.
#include <gtest/gtest.h>
#include <functional>
#include <set>
#include <string>
#include "MachineDataProperty.h"
#include "StructurePair.h"

namespace {

using romimg::Bytes;

// The first seed whose pair satisfies `want`.
pairgen::Pair FirstPair(const std::function<bool(const pairgen::Pair&)>& want) {
    for (uint32_t seed = 1; seed < 5000; ++seed) {
        pairgen::Pair p = pairgen::MakePair(seed);
        if (want(p)) return p;
    }
    ADD_FAILURE() << "no seed below 5000 gives such a pair";
    return pairgen::MakePair(1);
}

bool Has(const romimg::Rom& r, int volume, const romimg::Guid& g) {
    for (const romimg::FileAt& f : r.volumes[static_cast<size_t>(volume)].files) {
        if (f.name == g) return true;
    }
    return false;
}

bool HasHole(const romimg::Rom& r, int volume) {
    for (uint32_t n = 0; n < 16; ++n) {
        if (Has(r, volume, romimg::RomHoleGuid(n))) return true;
    }
    return false;
}

// A pair that matches in structure, with a hole, the SLP files (holding
// data) and the OA key all in the main volume.
bool MainKeeps(const pairgen::Pair& p) {
    return p.changes.empty() && p.damage.empty() && !p.oaBlock && p.oaKey && p.slpData && p.ncbRuns < 8 &&
           HasHole(p.system, p.mainVolume) && Has(p.system, p.mainVolume, romimg::kFidFile);
}

// Also non-critical blocks 0 and 1, an EC block and an SMBIOS area in the
// main volume that the image's area can take.
bool MainKeepsWithExtras(const pairgen::Pair& p) {
    if (!MainKeeps(p) || p.ncbRuns < 2 || !p.ecBlock || p.dmiVolume != p.mainVolume) return false;
    return romimg::Get32(p.image.bytes, p.image.File(romimg::kDmiFile).offset + 28) >=
           romimg::Get32(p.system.bytes, p.system.File(romimg::kDmiFile).offset + 28);
}

// `flash` with the blocks of `type` from the image.
Bytes WithBlocks(const pairgen::Pair& p, Bytes flash, uint32_t type) {
    for (const pairgen::Block& b : p.blocks) {
        if (b.type == type) std::copy(p.image.bytes.begin() + b.start, p.image.bytes.begin() + b.start + b.size, flash.begin() + b.start);
    }
    return flash;
}

const pairgen::Block* FirstOfType(const pairgen::Pair& p, uint32_t type) {
    for (const pairgen::Block& b : p.blocks) {
        if (b.type == type) return &b;
    }
    return nullptr;
}

// The main blocks taken from the image; then every protected file of the
// main volume (holes, SLP files, the firmware-ID file with its key) put
// back from the system, as a sound main update of a matching pair leaves it.
Bytes SoundMainUpdate(const pairgen::Pair& p, const romimg::Guid* leaveOut = nullptr) {
    Bytes flash = WithBlocks(p, p.system.bytes, pairgen::kMain);
    for (const romimg::FileAt& f : p.system.volumes[static_cast<size_t>(p.mainVolume)].files) {
        bool holeFile = false;
        for (uint32_t n = 0; n < 16; ++n) holeFile = holeFile || f.name == romimg::RomHoleGuid(n);
        bool kept = holeFile || f.name == romimg::kSlpKey || f.name == romimg::kSlpMarker || f.name == romimg::kFidFile;
        if (!kept || (leaveOut != nullptr && f.name == *leaveOut)) continue;
        std::copy(p.system.bytes.begin() + f.offset, p.system.bytes.begin() + f.offset + f.size, flash.begin() + f.offset);
    }
    return flash;
}

propcheck::Outcome Done(const pairgen::Pair& p, const Bytes& flash, int status = 0, const std::string& out = "") {
    propcheck::Outcome o;
    o.status = status;
    o.out = out;
    o.flash = flash;
    if (propcheck::NeedsVerify(p, propcheck::Options{}, o)) {
        o.verified = true;
        o.verifyStatus = 0;
        o.verifyOut = " - ROM File verification status ..... ok\n";
        o.flashAfterVerify = flash;
    }
    return o;
}

std::string ClassOf(const pairgen::Pair& p, const std::vector<std::string>& words, const propcheck::Outcome& o) {
    return propcheck::Check(p, propcheck::FromWords(words, false), o).klass;
}

TEST(StructurePairs, OneSeedGivesOnePairOfEqualSizes) {
    pairgen::Pair a = pairgen::MakePair(77), b = pairgen::MakePair(77);
    EXPECT_EQ(a.system.bytes, b.system.bytes);
    EXPECT_EQ(a.image.bytes, b.image.bytes);
    EXPECT_EQ(a.BlockText(), b.BlockText());
    for (uint32_t seed = 1; seed <= 40; ++seed) {
        pairgen::Pair p = pairgen::MakePair(seed);
        uint32_t covered = 0;
        for (const pairgen::Block& blk : p.blocks) covered += blk.size;
        EXPECT_EQ(covered, p.system.size()) << seed;
        EXPECT_EQ(p.image.size(), p.system.size()) << seed;
    }
}

TEST(StructurePairs, TheSeedsGiveEveryChangeLayoutAndDamage) {
    std::set<std::string> seen;
    const char* const kChanges[] = {"adds hole",     "lacks hole",   "swap places",          "resized from",
                                    "moved behind",  "comes before", "has no SLP files",     "keeps its $FID",
                                    "key area",      "checksum attribute", "code file", "another platform",
                                    "system holds", "image holds"};
    const char* const kDamage[] = {"file-system GUID", "\"_FVH\"", "header checksum of the file", "data checksum",
                                   "volume's header checksum"};
    for (uint32_t seed = 1; seed <= 400; ++seed) {
        pairgen::Pair p = pairgen::MakePair(seed);
        seen.insert("block " + std::to_string(p.blockSize));
        seen.insert(p.oaBlock ? "OA block" : "no OA block");
        if (p.ncbRuns == 0) seen.insert("no NCB");
        if (p.ncbRuns > 16) seen.insert("more than 16 NCB runs");
        if (p.changes.empty() && p.damage.empty()) seen.insert("matching");
        if (p.ecBlock) seen.insert("EC block");
        if (p.dmiVolume == p.mainVolume) seen.insert("SMBIOS area in the main volume");
        if (p.dmiVolume == p.bootVolume) seen.insert("SMBIOS area in the boot volume");
        if (p.blankHoles) seen.insert("holes not yet given");
        if (p.capsuleFile) seen.insert("capsule file");
        for (int v : {p.mainVolume, p.bootVolume}) {
            if (Has(p.system, v, romimg::kFidFile)) seen.insert("$FID in volume " + std::to_string(v));
        }
        for (const std::string& c : p.changes) {
            for (const char* k : kChanges) {
                if (c.find(k) != std::string::npos) seen.insert(k);
            }
        }
        for (const char* d : kDamage) {
            if (p.damage.find(d) != std::string::npos) seen.insert(d);
        }
    }
    std::set<std::string> wanted = {"block 4096",        "block 16384", "block 65536",       "OA block",
                                    "no OA block",       "no NCB",      "more than 16 NCB runs", "matching",
                                    "$FID in volume 0",  "$FID in volume 1", "EC block",
                                    "SMBIOS area in the main volume", "SMBIOS area in the boot volume",
                                    "holes not yet given", "capsule file"};
    for (const char* k : kChanges) wanted.insert(k);
    for (const char* d : kDamage) wanted.insert(d);
    for (const std::string& w : wanted) EXPECT_EQ(seen.count(w), 1u) << w;
}

TEST(MachineDataProperty, HoldsForASoundUpdateAndNamesEachWayOfLosingData) {
    pairgen::Pair p = FirstPair(MainKeepsWithExtras);
    const Bytes sound = SoundMainUpdate(p);
    const pairgen::Block* nvram = FirstOfType(p, pairgen::kNvram);
    ASSERT_NE(nvram, nullptr);
    romimg::Guid hole{};
    for (uint32_t n = 0; n < 16; ++n) {
        if (Has(p.system, p.mainVolume, romimg::RomHoleGuid(n))) hole = romimg::RomHoleGuid(n);
    }
    // A byte in the free space of the main volume: the volume stays sound.
    const romimg::VolumeAt& main = p.system.volumes[static_cast<size_t>(p.mainVolume)];
    uint32_t freeByte = main.offset + main.length - 16;
    Bytes outside = sound, other = sound, noKey = SoundMainUpdate(p, &romimg::kFidFile);
    outside[nvram->start + 5] ^= 0x20;
    Bytes erased = p.system.bytes;
    std::fill(erased.begin() + nvram->start, erased.begin() + nvram->start + nvram->size, 0xFF);
    other[freeByte] = 0x00;

    struct Row {
        const char* what;
        std::vector<std::string> words;
        propcheck::Outcome outcome;
        std::string klass;
    };
    propcheck::Outcome crashed = Done(p, p.system.bytes, 139);
    crashed.signal = 11;
    // NVRAM alone; the main update with the system's SMBIOS area in the image's place.
    const Bytes nvramOnly = WithBlocks(p, p.system.bytes, pairgen::kNvram);
    Bytes keptArea = sound;
    const romimg::FileAt& sysDmi = p.system.File(romimg::kDmiFile);
    const romimg::FileAt& imgDmi = p.image.File(romimg::kDmiFile);
    uint32_t area = 8 + romimg::Get32(p.system.bytes, sysDmi.offset + 28);
    std::copy(p.system.bytes.begin() + sysDmi.offset + 24, p.system.bytes.begin() + sysDmi.offset + 24 + area,
              keptArea.begin() + imgDmi.offset + 24);
    romimg::RefreshFile(keptArea, imgDmi.offset);
    propcheck::Outcome failsVerify = Done(p, sound);
    failsVerify.verifyStatus = 4;
    failsVerify.verifyOut = "4 - Error: ROM file ROMID is not compatible with existing BIOS ROMID.\n";
    const Row rows[] = {
        {"sound main update", {"new.rom"}, Done(p, sound), ""},
        {"the same through /P and /caf", {"new.rom", "/P", "/caf"}, Done(p, sound), ""},
        {"hole left as the image has it", {"new.rom"}, Done(p, SoundMainUpdate(p, &hole)), "lost the ROM hole"},
        {"SLP key left as the image has it", {"new.rom"}, Done(p, SoundMainUpdate(p, &romimg::kSlpKey)), "lost the SLP key"},
        {"OA key left as the image has it", {"new.rom"}, Done(p, noKey), "lost the OA key"},
        {"a byte of the NVRAM changed", {"new.rom"}, Done(p, outside), "changed bytes outside the regions named"},
        {"the main blocks are named by /B /P /N", {"new.rom", "/B", "/P", "/N"}, Done(p, sound),
         "wrote something else than the image"},
        {"free space not as the image has it", {"new.rom"}, Done(p, other), "wrote something else than the image"},
        {"the flash fails /D", {"new.rom"}, failsVerify, "the flash written fails \"/D\""},
        {"refused with nothing written", {"new.rom"}, Done(p, p.system.bytes, 0x14),
         "refused a pair that can be kept"},
        {"refused after a write", {"new.rom"}, Done(p, sound, 0x14), "changed the flash and failed"},
        // The machines inject no faults: a failing engine is no excuse for a flash changed.
        {"engine failure reported", {"new.rom"}, Done(p, sound, 0x44, "44 - Error: Problem writting flash.\n"),
         "changed the flash and failed"},
        {"engine failure, a block left erased", {"new.rom"}, Done(p, erased, 0x44, "44 - Error: Problem writting flash.\n"),
         "changed the flash and failed"},
        // ... and an engine status with the flash unchanged is a refusal like any other.
        {"engine failure, the flash unchanged", {"new.rom", "/N"}, Done(p, p.system.bytes, 0x44),
         "refused a pair that can be kept"},
        {"crash", {"new.rom"}, crashed, "crash"},
        // "/K" with a number writes that non-critical block of the system's list.
        {"/N /K0: NVRAM and block 0 from the image", {"new.rom", "/N", "/K0"},
         Done(p, WithBlocks(p, nvramOnly, pairgen::kNcb0)), ""},
        {"/N /K1 leaves block 1 as the system has it", {"new.rom", "/N", "/K1"}, Done(p, nvramOnly),
         "wrote something else than the image"},
        {"/N /K1 writes block 0 too", {"new.rom", "/N", "/K1"},
         Done(p, WithBlocks(p, WithBlocks(p, nvramOnly, pairgen::kNcb0 + 1), pairgen::kNcb0)),
         "changed bytes outside the regions named"},
        {"/N /K1 refused where the system has block 1", {"new.rom", "/N", "/K1"}, Done(p, p.system.bytes, 0x13),
         "refused a pair that can be kept"},
        {"/N /E: NVRAM and the EC block from the image", {"new.rom", "/N", "/E"},
         Done(p, WithBlocks(p, nvramOnly, pairgen::kEc)), ""},
        {"/P /R keeps the system's SMBIOS area", {"new.rom", "/P", "/R"}, Done(p, keptArea), ""},
        {"/P /R with the image's area", {"new.rom", "/P", "/R"}, Done(p, sound), "lost the SMBIOS structures"},
        {"/P /SP: the main update", {"new.rom", "/P", "/SP"}, Done(p, sound), ""},
    };
    for (const Row& r : rows) EXPECT_EQ(ClassOf(p, r.words, r.outcome), r.klass) << r.what << "\n" << p.Describe();
}

TEST(MachineDataProperty, AnotherPlatformsImageUnderXPassesWithTheRomIdDifferenceOfD) {
    pairgen::Pair p = FirstPair([](const pairgen::Pair& q) {
        return q.changes.size() == 1 && q.Changes("another platform") && q.damage.empty() && !q.oaKey && !q.slpData &&
               q.holes == 0 && q.ncbRuns < 8;
    });
    Bytes flash = p.system.bytes;
    for (const pairgen::Block& b : p.blocks) {
        if (b.type == pairgen::kMain) std::copy(p.image.bytes.begin() + b.start, p.image.bytes.begin() + b.start + b.size, flash.begin() + b.start);
    }
    propcheck::Outcome o = Done(p, flash);
    o.verifyStatus = 4;
    o.verifyOut = "4 - Error: ROM file ROMID is not compatible with existing BIOS ROMID.\n";
    EXPECT_EQ(ClassOf(p, {"new.rom", "/X"}, o), "") << p.Describe();
    EXPECT_EQ(ClassOf(p, {"new.rom"}, o), "the flash written fails \"/D\"") << p.Describe();
    // Refused without "/X", nothing lost: another platform's image may be refused.
    EXPECT_EQ(ClassOf(p, {"new.rom"}, Done(p, p.system.bytes, 4)), "") << p.Describe();
}

TEST(MachineDataProperty, HolesAreReplacedByL_AndDamageOrAMissingHoleMustStopTheRun) {
    // "/L": the image's holes in the system's places, every other byte kept.
    pairgen::Pair p = FirstPair(MainKeeps);
    Bytes holes = p.system.bytes;
    for (const romimg::VolumeAt& v : p.system.volumes) {
        for (const romimg::FileAt& f : v.files) {
            for (uint32_t n = 0; n < 16; ++n) {
                if (f.name == romimg::RomHoleGuid(n))
                    std::copy(p.image.bytes.begin() + f.offset, p.image.bytes.begin() + f.offset + f.size, holes.begin() + f.offset);
            }
        }
    }
    EXPECT_EQ(ClassOf(p, {"new.rom", "/L"}, Done(p, holes)), "");
    EXPECT_EQ(ClassOf(p, {"new.rom", "/L"}, Done(p, SoundMainUpdate(p))), "changed bytes outside the regions named");

    // A damaged main volume written as it is.
    pairgen::Pair d = FirstPair([](const pairgen::Pair& q) {
        return q.changes.empty() && q.damageType == pairgen::kMain && q.damage.find("volume's") != std::string::npos;
    });
    Bytes damaged = d.system.bytes;
    for (const pairgen::Block& b : d.blocks) {
        if (b.type == pairgen::kMain) std::copy(d.image.bytes.begin() + b.start, d.image.bytes.begin() + b.start + b.size, damaged.begin() + b.start);
    }
    EXPECT_EQ(ClassOf(d, {"new.rom"}, Done(d, damaged)), "wrote an unsound volume") << d.Describe();
    EXPECT_EQ(ClassOf(d, {"new.rom"}, Done(d, d.system.bytes, 7)), "") << d.Describe();

    // An image without one of the system's main holes (and no key in the
    // main volume): the hole is kept only by refusing.
    pairgen::Pair m = FirstPair([](const pairgen::Pair& q) {
        return q.changes.size() == 1 && q.damage.empty() && q.changes[0].find("lacks hole") != std::string::npos &&
               q.changes[0].find("main volume") != std::string::npos &&
               (!q.oaKey || !Has(q.system, q.mainVolume, romimg::kFidFile));
    });
    Bytes taken = m.system.bytes;
    for (const pairgen::Block& b : m.blocks) {
        if (b.type == pairgen::kMain) std::copy(m.image.bytes.begin() + b.start, m.image.bytes.begin() + b.start + b.size, taken.begin() + b.start);
    }
    EXPECT_EQ(ClassOf(m, {"new.rom"}, Done(m, taken)), "lost the ROM hole") << m.Describe();
    EXPECT_EQ(ClassOf(m, {"new.rom"}, Done(m, m.system.bytes, 0xBB)), "") << m.Describe();
}

TEST(MachineDataProperty, SlashLWithANumberReplacesTheChosenHoleOfTheSystemsNumbering) {
    // The system's holes are numbered main volume first, then boot block.
    pairgen::Pair p = FirstPair([](const pairgen::Pair& q) {
        size_t main = 0;
        for (const romimg::FileAt& f : q.system.volumes[static_cast<size_t>(q.mainVolume)].files) {
            for (uint32_t n = 0; n < 16; ++n) main += f.name == romimg::RomHoleGuid(n);
        }
        return q.changes.empty() && q.damage.empty() && q.ncbRuns < 8 && main == 1 && HasHole(q.system, q.bootVolume);
    });
    const romimg::FileAt* first = nullptr;   // hole 1 of the numbering: the boot block's first hole
    for (const romimg::FileAt& f : p.system.volumes[static_cast<size_t>(p.bootVolume)].files) {
        for (uint32_t n = 0; n < 16 && first == nullptr; ++n) {
            if (f.name == romimg::RomHoleGuid(n)) first = &f;
        }
    }
    ASSERT_NE(first, nullptr);
    Bytes one = p.system.bytes;
    std::copy(p.image.bytes.begin() + first->offset, p.image.bytes.begin() + first->offset + first->size, one.begin() + first->offset);
    ASSERT_NE(one, p.system.bytes);
    EXPECT_EQ(ClassOf(p, {"new.rom", "/l1"}, Done(p, one)), "") << p.Describe();
    EXPECT_EQ(ClassOf(p, {"new.rom", "/L0"}, Done(p, one)), "changed bytes outside the regions named") << p.Describe();
    // With a region option beside "/L" or "/L1", that region comes from the image as well.
    Bytes nvram = one;
    for (const pairgen::Block& b : p.blocks) {
        if (b.type == pairgen::kNvram) std::copy(p.image.bytes.begin() + b.start, p.image.bytes.begin() + b.start + b.size, nvram.begin() + b.start);
    }
    ASSERT_NE(nvram, one);
    EXPECT_EQ(ClassOf(p, {"new.rom", "/N", "/L1"}, Done(p, nvram)), "") << p.Describe();
    EXPECT_EQ(ClassOf(p, {"new.rom", "/L1"}, Done(p, nvram)), "changed bytes outside the regions named") << p.Describe();
    Bytes every = nvram;
    for (const romimg::VolumeAt& v : p.system.volumes) {
        for (const romimg::FileAt& f : v.files) {
            for (uint32_t n = 0; n < 16; ++n) {
                if (f.name == romimg::RomHoleGuid(n))
                    std::copy(p.image.bytes.begin() + f.offset, p.image.bytes.begin() + f.offset + f.size, every.begin() + f.offset);
            }
        }
    }
    EXPECT_EQ(ClassOf(p, {"new.rom", "/N", "/L"}, Done(p, every)), "") << p.Describe();
    EXPECT_EQ(ClassOf(p, {"new.rom", "/L"}, Done(p, every)), "changed bytes outside the regions named") << p.Describe();
    EXPECT_EQ(ClassOf(p, {"new.rom", "/L1"}, Done(p, p.system.bytes)), "wrote something else than the image")
        << p.Describe();
    // A number past the system's holes marks nothing: the run may refuse.
    EXPECT_EQ(ClassOf(p, {"new.rom", "/L15"}, Done(p, p.system.bytes, 0x0B)), "") << p.Describe();
    EXPECT_EQ(ClassOf(p, {"new.rom", "/L1"}, Done(p, p.system.bytes, 0x0B)), "refused a pair that can be kept")
        << p.Describe();

    // Words that are no hole number choose nothing; a number alone names no region.
    propcheck::Options o = propcheck::FromWords({"new.rom", "/L1", "/l15", "/L16", "/L1X", "/L"}, false);
    EXPECT_EQ(o.Ln, 0x8002);
    EXPECT_TRUE(o.L);
    EXPECT_FALSE(o.P);
    // The same for non-critical block numbers and SMBIOS types; "/R" and
    // "/SP" keep data of a region, they name none.
    propcheck::Options k = propcheck::FromWords({"new.rom", "/k2", "/K16", "/R", "/r17", "/R256", "/SP"}, false);
    EXPECT_EQ(k.Kn, 0x4);
    EXPECT_TRUE(k.R && k.SP);
    EXPECT_EQ(k.Rn, std::vector<uint8_t>{17});
    EXPECT_FALSE(k.P);
    EXPECT_TRUE(propcheck::FromWords({"new.rom", "/R", "/SP"}, false).P);
    EXPECT_FALSE(propcheck::FromWords({"new.rom", "/e"}, false).P);
}

}  // namespace
