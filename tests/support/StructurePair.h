// Pairs of a system flash and a new image made from one seed, differing in
// structure the way real updates do: ROM holes added, removed, reordered,
// resized or moved behind inserted files; SLP key and marker files swapped,
// resized or gone; a ROM hole or the SLP key twice on either side; the
// "$FID" record (with or without an OEM activation key, with or without the
// file checksum attribute) in the boot or the main
// volume; an OEM activation block or none; 0 to 18 non-critical runs; an
// EC block or none; an SMBIOS area in the last file of the main or the boot
// volume, its structures (types, lengths, header form) and its length
// differing between the sides, or none; ROM holes that the machine has not
// been given yet (erased); the embedded capsule file in the machine's main
// volume or not; one damaged volume or file header in the image; blocks of
// 4, 16 or 64 KiB. Both sides are built by the test-image builder; the
// system holds the machine's own data (holes, SLP key, OA key, SMBIOS
// structures), the image factory defaults.
#pragma once
#include <cstdint>
#include <string>
#include <vector>
#include "RomImageBuilder.h"

namespace pairgen {

// Deterministic random numbers (the same on every host and compiler).
class Rng {
public:
    explicit Rng(uint64_t seed);
    uint64_t Next();
    uint32_t Below(uint32_t n);        // 0 .. n-1 (0 when n is 0)
    bool Percent(uint32_t p);          // true p times in a hundred
private:
    uint64_t state_;
};

// One block of the block table.
struct Block {
    uint32_t start, size;
    uint32_t type;
};

// Block types of the table.
const uint32_t kBoot = 0, kMain = 1, kNvram = 2, kEc = 3, kOaBlock = 0x4A, kNcb0 = 0x80;
// Key area of the "$FID" record, and the key-length and key offsets in it.
const uint32_t kOaKeyArea = 0x31, kFidKeyLength = 0x43, kFidKey = 0x47;
// The record's offset in its firmware-ID file (header, section header, section GUID).
const uint32_t kFidRecordInFile = 44;

struct Pair {
    uint32_t seed = 0;
    uint32_t blockSize = 0;
    std::vector<romimg::BlockRun> runs;
    std::vector<Block> blocks;
    romimg::Rom system{0};
    romimg::Rom image{0};
    int mainVolume = 0, bootVolume = 1;   // indexes in Rom::volumes, the same on both sides
    bool oaBlock = false;
    uint32_t ncbRuns = 0;
    uint32_t holes = 0;     // the system's ROM holes
    bool fidInMain = false; // the system's "$FID" lies in the main volume
    bool slpData = false;   // the system's SLP files hold data
    bool oaKey = false;     // the system holds an OEM activation key (record or OA block)
    bool ecBlock = false;   // one EC block (type 3) lies before the boot block
    int dmiVolume = -1;     // mainVolume or bootVolume: the volume whose last file is the DMI file on both sides; -1 none
    bool blankHoles = false;   // some of the system's holes are erased (the machine's data is still to come)
    bool capsuleFile = false;  // the system's main volume ends with the embedded capsule file
    // What the image changes against the system, in words; empty when the
    // two match in structure.
    std::vector<std::string> changes;
    // The image's one damaged header ("" when none), and the block type of
    // the volume that holds it.
    std::string damage;
    uint32_t damageType = 0;

    std::string BlockText() const { return romimg::BlockSpec(runs); }
    // Whether one of the changes mentions `word`.
    bool Changes(const char* word) const;
    // A readable account of both sides, for failure reports.
    std::string Describe() const;
};

Pair MakePair(uint32_t seed);

}  // namespace pairgen
