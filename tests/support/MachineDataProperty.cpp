// The machine-data property (see the header). The volumes and files are
// read here on their own terms; nothing of the program is called.
#include "MachineDataProperty.h"
#include <algorithm>
#include <cstdio>
#include <cstring>

namespace propcheck {

using romimg::Bytes;
using romimg::FileAt;
using romimg::Guid;

// The number after a two-letter prefix ("/L5", "/K12", "/R127") of at most
// `digits` digits; -1 when the word is no such number.
static int NumberAfter(const std::string& w, const char* prefix, size_t digits) {
    if (w.size() <= 2 || w.size() > 2 + digits || w.compare(0, 2, prefix) != 0) return -1;
    if (w.find_first_not_of("0123456789", 2) != std::string::npos) return -1;
    return std::stoi(w.substr(2));
}

Options FromWords(const std::vector<std::string>& words, bool secure) {
    Options o;
    o.secure = secure;
    for (size_t i = 1; i < words.size(); ++i) {
        std::string w;
        for (char c : words[i]) w += static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
        if (w == "/P") o.P = true;
        else if (w == "/R") o.R = true;
        else if (w == "/SP") o.SP = true;
        else if (w == "/E") o.E = true;
        else if (w == "/B") o.B = true;
        else if (w == "/N") o.N = true;
        else if (w == "/K") o.K = true;
        else if (w == "/L") o.L = true;
        else if (w == "/CAF") o.caf = true;
        else if (w == "/X") o.X = true;
        else if (w == "/OAD") o.OAD = true;
        else if (w.size() > 2 && w.compare(0, 2, "/A") == 0) o.A = true;
        else if (w.compare(0, 6, "/HOLE:") == 0) {
            for (uint32_t n = 0; n < 16; ++n) {
                std::string mine = HoleWord(n);
                for (char& c : mine) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
                if (w == mine) o.hole = static_cast<int>(n);
            }
        }
        else if (NumberAfter(w, "/L", 2) >= 0 && NumberAfter(w, "/L", 2) < 16)
            o.Ln = static_cast<uint16_t>(o.Ln | 1u << NumberAfter(w, "/L", 2));
        else if (NumberAfter(w, "/K", 2) >= 0 && NumberAfter(w, "/K", 2) < 16)
            o.Kn = static_cast<uint16_t>(o.Kn | 1u << NumberAfter(w, "/K", 2));
        else if (NumberAfter(w, "/R", 3) >= 0 && NumberAfter(w, "/R", 3) < 256)
            o.Rn.push_back(static_cast<uint8_t>(NumberAfter(w, "/R", 3)));
    }
    o.romFile = o.hole < 0;
    // A ROM file with no region option updates the main BIOS ("/R" and
    // "/SP" keep data of a region, they name none).
    if (!o.B && !o.N && !o.K && !o.L && o.Ln == 0 && o.Kn == 0 && !o.E && !o.A && !o.OAD && o.hole < 0) o.P = true;
    return o;
}

const Bytes& KeyFile() {
    static const Bytes kKey = romimg::Pattern(16, 0xA11);
    return kKey;
}

const Bytes& HoleFile() {
    static const Bytes kHole = romimg::Pattern(16, 0x401);
    return kHole;
}

std::string HoleWord(uint32_t n) {
    romimg::Guid g = romimg::RomHoleGuid(n);
    char text[40];
    snprintf(text, sizeof(text), "/HOLE:%02X%02X%02X%02X%02X%02X%02X%02X%02X%02X%02X%02X%02X%02X%02X%02X", g.b[3], g.b[2],
             g.b[1], g.b[0], g.b[5], g.b[4], g.b[7], g.b[6], g.b[8], g.b[9], g.b[10], g.b[11], g.b[12], g.b[13], g.b[14],
             g.b[15]);
    return text;
}

bool NeedsVerify(const pairgen::Pair& p, const Options& opt, const Outcome& o) {
    return o.status == 0 && o.flash != p.system.bytes && opt.hole < 0;
}

namespace {

std::string Hex(uint32_t v) {
    char buf[16];
    snprintf(buf, sizeof(buf), "0x%x", v);
    return buf;
}

uint32_t Get24(const Bytes& b, uint32_t at) { return b[at] | b[at + 1] << 8 | b[at + 2] << 16; }

// All 0xFF or all 0x00 (an erased range, or a key area without a key).
bool Blank(const Bytes& b, uint32_t at, uint32_t size) {
    bool ff = true, zero = true;
    for (uint32_t i = 0; i < size; ++i) {
        ff = ff && b[at + i] == 0xFF;
        zero = zero && b[at + i] == 0x00;
    }
    return ff || zero;
}

// ---- Volumes and files, read on their own terms ----

struct File {
    Guid name;
    uint32_t offset, size;
};

// Checks the volume at `at` of `length` bytes; fills its files. Returns ""
// when sound, else what is wrong.
std::string ReadVolume(const Bytes& f, uint32_t at, uint32_t length, std::vector<File>* files) {
    if (at + length > f.size() || length < 0x48) return "volume at " + Hex(at) + " past the flash";
    if (memcmp(f.data() + at + 40, "_FVH", 4) != 0) return "volume at " + Hex(at) + " has no \"_FVH\"";
    if (!(memcmp(f.data() + at + 16, romimg::kFfs2.b, 16) == 0 || memcmp(f.data() + at + 16, romimg::kFfs3.b, 16) == 0))
        return "volume at " + Hex(at) + " has no FFS file-system GUID";
    uint32_t headerLength = romimg::Get16(f, at + 48);
    if (headerLength < 0x48 || headerLength > length || headerLength % 2 != 0)
        return "volume at " + Hex(at) + " has a bad header length";
    uint32_t sum = 0;
    for (uint32_t i = 0; i < headerLength; i += 2) sum += romimg::Get16(f, at + i);
    if ((sum & 0xFFFF) != 0) return "volume at " + Hex(at) + " has a bad header checksum";
    if (romimg::Get32(f, at + 32) != length || romimg::Get32(f, at + 36) != 0)
        return "volume at " + Hex(at) + " has a wrong length";
    uint32_t off = headerLength;
    while (off + 24 <= length) {
        uint32_t h = at + off;
        if (Blank(f, h, 24) && f[h] == 0xFF) break;   // free space
        uint32_t size = Get24(f, h + 20);
        if (size < 24 || size > length - off) return "file at " + Hex(h) + " has a bad size";
        uint32_t hs = 0;
        for (uint32_t i = 0; i < 24; ++i) {
            if (i != 17 && i != 23) hs += f[h + i];
        }
        if ((hs & 0xFF) != 0) return "file at " + Hex(h) + " has a bad header checksum";
        if ((f[h + 19] & 0x40) != 0) {
            uint32_t ds = f[h + 17];
            for (uint32_t i = 24; i < size; ++i) ds += f[h + i];
            if ((ds & 0xFF) != 0) return "file at " + Hex(h) + " has a bad data checksum";
        } else if (f[h + 17] != 0xAA && f[h + 17] != 0x5A) {
            return "file at " + Hex(h) + " has no fixed checksum mark";
        }
        if (files != nullptr) {
            File file;
            memcpy(file.name.b, f.data() + h, 16);
            file.offset = h;
            file.size = size;
            files->push_back(file);
        }
        off += (size + 7) & ~7u;
    }
    return "";
}

// ---- Regions ----

struct Span {
    uint32_t offset, size;
};

// The block types that a region option writes ("/K" with a number: the
// non-critical block of that place in the system's list, one type a run).
bool WritesType(const Options& o, uint32_t type) {
    bool chosenNcb = type >= pairgen::kNcb0 && type < pairgen::kNcb0 + 16 && ((o.Kn >> (type - pairgen::kNcb0)) & 1) != 0;
    return (o.P && type == pairgen::kMain) || (o.B && type == pairgen::kBoot) || (o.N && type == pairgen::kNvram) ||
           (o.K && type >= pairgen::kNcb0 && type < 0xFF) || chosenNcb || (o.E && type == pairgen::kEc);
}

// Whether any block of `blocks` (one entry per block of the pair) that
// overlaps [offset, offset + size) is set.
bool AnyBlock(const pairgen::Pair& p, const std::vector<uint8_t>& blocks, uint32_t offset, uint32_t size) {
    for (size_t i = 0; i < p.blocks.size(); ++i) {
        const pairgen::Block& b = p.blocks[i];
        if (blocks[i] && b.start < offset + size && offset < b.start + b.size) return true;
    }
    return false;
}

uint32_t TypeAt(const pairgen::Pair& p, uint32_t offset) {
    for (const pairgen::Block& b : p.blocks) {
        if (offset >= b.start && offset < b.start + b.size) return b.type;
    }
    return 0xFF;
}

// One thing of the machine's own that an update keeps.
struct Kept {
    std::string name;
    Guid guid;
    uint32_t offset, size;   // of the FFS file in the system
    bool oaKey;              // the key of the "$FID" record (offset/size: the file)
};

bool IsHole(const Guid& g, uint32_t* n) {
    for (uint32_t i = 0; i < 16; ++i) {
        if (g == romimg::RomHoleGuid(i)) {
            if (n != nullptr) *n = i;
            return true;
        }
    }
    return false;
}

// The system's holes in the program's numbering for "/L" with a number:
// those of the main volume first, then those of the boot block, each in
// file order.
std::vector<const FileAt*> NumberedHoles(const pairgen::Pair& p) {
    std::vector<const FileAt*> out;
    for (uint32_t type : {pairgen::kMain, pairgen::kBoot}) {
        for (const romimg::VolumeAt& v : p.system.volumes) {
            if (TypeAt(p, v.offset) != type) continue;
            for (const FileAt& f : v.files) {
                if (IsHole(f.name, nullptr)) out.push_back(&f);
            }
        }
    }
    return out;
}

// The holes that "/L" with numbers replaces (offsets in the system).
std::vector<const FileAt*> ChosenHoles(const pairgen::Pair& p, const Options& o) {
    std::vector<const FileAt*> all = NumberedHoles(p), out;
    for (size_t n = 0; n < all.size() && n < 16; ++n) {
        if ((o.Ln >> n) & 1) out.push_back(all[n]);
    }
    return out;
}

bool Chosen(const std::vector<const FileAt*>& chosen, uint32_t offset) {
    for (const FileAt* f : chosen) {
        if (f->offset == offset) return true;
    }
    return false;
}

std::vector<Kept> KeptItems(const pairgen::Pair& p, bool holes) {
    std::vector<Kept> out;
    const Bytes& s = p.system.bytes;
    bool slpData = false;
    for (const romimg::VolumeAt& v : p.system.volumes) {
        for (const FileAt& f : v.files) {
            if (f.name == romimg::kSlpKey || f.name == romimg::kSlpMarker)
                slpData = slpData || !Blank(s, f.offset + 0x1C, f.size - 0x1C);
        }
    }
    for (const romimg::VolumeAt& v : p.system.volumes) {
        for (const FileAt& f : v.files) {
            uint32_t n = 0;
            if (holes && IsHole(f.name, &n)) out.push_back(Kept{"hole " + std::to_string(n), f.name, f.offset, f.size, false});
            if (slpData && f.name == romimg::kSlpKey) out.push_back(Kept{"SLP key", f.name, f.offset, f.size, false});
            if (slpData && f.name == romimg::kSlpMarker) out.push_back(Kept{"SLP marker", f.name, f.offset, f.size, false});
            if (f.name == romimg::kFidFile && !p.oaBlock) {
                uint32_t rec = f.offset + pairgen::kFidRecordInFile;
                uint32_t n = romimg::Get32(s, rec + pairgen::kFidKeyLength);
                if (n != 0 && !Blank(s, rec + pairgen::kFidKey, n)) out.push_back(Kept{"OA key", f.name, f.offset, f.size, true});
            }
        }
    }
    return out;
}

const FileAt* ImageFile(const pairgen::Pair& p, const Guid& g) {
    for (const romimg::VolumeAt& v : p.image.volumes) {
        for (const FileAt& f : v.files) {
            if (f.name == g) return &f;
        }
    }
    return nullptr;
}

// Sets the data checksum of the file at `at` after a change of its body.
void Reseal(Bytes& b, uint32_t at) {
    if ((b[at + 19] & 0x40) == 0) return;
    uint32_t size = Get24(b, at + 20);
    uint32_t sum = 0;
    for (uint32_t i = 24; i < size; ++i) sum += b[at + i];
    b[at + 17] = static_cast<uint8_t>(0x100 - (sum & 0xFF));
}

// The flash the run should leave, the ranges where either of two contents
// will do, what the options ask to keep that cannot be kept, and the rules
// of the update that may refuse the run.
struct Expectation {
    Bytes bytes;
    std::vector<uint8_t> named;   // 1 for bytes of the regions the options name
    std::vector<Span> volumes;    // volumes the run writes
    struct Either {
        Span span;
        Bytes other;
    };
    std::vector<Either> either;
    std::vector<Span> free;       // "$FID" files whose key "/A" or "/OAD" rewrites: checked on their own
    std::vector<std::string> cannotKeep;
    std::vector<std::string> mayRefuse;
    std::vector<Kept> kept;
    struct Area {
        uint32_t offset;
        Bytes bytes;
    };
    std::vector<Area> smbios;     // the system's SMBIOS data that "/R" keeps, where the flash must hold it
};

void Name(Expectation& e, uint32_t offset, uint32_t size) {
    for (uint32_t i = 0; i < size; ++i) e.named[offset + i] = 1;
}

// The image's "$FID" file with the system's key in it, or a reason why not.
bool CarryKey(const pairgen::Pair& p, const Kept& k, const FileAt& into, Bytes& out, std::string& why) {
    const Bytes& s = p.system.bytes;
    uint32_t srec = k.offset + pairgen::kFidRecordInFile, irec = into.offset + pairgen::kFidRecordInFile;
    uint32_t n = romimg::Get32(s, srec + pairgen::kFidKeyLength);
    uint32_t m = romimg::Get32(p.image.bytes, irec + pairgen::kFidKeyLength);
    if (m < n) {
        why = "the image's key area is " + Hex(m) + " bytes, the key " + Hex(n);
        return false;
    }
    for (uint32_t i = 0; i < n; ++i) out[irec + pairgen::kFidKey + i] = s[srec + pairgen::kFidKey + i];
    Reseal(out, into.offset);
    return true;
}

std::vector<const FileAt*> FilesNamed(const romimg::Rom& r, const Guid& g) {
    std::vector<const FileAt*> out;
    for (const romimg::VolumeAt& v : r.volumes) {
        for (const FileAt& f : v.files) {
            if (f.name == g) out.push_back(&f);
        }
    }
    return out;
}

// The holes of a side in list order: the main volume's, then the boot block's.
std::vector<const FileAt*> HoleList(const pairgen::Pair& p, const romimg::Rom& r) {
    std::vector<const FileAt*> out;
    for (uint32_t type : {pairgen::kMain, pairgen::kBoot}) {
        for (const romimg::VolumeAt& v : r.volumes) {
            if (TypeAt(p, v.offset) != type) continue;
            for (const FileAt& f : v.files) {
                if (IsHole(f.name, nullptr)) out.push_back(&f);
            }
        }
    }
    return out;
}

// The key area of the "$FID" record in the file at `f`: its length and where its bytes lie.
uint32_t KeyLength(const Bytes& b, const FileAt& f) {
    return romimg::Get32(b, f.offset + pairgen::kFidRecordInFile + pairgen::kFidKeyLength);
}
uint32_t KeyAt(const FileAt& f) { return f.offset + pairgen::kFidRecordInFile + pairgen::kFidKey; }

bool Erased(const Bytes& b, uint32_t at, uint32_t size) {
    for (uint32_t i = 0; i < size; ++i) {
        if (b[at + i] != 0xFF) return false;
    }
    return true;
}

// A hole file: only the holes it names change, from the file's bytes on.
// The file goes into a hole the machine has not been given yet (its data
// erased: it is written without an erase), which the GUID names once and
// the number names in the system's list; under secure flash the machine's
// flash carries the embedded capsule file.
Expectation ExpectHoleFile(const pairgen::Pair& p, const Options& o, Expectation e) {
    std::vector<const FileAt*> targets = ChosenHoles(p, o);
    std::vector<const FileAt*> named = FilesNamed(p.system, romimg::RomHoleGuid(static_cast<uint32_t>(o.hole)));
    if (named.size() == 1) targets.push_back(named[0]);
    if (named.empty()) e.mayRefuse.push_back("the system has no hole of the GUID");
    if (named.size() > 1) e.mayRefuse.push_back("the system holds the hole of the GUID twice");
    uint32_t holes = static_cast<uint32_t>(NumberedHoles(p).size());
    if (o.Ln >> std::min<uint32_t>(holes, 16) != 0) e.mayRefuse.push_back("a number past the system's holes");
    if (o.secure && !p.capsuleFile) e.mayRefuse.push_back("secure flash: no capsule file in the machine's flash");
    for (const FileAt* f : targets) {
        Name(e, f->offset, f->size);
        if (f->size < 24 + HoleFile().size()) {
            e.mayRefuse.push_back("the hole file does not fit the hole");
            continue;
        }
        if (!Erased(p.system.bytes, f->offset + 24, f->size - 24)) e.mayRefuse.push_back("the hole holds data already");
        std::copy(HoleFile().begin(), HoleFile().end(), e.bytes.begin() + f->offset + 24);
        // A file that keeps a data checksum: the sum is rewritten with the
        // data, which a write-once item under secure flash cannot do.
        if ((p.system.bytes[f->offset + 19] & 0x40) != 0) {
            uint32_t before = 0, after = 0;
            for (size_t i = 0; i < HoleFile().size(); ++i) {
                before += p.system.bytes[f->offset + 24 + i];
                after += HoleFile()[i];
            }
            if (!o.secure) Reseal(e.bytes, f->offset);
            else if ((before & 0xFF) != (after & 0xFF)) e.mayRefuse.push_back("secure flash: the hole file changes the hole's data checksum");
        }
        for (const romimg::VolumeAt& v : p.system.volumes) {
            if (f->offset >= v.offset && f->offset < v.offset + v.length) e.volumes.push_back(Span{v.offset, v.length});
        }
    }
    std::vector<Kept> kept;
    for (const Kept& k : e.kept) {
        if (!Chosen(targets, k.offset)) kept.push_back(k);
    }
    e.kept = kept;
    return e;
}

// The rules of the update that refuse a run although nothing would be lost;
// `blocks` marks the blocks the run writes from the image.
void Rules(const pairgen::Pair& p, const Options& o, const std::vector<uint8_t>& blocks, Expectation& e) {
    std::vector<const FileAt*> sysHoles = HoleList(p, p.system), imgHoles = HoleList(p, p.image);
    auto written = [&](const FileAt* f) { return AnyBlock(p, blocks, f->offset, f->size); };
    if ((o.B || o.P) && !o.L && sysHoles.empty() && !imgHoles.empty()) e.mayRefuse.push_back("holes in a system without");
    if (imgHoles.size() + p.ncbRuns > 16) e.mayRefuse.push_back("more than 16 holes and non-critical runs");
    if (o.L && (imgHoles.empty() || (o.secure && sysHoles.size() != imgHoles.size())))
        e.mayRefuse.push_back("hole counts");
    if (o.Ln != 0 && sysHoles.size() != imgHoles.size()) e.mayRefuse.push_back("hole counts");
    if (o.secure && (o.L || o.Ln != 0)) {
        for (size_t i = 0; i < imgHoles.size() && i < sysHoles.size(); ++i) {
            if (!(imgHoles[i]->name == sysHoles[i]->name) || imgHoles[i]->size != sysHoles[i]->size)
                e.mayRefuse.push_back("hole lists differ by place");
        }
    }
    if (o.K && p.ncbRuns == 0) e.mayRefuse.push_back("no non-critical block");
    if (o.Kn >> std::min<uint32_t>(p.ncbRuns, 16) != 0) e.mayRefuse.push_back("a chosen non-critical block the system lacks");
    if (o.E && !p.ecBlock) e.mayRefuse.push_back("no EC block");
    // The image's protected files in the blocks written need the system's
    // file of their GUID in them too, of their size.
    for (const romimg::VolumeAt& v : p.image.volumes) {
        for (const FileAt& f : v.files) {
            bool hole = IsHole(f.name, nullptr);
            bool slp = f.name == romimg::kSlpKey || f.name == romimg::kSlpMarker;
            if (!written(&f) || !(hole || (slp && p.slpData)) || (hole && o.L)) continue;
            std::vector<const FileAt*> mine = FilesNamed(p.system, f.name);
            if (mine.size() > 1 || FilesNamed(p.image, f.name).size() > 1) {
                e.mayRefuse.push_back("a protected file held twice");
            } else if (mine.size() == 1 && !Chosen(ChosenHoles(p, o), mine[0]->offset) &&
                       (!written(mine[0]) || mine[0]->size != f.size)) {
                e.mayRefuse.push_back("a protected file the region cannot take from the system");
            }
        }
    }
    // The flash keeps a firmware ID and a record with room for the system's key.
    std::vector<const FileAt*> sysFid = FilesNamed(p.system, romimg::kFidFile);
    std::vector<const FileAt*> imgFid = FilesNamed(p.image, romimg::kFidFile);
    bool allWritten = !sysFid.empty(), imageHas = false, imageRoom = false;
    for (const FileAt* f : sysFid) allWritten = allWritten && written(f);
    uint32_t length = sysFid.empty() ? 0 : KeyLength(p.system.bytes, *sysFid[0]);
    for (const FileAt* f : imgFid) {
        imageHas = imageHas || written(f);
        imageRoom = imageRoom || (written(f) && KeyLength(p.image.bytes, *f) >= length);
    }
    if (allWritten && !imageHas) e.mayRefuse.push_back("no firmware ID left");
    bool keyWritten = !sysFid.empty() && written(sysFid[0]);
    if (!p.oaBlock && length != 0 && (keyWritten || imageHas) && !imageRoom) e.mayRefuse.push_back("no room for the key");
}

// Protected files of either side (holes and SLP files) and firmware-ID files.
bool CarriedOrKeyFile(const pairgen::Pair& p, uint32_t at) {
    for (const romimg::Rom* r : {&p.system, &p.image}) {
        for (const romimg::VolumeAt& v : r->volumes) {
            for (const FileAt& f : v.files) {
                bool special = IsHole(f.name, nullptr) || f.name == romimg::kSlpKey || f.name == romimg::kSlpMarker ||
                               f.name == romimg::kFidFile;
                if (special && at >= f.offset && at < f.offset + f.size) return true;
            }
        }
    }
    return false;
}

// The rules of "/A" and "/OAD" with the image: the key must be new (an
// empty key area) or, to delete, there; the key file must fit the key areas
// of both records; a record without a data checksum takes the key as
// write-once data over an erased key area unless "/B", "/P" and "/N" are all
// given; the blocks outside the boot block (and outside the main block
// under "/P") that the key takes from the image must hold what the system
// holds there, its protected and firmware-ID files apart; "/OAD" must
// rewrite the system's key area.
void KeyRules(const pairgen::Pair& p, const Options& o, const std::vector<uint8_t>& blocks, Expectation& e) {
    const Bytes& sys = p.system.bytes;
    const Bytes& img = p.image.bytes;
    const uint32_t want = static_cast<uint32_t>(KeyFile().size());
    if (p.oaBlock) {
        const pairgen::Block* oa = nullptr;
        for (const pairgen::Block& b : p.blocks) {
            if (b.type == pairgen::kOaBlock && oa == nullptr) oa = &b;
        }
        bool empty = Blank(sys, oa->start, pairgen::kOaKeyArea);
        if (o.A && !empty) e.mayRefuse.push_back("the OA block holds a key already");
        if (o.OAD && empty) e.mayRefuse.push_back("the key to delete is empty");
        return;
    }
    std::vector<const FileAt*> sysFid = FilesNamed(p.system, romimg::kFidFile);
    std::vector<const FileAt*> imgFid = FilesNamed(p.image, romimg::kFidFile);
    if (sysFid.empty() || imgFid.empty()) {
        e.mayRefuse.push_back("a side without a firmware ID");
        return;
    }
    uint32_t n = KeyLength(sys, *sysFid[0]), m = KeyLength(img, *imgFid[0]);
    bool empty = Blank(sys, KeyAt(*sysFid[0]), n);
    if (o.A) {
        if (!empty) e.mayRefuse.push_back("the system holds a key already");
        if (n < want || m < want) e.mayRefuse.push_back("a key area smaller than the key file");
        bool summed = (img[imgFid[0]->offset + 19] & 0x40) != 0;
        if (!summed && !(o.B && o.P && o.N) && !Erased(sys, KeyAt(*sysFid[0]), n))
            e.mayRefuse.push_back("write-once key over a key area that is not erased");
    } else {
        if (empty) e.mayRefuse.push_back("the key to delete is empty");
        if (n != pairgen::kOaKeyArea) e.mayRefuse.push_back("a key length other than the key area's");
        if (!AnyBlock(p, blocks, KeyAt(*sysFid[0]), pairgen::kOaKeyArea))
            e.mayRefuse.push_back("the system's key lies outside the blocks written");
    }
    for (size_t i = 0; i < p.blocks.size(); ++i) {
        const pairgen::Block& b = p.blocks[i];
        if (!blocks[i] || b.type == pairgen::kBoot || (b.type == pairgen::kMain && o.P)) continue;
        for (uint32_t at = b.start; at < b.start + b.size; ++at) {
            if (img[at] != sys[at] && !CarriedOrKeyFile(p, at)) {
                e.mayRefuse.push_back("a block the key takes from the image differs from the system's");
                break;
            }
        }
    }
}

// The structures of the "BSA_" area at `at` whose type is `type`, in order.
Bytes StructuresOfType(const Bytes& b, uint32_t at, uint8_t type) {
    uint32_t length = romimg::Get32(b, at + 4), data = at + 8;
    Bytes out;
    if (length < 4) return out;
    uint32_t header = (b[data + 3] & 0x80) != 0 ? 9 : 4;
    for (uint32_t i = 0; i + header <= length;) {
        uint32_t size = header + (header == 9 ? romimg::Get16(b, data + i + 5) : b[data + i + 2]);
        if (size > length - i) break;
        if (b[data + i] == type) out.insert(out.end(), b.begin() + data + i, b.begin() + data + i + size);
        i += size;
    }
    return out;
}

// The last SMBIOS file of a side (main volume before boot block) when it
// lies in the boot or main blocks that the run writes.
const FileAt* WrittenDmi(const pairgen::Pair& p, const romimg::Rom& r, const std::vector<uint8_t>& blocks) {
    std::vector<const FileAt*> files = FilesNamed(r, romimg::kDmiFile);
    if (files.empty() || !AnyBlock(p, blocks, files.back()->offset, files.back()->size)) return nullptr;
    uint32_t type = TypeAt(p, files.back()->offset);
    return type == pairgen::kBoot || type == pairgen::kMain ? files.back() : nullptr;
}

// "/R" and "/R" with types: where the run writes an SMBIOS file from the
// image, the image's area takes the system's whole area, or the system's
// structures of the types listed followed by erased bytes; an image area
// shorter than the system's cannot take them, and neither can an image
// whose area the run does not write while it writes the system's.
void KeepSmbios(const pairgen::Pair& p, const Options& o, const std::vector<uint8_t>& blocks, Expectation& e) {
    if (!o.R && o.Rn.empty()) return;
    std::vector<const FileAt*> sysDmi = FilesNamed(p.system, romimg::kDmiFile);
    const FileAt* imgFile = WrittenDmi(p, p.image, blocks);
    if (sysDmi.empty() || (WrittenDmi(p, p.system, blocks) == nullptr && imgFile == nullptr)) return;
    const Bytes& sys = p.system.bytes;
    uint32_t sa = sysDmi.back()->offset + 24, ls = romimg::Get32(sys, sa + 4);
    std::vector<const FileAt*> imgDmi(1, imgFile);
    if (imgFile == nullptr) {
        e.cannotKeep.push_back("SMBIOS: the image has no SMBIOS area in the regions written");
        return;
    }
    uint32_t ia = imgDmi.back()->offset + 24, li = romimg::Get32(p.image.bytes, ia + 4);
    if (li < ls) {
        e.cannotKeep.push_back("SMBIOS: the image's area holds " + Hex(li) + " bytes, the system's " + Hex(ls));
        return;
    }
    if (o.R) {
        std::copy(sys.begin() + sa, sys.begin() + sa + 8 + ls, e.bytes.begin() + ia);
        e.smbios.push_back(Expectation::Area{ia, Bytes(sys.begin() + sa, sys.begin() + sa + 8 + ls)});
    } else {
        Bytes kept;
        std::vector<uint8_t> seen(256, 0);
        for (uint8_t t : o.Rn) {
            if (seen[t]++) continue;
            Bytes one = StructuresOfType(sys, sa, t);
            kept.insert(kept.end(), one.begin(), one.end());
        }
        std::fill(e.bytes.begin() + ia + 8, e.bytes.begin() + ia + 8 + li, 0xFF);
        std::copy(kept.begin(), kept.end(), e.bytes.begin() + ia + 8);
        e.smbios.push_back(Expectation::Area{ia + 8, kept});
    }
    Reseal(e.bytes, imgDmi.back()->offset);
}

Expectation Expect(const pairgen::Pair& p, const Options& o) {
    Expectation e;
    const Bytes& sys = p.system.bytes;
    const Bytes& img = p.image.bytes;
    e.bytes = sys;
    e.named.assign(sys.size(), 0);
    bool holesKept = !o.L;
    bool newKey = o.A || o.OAD;
    for (const Kept& k : KeptItems(p, holesKept)) {
        if (!(newKey && k.oaKey)) e.kept.push_back(k);
    }
    if (o.hole >= 0) return ExpectHoleFile(p, o, e);
    // "/L" with numbers replaces the chosen holes and keeps the others;
    // "/L" without secure flash replaces every hole in its place.
    const std::vector<const FileAt*> chosen = o.L && !o.secure ? NumberedHoles(p) : ChosenHoles(p, o);
    std::vector<Kept> kept;
    for (const Kept& k : e.kept) {
        if (!Chosen(chosen, k.offset)) kept.push_back(k);
    }
    e.kept = kept;

    // Region options (and "/L" under secure flash, which writes the regions
    // that hold holes) take whole blocks from the image.
    std::vector<uint8_t> writes(0x100, 0);
    for (uint32_t t = 0; t < 0x100; ++t) writes[t] = WritesType(o, t);
    std::vector<const FileAt*> sysFid = FilesNamed(p.system, romimg::kFidFile);
    std::vector<const FileAt*> imgFid = FilesNamed(p.image, romimg::kFidFile);
    // "/A" and "/OAD" with the image rewrite the OA block, else the boot
    // block and the blocks of the image's "$FID" record.
    if (newKey && o.romFile) {
        if (p.oaBlock) {
            writes[pairgen::kOaBlock] = 1;
        } else {
            writes[pairgen::kBoot] = 1;
        }
    }
    if (o.L && o.secure) {
        for (const romimg::VolumeAt& v : p.system.volumes) {
            for (const FileAt& f : v.files) {
                if (IsHole(f.name, nullptr)) {
                    writes[TypeAt(p, f.offset)] = 1;
                    Name(e, f.offset, f.size);
                }
            }
        }
    }
    // The chosen holes: under secure flash their regions are written whole;
    // otherwise the image's hole goes into the system's place (below).
    std::vector<uint8_t> regionWrites = writes;
    for (const FileAt* f : chosen) {
        Name(e, f->offset, f->size);
        if (o.secure) writes[TypeAt(p, f->offset)] = 1;
    }
    std::vector<uint8_t> blocks(p.blocks.size(), 0);
    for (size_t i = 0; i < p.blocks.size(); ++i) {
        const pairgen::Block& b = p.blocks[i];
        // ... and the blocks of the image's "$FID" file, wherever it lies.
        bool keyBlock = false;
        if (newKey && o.romFile && !p.oaBlock) {
            for (const FileAt* f : imgFid) keyBlock = keyBlock || (b.start < f->offset + f->size && f->offset < b.start + b.size);
        }
        if (!writes[b.type] && !keyBlock) continue;
        blocks[i] = 1;
        std::copy(img.begin() + b.start, img.begin() + b.start + b.size, e.bytes.begin() + b.start);
        Name(e, b.start, b.size);
    }
    for (const romimg::VolumeAt& v : p.image.volumes) {
        if (writes[TypeAt(p, v.offset)]) e.volumes.push_back(Span{v.offset, v.length});
    }
    for (const Kept& k : e.kept) {
        bool from = AnyBlock(p, blocks, k.offset, k.size);
        const FileAt* c = ImageFile(p, k.guid);
        bool to = c != nullptr && AnyBlock(p, blocks, c->offset, c->size);
        if (k.oaKey) {
            std::string why;
            // After the run the record that counts is the only one, else the one in the boot block.
            bool imageCounts = to && TypeAt(p, c->offset) == pairgen::kBoot && TypeAt(p, k.offset) != pairgen::kBoot;
            if (from && !to) {
                e.cannotKeep.push_back("OA key: the image's $FID lies outside the regions written");
            } else if (from || imageCounts) {
                if (!CarryKey(p, k, *c, e.bytes, why)) e.cannotKeep.push_back("OA key: " + why);
            } else if (to) {
                // The key stays in the old record; a copy in the new one may go either way.
                Bytes other = e.bytes;
                if (CarryKey(p, k, *c, other, why)) {
                    e.either.push_back(Expectation::Either{Span{c->offset, c->size},
                                                           Bytes(other.begin() + c->offset, other.begin() + c->offset + c->size)});
                }
            }
            continue;
        }
        if (FilesNamed(p.system, k.guid).size() > 1) {
            if (from) e.cannotKeep.push_back(k.name + ": the system holds it twice");
            continue;
        }
        if (!from) continue;
        if (FilesNamed(p.image, k.guid).size() > 1) {
            e.cannotKeep.push_back(k.name + ": the image holds it twice");
        } else if (c == nullptr || !to) {
            e.cannotKeep.push_back(k.name + ": the image has no such file in the regions written");
        } else if (c->size != k.size) {
            e.cannotKeep.push_back(k.name + ": the image's file is " + Hex(c->size) + " bytes, the system's " + Hex(k.size));
        } else {
            std::copy(sys.begin() + k.offset, sys.begin() + k.offset + k.size, e.bytes.begin() + c->offset);
        }
    }
    for (const FileAt* f : chosen) {
        const FileAt* c = ImageFile(p, f->name);
        if (c == nullptr || FilesNamed(p.image, f->name).size() > 1 || FilesNamed(p.system, f->name).size() > 1)
            e.mayRefuse.push_back("a chosen hole the image lacks or holds twice");
        if (o.secure || regionWrites[TypeAt(p, f->offset)]) continue;
        if (c != nullptr && c->size == f->size) {
            std::copy(img.begin() + c->offset, img.begin() + c->offset + c->size, e.bytes.begin() + f->offset);
        } else {
            e.mayRefuse.push_back("a hole of an unwritten region that the image lacks or resized");
        }
        for (const romimg::VolumeAt& v : p.system.volumes) {
            if (f->offset >= v.offset && f->offset < v.offset + v.length) e.volumes.push_back(Span{v.offset, v.length});
        }
    }
    KeepSmbios(p, o, blocks, e);
    // "/A" and "/OAD": the key goes into the OA block, or the "$FID" files
    // are checked for it on their own.
    if (newKey && o.romFile && p.oaBlock) {
        for (const pairgen::Block& b : p.blocks) {
            if (b.type != pairgen::kOaBlock) continue;
            if (o.A) std::copy(KeyFile().begin(), KeyFile().end(), e.bytes.begin() + b.start);
            else std::fill(e.bytes.begin() + b.start, e.bytes.begin() + b.start + pairgen::kOaKeyArea, 0xFF);
        }
    } else if (newKey) {
        for (const FileAt* f : sysFid) e.free.push_back(Span{f->offset, f->size});
        for (const FileAt* f : imgFid) e.free.push_back(Span{f->offset, f->size});
    }
    if (newKey && o.romFile) KeyRules(p, o, blocks, e);
    Rules(p, o, blocks, e);
    return e;
}

// Every file of a volume in the flash, or none when the volume is unsound.
std::vector<File> FilesOf(const Bytes& flash, const pairgen::Pair& p) {
    std::vector<File> files;
    for (const romimg::VolumeAt& v : p.system.volumes) {
        std::vector<File> one;
        if (ReadVolume(flash, v.offset, v.length, &one).empty()) files.insert(files.end(), one.begin(), one.end());
    }
    return files;
}

std::string KeptInFlash(const pairgen::Pair& p, const Kept& k, const Bytes& flash) {
    const Bytes& sys = p.system.bytes;
    std::vector<File> files = FilesOf(flash, p);
    if (k.oaKey) {
        // The record that counts: the only one, else the last in a boot-block region.
        const File* fid = nullptr;
        size_t count = 0;
        for (const File& f : files) {
            if (!(f.name == romimg::kFidFile)) continue;
            ++count;
            if (fid == nullptr || TypeAt(p, f.offset) == pairgen::kBoot) fid = &f;
        }
        if (fid == nullptr) return "no $FID record is left";
        if (count > 1 && TypeAt(p, fid->offset) != pairgen::kBoot) return "several $FID records, none in the boot block";
        uint32_t srec = k.offset + pairgen::kFidRecordInFile, frec = fid->offset + pairgen::kFidRecordInFile;
        uint32_t n = romimg::Get32(sys, srec + pairgen::kFidKeyLength);
        if (romimg::Get32(flash, frec + pairgen::kFidKeyLength) < n) return "the $FID at " + Hex(fid->offset) + " has a shorter key area";
        if (!std::equal(sys.begin() + srec + pairgen::kFidKey, sys.begin() + srec + pairgen::kFidKey + n,
                        flash.begin() + frec + pairgen::kFidKey))
            return "the $FID at " + Hex(fid->offset) + " holds another key";
        return "";
    }
    size_t copies = 0;
    for (const File& f : files) {
        if (!(f.name == k.guid)) continue;
        ++copies;
        if (f.size != k.size || !std::equal(sys.begin() + k.offset + 24, sys.begin() + k.offset + k.size, flash.begin() + f.offset + 24))
            return "the file at " + Hex(f.offset) + " holds other data";
    }
    return copies == 0 ? "no such file is left" : "";
}

std::string FirstDifference(const Bytes& a, const Bytes& b, const std::vector<uint8_t>* only, uint8_t want) {
    uint32_t first = 0, count = 0;
    for (uint32_t i = 0; i < a.size(); ++i) {
        if (only != nullptr && (*only)[i] != want) continue;
        if (a[i] != b[i]) {
            if (count++ == 0) first = i;
        }
    }
    if (count == 0) return "";
    return Hex(count) + " bytes differ, the first at " + Hex(first);
}

// Nothing the options keep would be lost, the image is sound and of the
// machine's platform (or "/X" allows another), no rule stands against the
// run, and the command's preconditions hold.
bool MustSucceed(const pairgen::Pair& p, const Options& o, const Expectation& e) {
    if (!e.cannotKeep.empty() || !e.mayRefuse.empty()) return false;
    // A hole file run reads no image.
    if (o.romFile && !p.damage.empty()) return false;
    if (o.romFile && p.Changes("another platform") && !o.X) return false;
    // A protected file held twice is no layout to update over: the run may refuse.
    if (o.romFile ? p.Changes(" twice") : p.Changes("the system holds")) return false;
    uint32_t holes = static_cast<uint32_t>(HoleList(p, p.system).size());
    if (holes + p.ncbRuns > 16) return false;
    if (o.L && holes == 0) return false;
    // A number past the system's holes marks nothing: "/L" with it ends with 0x0B.
    if (o.Ln >> std::min<uint32_t>(holes, 16) != 0) return false;
    return true;
}

// The key "/A" or "/OAD" leaves in the record that counts.
std::string NewKeyInFlash(const pairgen::Pair& p, const Options& o, const Bytes& flash) {
    std::vector<File> files = FilesOf(flash, p);
    const File* fid = nullptr;
    for (const File& f : files) {
        if (f.name == romimg::kFidFile && (fid == nullptr || TypeAt(p, f.offset) == pairgen::kBoot)) fid = &f;
    }
    if (fid == nullptr) return "no $FID record is left";
    uint32_t rec = fid->offset + pairgen::kFidRecordInFile;
    uint32_t n = romimg::Get32(flash, rec + pairgen::kFidKeyLength);
    if (o.A) {
        if (n < KeyFile().size() || !std::equal(KeyFile().begin(), KeyFile().end(), flash.begin() + rec + pairgen::kFidKey))
            return "the $FID record that counts does not hold the key file";
        return "";
    }
    for (uint32_t i = 0; i < n; ++i) {
        if (flash[rec + pairgen::kFidKey + i] != 0xFF) return "the $FID record that counts still holds a key";
    }
    return "";
}

}  // namespace

std::string FirstHoleWord(const pairgen::Pair& p) {
    std::vector<const FileAt*> holes = NumberedHoles(p);
    uint32_t n = 0;
    if (!holes.empty()) IsHole(holes[0]->name, &n);
    return HoleWord(n);
}

Verdict Check(const pairgen::Pair& p, const Options& o, const Outcome& run) {
    const Bytes& sys = p.system.bytes;
    if (run.signal != 0) return Verdict{"crash", "signal " + std::to_string(run.signal)};
    if (run.flash.size() != sys.size()) return Verdict{"flash size changed", Hex(static_cast<uint32_t>(run.flash.size()))};
    Expectation e = Expect(p, o);
    if (run.status != 0) {
        // The machines inject no faults: whatever refused, nothing was written.
        std::string status = "status " + Hex(static_cast<uint32_t>(run.status));
        if (run.flash != sys)
            return Verdict{"changed the flash and failed", status + "; " + FirstDifference(run.flash, sys, nullptr, 0)};
        // An engine status with nothing changed is a refusal like any other.
        if (MustSucceed(p, o, e)) return Verdict{"refused a pair that can be kept", status};
        return Verdict{};
    }

    for (const Span& f : e.free) Name(e, f.offset, f.size);
    std::string outside = FirstDifference(run.flash, sys, &e.named, 0);
    if (!outside.empty()) return Verdict{"changed bytes outside the regions named", outside};

    for (const Span& v : e.volumes) {
        std::string bad = ReadVolume(run.flash, v.offset, v.size, nullptr);
        if (!bad.empty()) return Verdict{"wrote an unsound volume", bad};
    }
    if (NeedsVerify(p, o, run)) {
        if (!run.verified) return Verdict{"harness", "\"/D\" did not run"};
        // "/X" allows another platform's image: "/D" then names the ROM-ID difference (4).
        bool otherPlatform = o.X && p.Changes("another platform") && run.verifyStatus == 4;
        bool passed = run.verifyStatus == 0 && run.verifyOut.find(" - ROM File verification status ..... ok\n") != std::string::npos;
        if (!passed && !otherPlatform)
            return Verdict{"the flash written fails \"/D\"", "status " + Hex(static_cast<uint32_t>(run.verifyStatus))};
        if (run.flashAfterVerify != run.flash) return Verdict{"\"/D\" changed the flash", ""};
    }

    for (const Kept& k : e.kept) {
        std::string lost = KeptInFlash(p, k, run.flash);
        if (!lost.empty()) return Verdict{"lost the " + (k.name.compare(0, 4, "hole") == 0 ? std::string("ROM hole") : k.name), k.name + ": " + lost};
    }
    for (const Expectation::Area& a : e.smbios) {
        if (!std::equal(a.bytes.begin(), a.bytes.end(), run.flash.begin() + a.offset))
            return Verdict{"lost the SMBIOS structures", "the area at " + Hex(a.offset) + " holds others"};
    }
    if (!e.cannotKeep.empty()) return Verdict{"succeeded where the machine's data cannot be kept", e.cannotKeep.front()};
    if ((o.A || o.OAD) && !p.oaBlock) {
        std::string key = NewKeyInFlash(p, o, run.flash);
        if (!key.empty()) return Verdict{"left another OA key than the option asks", key};
    }

    Bytes flash = run.flash;
    for (const Expectation::Either& x : e.either) {
        if (std::equal(x.other.begin(), x.other.end(), flash.begin() + x.span.offset))
            std::copy(e.bytes.begin() + x.span.offset, e.bytes.begin() + x.span.offset + x.span.size, flash.begin() + x.span.offset);
    }
    for (const Span& f : e.free) std::copy(flash.begin() + f.offset, flash.begin() + f.offset + f.size, e.bytes.begin() + f.offset);
    std::string differs = FirstDifference(flash, e.bytes, nullptr, 0);
    if (!differs.empty()) return Verdict{"wrote something else than the image", differs};
    return Verdict{};
}

}  // namespace propcheck
