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

Options FromWords(const std::vector<std::string>& words, bool secure) {
    Options o;
    o.secure = secure;
    for (size_t i = 1; i < words.size(); ++i) {
        std::string w;
        for (char c : words[i]) w += static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
        if (w == "/P") o.P = true;
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
        else if (w.size() > 2 && w.size() <= 4 && w.compare(0, 2, "/L") == 0 &&
                 w.find_first_not_of("0123456789", 2) == std::string::npos && std::stoi(w.substr(2)) < 16)
            o.Ln = static_cast<uint16_t>(o.Ln | 1u << std::stoi(w.substr(2)));
    }
    o.romFile = o.hole < 0;
    // A ROM file with no region option updates the main BIOS.
    if (!o.B && !o.N && !o.K && !o.L && o.Ln == 0 && !o.A && !o.OAD && o.hole < 0) o.P = true;
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

// The block types that a region option writes.
bool WritesType(const Options& o, uint32_t type) {
    return (o.P && type == pairgen::kMain) || (o.B && type == pairgen::kBoot) || (o.N && type == pairgen::kNvram) ||
           (o.K && type >= pairgen::kNcb0 && type < 0xFF);
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

// A hole file: only the holes it names change, from the file's bytes on.
Expectation ExpectHoleFile(const pairgen::Pair& p, const Options& o, Expectation e) {
    std::vector<const FileAt*> targets = ChosenHoles(p, o);
    std::vector<const FileAt*> named = FilesNamed(p.system, romimg::RomHoleGuid(static_cast<uint32_t>(o.hole)));
    if (named.size() == 1) targets.push_back(named[0]);
    for (const FileAt* f : targets) {
        Name(e, f->offset, f->size);
        if (f->size >= 24 + HoleFile().size()) std::copy(HoleFile().begin(), HoleFile().end(), e.bytes.begin() + f->offset + 24);
    }
    std::vector<Kept> kept;
    for (const Kept& k : e.kept) {
        if (!Chosen(targets, k.offset)) kept.push_back(k);
    }
    e.kept = kept;
    e.mayRefuse.push_back("a hole file");
    return e;
}

// The rules of the update that refuse a run although nothing would be lost.
void Rules(const pairgen::Pair& p, const Options& o, const std::vector<uint8_t>& writes, Expectation& e) {
    std::vector<const FileAt*> sysHoles = HoleList(p, p.system), imgHoles = HoleList(p, p.image);
    auto written = [&](const FileAt* f) { return writes[TypeAt(p, f->offset)] != 0; };
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
    uint32_t length = sysFid.empty() ? 0 : romimg::Get32(p.system.bytes, sysFid[0]->offset + pairgen::kFidRecordInFile + pairgen::kFidKeyLength);
    for (const FileAt* f : imgFid) {
        imageHas = imageHas || written(f);
        imageRoom = imageRoom || (written(f) && romimg::Get32(p.image.bytes, f->offset + pairgen::kFidRecordInFile + pairgen::kFidKeyLength) >= length);
    }
    if (allWritten && !imageHas) e.mayRefuse.push_back("no firmware ID left");
    bool keyWritten = !sysFid.empty() && written(sysFid[0]);
    if (!p.oaBlock && length != 0 && (keyWritten || imageHas) && !imageRoom) e.mayRefuse.push_back("no room for the key");
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
    for (const pairgen::Block& b : p.blocks) {
        if (!writes[b.type]) continue;
        std::copy(img.begin() + b.start, img.begin() + b.start + b.size, e.bytes.begin() + b.start);
        Name(e, b.start, b.size);
    }
    for (const romimg::VolumeAt& v : p.image.volumes) {
        if (writes[TypeAt(p, v.offset)]) e.volumes.push_back(Span{v.offset, v.length});
    }
    // ... and the blocks of the image's "$FID" file, wherever it lies.
    if (newKey && o.romFile && !p.oaBlock) {
        for (const FileAt* f : imgFid) {
            for (const pairgen::Block& b : p.blocks) {
                if (writes[b.type] || b.start >= f->offset + f->size || b.start + b.size <= f->offset) continue;
                std::copy(img.begin() + b.start, img.begin() + b.start + b.size, e.bytes.begin() + b.start);
                Name(e, b.start, b.size);
            }
        }
    }
    for (const Kept& k : e.kept) {
        bool from = writes[TypeAt(p, k.offset)] != 0;
        const FileAt* c = ImageFile(p, k.guid);
        bool to = c != nullptr && writes[TypeAt(p, c->offset)] != 0;
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
    if (newKey) e.mayRefuse.push_back("the key's own rules");
    Rules(p, o, writes, e);
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
    if (!p.damage.empty() || !e.cannotKeep.empty() || !e.mayRefuse.empty()) return false;
    if (p.Changes("another platform") && !o.X) return false;
    // A protected file held twice is no layout to update over: the run may refuse.
    if (p.Changes(" twice")) return false;
    uint32_t holes = static_cast<uint32_t>(HoleList(p, p.system).size());
    if (holes + p.ncbRuns > 16) return false;
    if (o.K && p.ncbRuns == 0) return false;
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
        // A flash engine's failure that changed nothing is the firmware's refusal, not the program's.
        bool engine = run.status == 0x43 || run.status == 0x44 || run.status == 0x45;
        if (!engine && MustSucceed(p, o, e)) return Verdict{"refused a pair that can be kept", status};
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
