// The machine-data property of an update run, checked from the pair's two
// images and the flash afterwards, without the program's code:
// - a run that fails leaves the flash as it was (the machines inject no
//   faults);
// - a run that succeeds keeps every ROM hole, SLP file and OEM activation
//   key of the system that its options keep (found by GUID wherever the
//   image puts it), writes volumes that are sound and pass the program's
//   own "/D" check, changes no byte outside the regions its options name,
//   and writes those regions as the image has them, the kept data apart
//   (with "/R" the system's SMBIOS area, with "/R" and a type the system's
//   structures of that type, in the image's area);
// - a run is not refused, whatever its status, where nothing the options
//   keep would be lost, the image is sound and of the same platform (or
//   "/X" is given), and no rule of the update that the pair breaks stands
//   against it.
#pragma once
#include <cstdint>
#include <string>
#include <vector>
#include "RomImageBuilder.h"
#include "StructurePair.h"

namespace propcheck {

// What a command line asks for.
struct Options {
    bool P = false, B = false, N = false, K = false, L = false, caf = false, X = false;
    uint16_t Ln = 0;       // "/L" followed by a number: bit n for hole n of the system's list
    uint16_t Kn = 0;       // "/K" followed by a number: bit n for non-critical block n of the system's list
    bool R = false;        // "/R": the system's SMBIOS area is kept
    std::vector<uint8_t> Rn;   // "/R" followed by a type: the system's structures of these types are kept
    bool SP = false;       // "/SP": the firmware keeps its setup variables (nothing in the flash)
    bool E = false;        // "/E": the EC block from the image
    bool A = false;        // "/A" with KeyFile() beside the machine
    bool OAD = false;      // "/OAD"
    int hole = -1;         // "/HOLE:" with the GUID of ROM hole n; word 1 is then HoleFile()
    bool romFile = true;   // word 1 is the image
    bool secure = false;   // the machine's firmware does secure flash
};
// The key file of "/A" and the hole file of "/HOLE:", as the driver writes them.
const romimg::Bytes& KeyFile();
const romimg::Bytes& HoleFile();
// The word of "/HOLE:" for ROM hole n (its GUID in 32 hex digits).
std::string HoleWord(uint32_t n);
// The word of "/HOLE:" for the hole that the system lists first (hole 0's
// GUID when it has none).
std::string FirstHoleWord(const pairgen::Pair& p);
// From the words after the program name ("new.rom", "/B", "/caf", ...).
Options FromWords(const std::vector<std::string>& words, bool secure);

// What a run left behind.
struct Outcome {
    int status = -1;
    int signal = 0;                 // the signal that ended the run, if one did
    std::string out;
    romimg::Bytes flash;            // after the run
    bool verified = false;          // "/D" ran on a copy of that flash
    int verifyStatus = -1;
    std::string verifyOut;
    romimg::Bytes flashAfterVerify;
};

// "/D" is asked for when the run succeeded and changed the flash (not for a
// hole file's bytes, which go in as the file has them).
bool NeedsVerify(const pairgen::Pair& p, const Options& opt, const Outcome& o);

struct Verdict {
    std::string klass;    // empty: the property holds
    std::string detail;
    bool Holds() const { return klass.empty(); }
};

Verdict Check(const pairgen::Pair& p, const Options& o, const Outcome& run);

}  // namespace propcheck
