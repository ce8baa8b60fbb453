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
        else if (w.size() > 2 && w.size() <= 4 && w.compare(0, 2, "/L") == 0 &&
                 w.find_first_not_of("0123456789", 2) == std::string::npos && std::stoi(w.substr(2)) < 16)
            o.Ln = static_cast<uint16_t>(o.Ln | 1u << std::stoi(w.substr(2)));
    }
    // A ROM file with no region option updates the main BIOS.
    if (!o.B && !o.N && !o.K && !o.L && o.Ln == 0) o.P = true;
    return o;
}

bool NeedsVerify(const pairgen::Pair& p, const Outcome& o) { return o.status == 0 && o.flash != p.system.bytes; }

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
// will do, and what the options ask to keep that cannot be kept.
struct Expectation {
    Bytes bytes;
    std::vector<uint8_t> named;   // 1 for bytes of the regions the options name
    std::vector<Span> volumes;    // volumes the run writes
    struct Either {
        Span span;
        Bytes other;
    };
    std::vector<Either> either;
    std::vector<std::string> cannotKeep;
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

Expectation Expect(const pairgen::Pair& p, const Options& o) {
    Expectation e;
    const Bytes& sys = p.system.bytes;
    const Bytes& img = p.image.bytes;
    e.bytes = sys;
    e.named.assign(sys.size(), 0);
    bool holesKept = !o.L;
    e.kept = KeptItems(p, holesKept);
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
    for (const Kept& k : e.kept) {
        bool from = writes[TypeAt(p, k.offset)] != 0;
        const FileAt* c = ImageFile(p, k.guid);
        bool to = c != nullptr && writes[TypeAt(p, c->offset)] != 0;
        if (k.oaKey) {
            std::string why;
            if (from && !to) {
                e.cannotKeep.push_back("OA key: the image's $FID lies outside the regions written");
            } else if (from && to) {
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
        if (!from) continue;
        if (c == nullptr || !to) {
            e.cannotKeep.push_back(k.name + ": the image has no such file in the regions written");
        } else if (c->size != k.size) {
            e.cannotKeep.push_back(k.name + ": the image's file is " + Hex(c->size) + " bytes, the system's " + Hex(k.size));
        } else {
            std::copy(sys.begin() + k.offset, sys.begin() + k.offset + k.size, e.bytes.begin() + c->offset);
        }
    }
    for (const FileAt* f : chosen) {
        if (o.secure || regionWrites[TypeAt(p, f->offset)]) continue;
        const FileAt* c = ImageFile(p, f->name);
        if (c != nullptr && c->size == f->size) std::copy(img.begin() + c->offset, img.begin() + c->offset + c->size, e.bytes.begin() + f->offset);
        for (const romimg::VolumeAt& v : p.system.volumes) {
            if (f->offset >= v.offset && f->offset < v.offset + v.length) e.volumes.push_back(Span{v.offset, v.length});
        }
    }
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

bool EngineFailureReported(const Outcome& r) {
    static const struct {
        int code;
        const char* line;
    } kEngine[] = {{0x43, "43 - Error: Problem erasing flash.\n"},
                   {0x44, "44 - Error: Problem writting flash.\n"},
                   {0x45, "45 - Error: Problem verifying flash.\n"}};
    for (const auto& e : kEngine) {
        if (r.status == e.code) return r.out.find(e.line) != std::string::npos;
    }
    return false;
}

// A pair that matches in structure, and a command whose preconditions hold.
bool MustSucceed(const pairgen::Pair& p, const Options& o) {
    if (!p.changes.empty() || !p.damage.empty()) return false;
    uint32_t holes = 0;
    for (const romimg::VolumeAt& v : p.system.volumes) {
        for (const FileAt& f : v.files) holes += IsHole(f.name, nullptr);
    }
    if (holes + p.ncbRuns > 16) return false;
    if (o.K && p.ncbRuns == 0) return false;
    if (o.L && holes == 0) return false;
    // A number past the system's holes marks nothing: "/L" with it ends with 0x0B.
    if (o.Ln >> std::min<uint32_t>(holes, 16) != 0) return false;
    return true;
}

}  // namespace

Verdict Check(const pairgen::Pair& p, const Options& o, const Outcome& run) {
    const Bytes& sys = p.system.bytes;
    if (run.signal != 0) return Verdict{"crash", "signal " + std::to_string(run.signal)};
    if (run.flash.size() != sys.size()) return Verdict{"flash size changed", Hex(static_cast<uint32_t>(run.flash.size()))};
    if (run.status != 0) {
        std::string status = "status " + Hex(static_cast<uint32_t>(run.status));
        if (EngineFailureReported(run)) return Verdict{};
        if (run.flash != sys)
            return Verdict{"changed the flash and failed", status + "; " + FirstDifference(run.flash, sys, nullptr, 0)};
        if (MustSucceed(p, o)) return Verdict{"refused a pair that matches in structure", status};
        return Verdict{};
    }

    Expectation e = Expect(p, o);
    std::string outside = FirstDifference(run.flash, sys, &e.named, 0);
    if (!outside.empty()) return Verdict{"changed bytes outside the regions named", outside};

    for (const Span& v : e.volumes) {
        std::string bad = ReadVolume(run.flash, v.offset, v.size, nullptr);
        if (!bad.empty()) return Verdict{"wrote an unsound volume", bad};
    }
    if (NeedsVerify(p, run)) {
        if (!run.verified) return Verdict{"harness", "\"/D\" did not run"};
        if (run.verifyStatus != 0 || run.verifyOut.find(" - ROM File verification status ..... ok\n") == std::string::npos)
            return Verdict{"the flash written fails \"/D\"", "status " + Hex(static_cast<uint32_t>(run.verifyStatus))};
        if (run.flashAfterVerify != run.flash) return Verdict{"\"/D\" changed the flash", ""};
    }

    for (const Kept& k : e.kept) {
        std::string lost = KeptInFlash(p, k, run.flash);
        if (!lost.empty()) return Verdict{"lost the " + (k.name.compare(0, 4, "hole") == 0 ? std::string("ROM hole") : k.name), k.name + ": " + lost};
    }
    if (!e.cannotKeep.empty()) return Verdict{"succeeded where the machine's data cannot be kept", e.cannotKeep.front()};

    Bytes flash = run.flash;
    for (const Expectation::Either& x : e.either) {
        if (std::equal(x.other.begin(), x.other.end(), flash.begin() + x.span.offset))
            std::copy(e.bytes.begin() + x.span.offset, e.bytes.begin() + x.span.offset + x.span.size, flash.begin() + x.span.offset);
    }
    std::string differs = FirstDifference(flash, e.bytes, nullptr, 0);
    if (!differs.empty()) return Verdict{"wrote something else than the image", differs};
    return Verdict{};
}

}  // namespace propcheck
