// Pairs of a system flash and a new image (see the header).
#include "StructurePair.h"
#include <cstdio>
#include <cstring>

namespace pairgen {

using romimg::Bytes;
using romimg::FileSpec;

static uint64_t Mix(uint64_t z) {
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// Seeds are mixed first, so that neighbouring seeds give unrelated streams.
Rng::Rng(uint64_t seed) : state_(Mix(seed + 0xD1B54A32D192ED03ull)) {}

uint64_t Rng::Next() { return Mix(state_ += 0x9E3779B97F4A7C15ull); }

uint32_t Rng::Below(uint32_t n) { return n == 0 ? 0 : static_cast<uint32_t>(Next() % n); }

bool Rng::Percent(uint32_t p) { return Below(100) < p; }

namespace {

enum Kind { kPlainFile, kHoleFile, kSlpKeyFile, kSlpMarkerFile, kFidFile, kDmiKind, kCapsuleKind };
enum Vol { kMainVol = 0, kBootVol = 1 };
const char* const kVolName[2] = {"main", "boot"};

struct Entry {
    Kind kind;
    uint32_t id;     // plain file: name seed; hole: its number
    uint32_t size;   // body bytes (the firmware-ID file sizes itself)
};

// One side's plan: the files of the two volumes in order and the shape of
// the firmware-ID record.
struct Plan {
    std::vector<Entry> vol[2];
    uint32_t keyArea = kOaKeyArea;   // key length in the record (0: no key area)
    bool fidChecksum = true;         // the firmware-ID file has the checksum attribute
    std::string project = "PRJ00001";
    Bytes dmiArea;                   // the SMBIOS area of the DMI file ("BSA_", L, structures)
};

// What fills the files: the system's own data or the image's defaults.
struct Contents {
    uint32_t seed;        // bodies of code files, holes, NVRAM and NCB data
    bool slpData;         // SLP payloads hold data (else erased)
    bool recordKey;       // the "$FID" key area holds a key (else zeros)
    bool blockKey;        // the OA block holds a key (else erased)
    uint16_t blankHoles;  // bit n: hole n is erased (the machine has not been given it yet)
    uint16_t plainHoles;  // bit n: hole n's file has no data checksum
};

// Where the regions lie; the same on both sides.
struct Layout {
    uint32_t nvStart = 0, nvSize = 0, oaStart = 0, mainStart = 0, mainSize = 0, ecStart = 0, ecSize = 0, bootStart = 0,
             bootSize = 0;
    std::vector<std::pair<uint32_t, uint32_t>> ncb;   // start, size of each run
    uint32_t total = 0;
};

std::string Hex(uint32_t v) {
    char buf[16];
    snprintf(buf, sizeof(buf), "0x%x", v);
    return buf;
}

std::string EntryName(const Entry& e) {
    switch (e.kind) {
        case kHoleFile: return "hole " + std::to_string(e.id);
        case kSlpKeyFile: return "SLP key";
        case kSlpMarkerFile: return "SLP marker";
        case kFidFile: return "$FID";
        case kDmiKind: return "SMBIOS file";
        case kCapsuleKind: return "capsule file";
        default: return "code file";
    }
}

// An SLP file body: a raw section header, then the payload.
Bytes SlpBody(uint32_t size, bool data, uint32_t seed) {
    Bytes b = data ? romimg::Pattern(size, seed) : Bytes(size, 0xFF);
    b[0] = static_cast<uint8_t>(size);
    b[1] = static_cast<uint8_t>(size >> 8);
    b[2] = static_cast<uint8_t>(size >> 16);
    b[3] = 0x19;
    return b;
}

FileSpec MakeFile(const Entry& e, const Plan& plan, const Contents& c) {
    FileSpec f;
    switch (e.kind) {
        case kPlainFile:
            f = romimg::PlainFile(0x5000 + e.id, e.size);
            f.body = romimg::Pattern(e.size, c.seed * 131 + e.id);
            break;
        case kHoleFile:
            f = romimg::RomHoleFile(e.id, e.size);
            f.body = (c.blankHoles >> e.id) & 1 ? Bytes(e.size, 0xFF) : romimg::Pattern(e.size, c.seed * 257 + 0x100 + e.id);
            if ((c.plainHoles >> e.id) & 1) f.attributes = 0x00;
            break;
        case kSlpKeyFile:
            f = romimg::SlpKeyFile(e.size);
            f.body = SlpBody(e.size, c.slpData, c.seed * 17 + 1);
            break;
        case kSlpMarkerFile:
            f = romimg::SlpMarkerFile(e.size);
            f.body = SlpBody(e.size, c.slpData, c.seed * 17 + 2);
            break;
        case kFidFile: {
            romimg::FidSpec s;
            s.projectId = plan.project;
            if (plan.keyArea != 0) s.oaKey = c.recordKey ? romimg::Pattern(plan.keyArea, c.seed + 0x4A) : Bytes(plan.keyArea, 0);
            f = romimg::FidFile(s);
            if (!plan.fidChecksum) f.attributes = 0x00;
            break;
        }
        case kDmiKind:
            f.name = romimg::kDmiFile;
            f.body = plan.dmiArea;
            break;
        case kCapsuleKind:
            f = romimg::CapsuleFile(0x40);
            break;
    }
    return f;
}

romimg::Rom BuildRom(const Layout& l, const Plan& plan, const Contents& c) {
    romimg::Rom r(l.total);
    r.Fill(l.nvStart, l.nvSize, c.seed * 3 + 1);
    if (c.blockKey) r.Put(l.oaStart, romimg::Pattern(kOaKeyArea, c.seed + 0x4B));
    romimg::VolumeSpec mv;
    mv.length = l.mainSize;
    for (const Entry& e : plan.vol[kMainVol]) mv.files.push_back(MakeFile(e, plan, c));
    r.AddVolume(l.mainStart, mv);
    for (size_t i = 0; i < l.ncb.size(); ++i) r.Fill(l.ncb[i].first, l.ncb[i].second, c.seed * 5 + 7 * static_cast<uint32_t>(i));
    if (l.ecSize != 0) r.Fill(l.ecStart, l.ecSize, c.seed * 7 + 3);
    romimg::VolumeSpec bv;
    bv.ffs3 = true;
    bv.length = l.bootSize;
    for (const Entry& e : plan.vol[kBootVol]) bv.files.push_back(MakeFile(e, plan, c));
    r.AddVolume(l.bootStart, bv);
    return r;
}

// Position of the first entry of a kind (and id, for holes) in a volume, or -1.
int Find(const std::vector<Entry>& v, Kind kind, uint32_t id = 0) {
    for (size_t i = 0; i < v.size(); ++i) {
        if (v[i].kind == kind && (kind != kHoleFile || v[i].id == id)) return static_cast<int>(i);
    }
    return -1;
}

// A place between the first and the last file of a volume.
size_t InnerPlace(Rng& rng, const std::vector<Entry>& v) { return 1 + rng.Below(static_cast<uint32_t>(v.size() - 1)); }

struct HoleAt {
    int vol;
    size_t index;
};
std::vector<HoleAt> Holes(const Plan& p) {
    std::vector<HoleAt> out;
    for (int v = 0; v < 2; ++v) {
        for (size_t i = 0; i < p.vol[v].size(); ++i) {
            if (p.vol[v][i].kind == kHoleFile) out.push_back(HoleAt{v, i});
        }
    }
    return out;
}

// An SMBIOS area: 2 to 6 structures of common types, then `slack` erased
// bytes inside its length.
Bytes SmbiosArea(Rng& rng, bool longHeaders, uint32_t slack, uint32_t seed) {
    static const uint8_t kTypes[] = {0, 1, 2, 3, 4, 11, 17};
    std::vector<romimg::SmbiosStruct> structs;
    uint32_t count = 2 + rng.Below(5);
    for (uint32_t i = 0; i < count; ++i) {
        romimg::SmbiosStruct st;
        st.type = kTypes[rng.Below(sizeof(kTypes))];
        st.data = romimg::Pattern(4 + 2 * rng.Below(14), seed * 11 + i);
        structs.push_back(st);
    }
    Bytes area = romimg::BsaArea(structs, longHeaders);
    romimg::Put32(area, 4, romimg::Get32(area, 4) + slack);
    area.insert(area.end(), slack, 0xFF);
    return area;
}

// The system's plan: code files around the firmware ID, the holes and the SLP pair.
Plan SystemPlan(Rng& rng, bool& slp, uint32_t& nextPlain) {
    Plan p;
    std::vector<Entry> holes[2];
    uint32_t numbers[16];
    for (uint32_t i = 0; i < 16; ++i) numbers[i] = i;
    for (uint32_t i = 15; i > 0; --i) std::swap(numbers[i], numbers[rng.Below(i + 1)]);
    uint32_t holeCount = rng.Percent(15) ? 0 : 1 + rng.Below(6);
    for (uint32_t i = 0; i < holeCount; ++i) {
        int v = rng.Percent(75) ? kMainVol : kBootVol;
        holes[v].push_back(Entry{kHoleFile, numbers[i], 0x20 + 8 * rng.Below(120)});
    }
    int fidVol = rng.Percent(50) ? kMainVol : kBootVol;
    p.fidChecksum = rng.Percent(70);
    slp = rng.Percent(75);
    for (int v = 0; v < 2; ++v) {
        std::vector<Entry>& files = p.vol[v];
        files.push_back(Entry{kPlainFile, nextPlain++, 0x100 + 8 * rng.Below(0x200)});
        if (v == fidVol) files.push_back(Entry{kFidFile, 0, 0});
        for (const Entry& h : holes[v]) {
            if (rng.Percent(50)) files.push_back(Entry{kPlainFile, nextPlain++, 0x40 + 8 * rng.Below(0x80)});
            files.push_back(h);
        }
        if (v == kMainVol && slp) {
            files.push_back(Entry{kSlpKeyFile, 0, 0x80 + 8 * rng.Below(32)});
            files.push_back(Entry{kSlpMarkerFile, 0, 0x20 + 8 * rng.Below(8)});
        }
        files.push_back(Entry{kPlainFile, nextPlain++, 0x80 + 8 * rng.Below(0x100)});
    }
    return p;
}

// Changes of the image against the system plan; each returns false when the
// plan offers nothing to change.
bool HoleAdded(Rng& rng, Plan& img, std::string& what) {
    bool used[16] = {};
    for (const HoleAt& h : Holes(img)) used[img.vol[h.vol][h.index].id] = true;
    uint32_t free[16], n = 0;
    for (uint32_t i = 0; i < 16; ++i) {
        if (!used[i]) free[n++] = i;
    }
    if (n == 0) return false;
    int v = rng.Percent(75) ? kMainVol : kBootVol;
    Entry e{kHoleFile, free[rng.Below(n)], 0x20 + 8 * rng.Below(120)};
    img.vol[v].insert(img.vol[v].begin() + InnerPlace(rng, img.vol[v]), e);
    what = "the image adds hole " + std::to_string(e.id) + " to the " + kVolName[v] + " volume";
    return true;
}

bool HoleRemoved(Rng& rng, Plan& img, std::string& what) {
    std::vector<HoleAt> holes = Holes(img);
    if (holes.empty()) return false;
    HoleAt h = holes[rng.Below(static_cast<uint32_t>(holes.size()))];
    what = "the image lacks " + EntryName(img.vol[h.vol][h.index]) + " (" + kVolName[h.vol] + " volume)";
    img.vol[h.vol].erase(img.vol[h.vol].begin() + static_cast<long>(h.index));
    return true;
}

bool HolesReordered(Rng& rng, Plan& img, std::string& what) {
    std::vector<HoleAt> holes = Holes(img);
    std::vector<std::pair<HoleAt, HoleAt>> pairs;
    for (size_t i = 0; i < holes.size(); ++i) {
        for (size_t j = i + 1; j < holes.size(); ++j) {
            if (holes[i].vol == holes[j].vol) pairs.push_back({holes[i], holes[j]});
        }
    }
    if (pairs.empty()) return false;
    std::pair<HoleAt, HoleAt> p = pairs[rng.Below(static_cast<uint32_t>(pairs.size()))];
    std::vector<Entry>& v = img.vol[p.first.vol];
    what = EntryName(v[p.first.index]) + " and " + EntryName(v[p.second.index]) + " swap places in the " +
           kVolName[p.first.vol] + " volume";
    std::swap(v[p.first.index], v[p.second.index]);
    return true;
}

bool HoleResized(Rng& rng, Plan& img, std::string& what) {
    std::vector<HoleAt> holes = Holes(img);
    if (holes.empty()) return false;
    HoleAt h = holes[rng.Below(static_cast<uint32_t>(holes.size()))];
    Entry& e = img.vol[h.vol][h.index];
    uint32_t step = 8 * (1 + rng.Below(16));
    uint32_t size = (rng.Percent(50) || e.size <= 0x20 + step) ? e.size + step : e.size - step;
    what = EntryName(e) + " resized from " + Hex(e.size + 24) + " to " + Hex(size + 24) + " bytes";
    e.size = size;
    return true;
}

bool HoleMoved(Rng& rng, Plan& img, std::string& what, uint32_t& nextPlain) {
    std::vector<HoleAt> holes = Holes(img);
    if (holes.empty()) return false;
    HoleAt h = holes[rng.Below(static_cast<uint32_t>(holes.size()))];
    std::vector<Entry>& v = img.vol[h.vol];
    what = EntryName(v[h.index]) + " moved behind an inserted file";
    v.insert(v.begin() + static_cast<long>(h.index), Entry{kPlainFile, nextPlain++, 0x40 + 8 * rng.Below(0x100)});
    return true;
}

bool SlpSwapped(Rng&, Plan& img, std::string& what) {
    std::vector<Entry>& v = img.vol[kMainVol];
    int k = Find(v, kSlpKeyFile), m = Find(v, kSlpMarkerFile);
    if (k < 0 || m < 0) return false;
    std::swap(v[static_cast<size_t>(k)], v[static_cast<size_t>(m)]);
    what = "the SLP marker comes before the SLP key";
    return true;
}

bool SlpResized(Rng& rng, Plan& img, std::string& what) {
    std::vector<Entry>& v = img.vol[kMainVol];
    int k = Find(v, rng.Percent(70) ? kSlpKeyFile : kSlpMarkerFile);
    if (k < 0) return false;
    Entry& e = v[static_cast<size_t>(k)];
    uint32_t size = e.size + 8 * (1 + rng.Below(8));
    what = EntryName(e) + " resized from " + Hex(e.size + 24) + " to " + Hex(size + 24) + " bytes";
    e.size = size;
    return true;
}

bool SlpRemoved(Rng&, Plan& img, std::string& what) {
    std::vector<Entry>& v = img.vol[kMainVol];
    int k = Find(v, kSlpKeyFile);
    if (k < 0) return false;
    v.erase(v.begin() + k);
    v.erase(v.begin() + Find(v, kSlpMarkerFile));
    what = "the image has no SLP files";
    return true;
}

bool FidMoved(Rng& rng, Plan& img, std::string& what) {
    int from = Find(img.vol[kMainVol], kFidFile) >= 0 ? kMainVol : kBootVol;
    int to = 1 - from;
    std::vector<Entry>& src = img.vol[from];
    src.erase(src.begin() + Find(src, kFidFile));
    img.vol[to].insert(img.vol[to].begin() + InnerPlace(rng, img.vol[to]), Entry{kFidFile, 0, 0});
    what = std::string("the image keeps its $FID in the ") + kVolName[to] + " volume";
    return true;
}

bool FidKeyArea(Rng&, Plan& img, std::string& what) {
    img.keyArea = img.keyArea != 0 ? 0 : kOaKeyArea;
    what = img.keyArea != 0 ? "the image's $FID has a key area" : "the image's $FID has no key area";
    return true;
}

bool FidChecksum(Rng&, Plan& img, std::string& what) {
    img.fidChecksum = !img.fidChecksum;
    what = img.fidChecksum ? "the image's $FID file has the checksum attribute"
                           : "the image's $FID file lacks the checksum attribute";
    return true;
}

bool CodeResized(Rng& rng, Plan& img, std::string& what) {
    int v = rng.Percent(60) ? kMainVol : kBootVol;
    Entry& e = img.vol[v][0];
    uint32_t step = 8 * (1 + rng.Below(0x40));
    uint32_t size = rng.Percent(50) || e.size <= 0x40 + step ? e.size + step : e.size - step;
    what = std::string("the first code file of the ") + kVolName[v] + " volume grows or shrinks by " +
           Hex(size > e.size ? size - e.size : e.size - size) + " bytes";
    e.size = size;
    return true;
}

bool OtherPlatform(Rng&, Plan& img, std::string& what) {
    img.project = "OTHER001";
    what = "the image is another platform's (project ID OTHER001)";
    return true;
}

// One damaged header in the built image.
void Damage(Rng& rng, Pair& p) {
    int v = rng.Percent(70) ? p.mainVolume : p.bootVolume;
    const char* vol = v == p.mainVolume ? "main" : "boot";
    p.damageType = v == p.mainVolume ? kMain : kBoot;
    const romimg::VolumeAt& at = p.image.volumes.at(static_cast<size_t>(v));
    switch (rng.Below(5)) {
        case 0:
            romimg::mut::VolumeFsGuid(p.image, v);
            p.damage = std::string("one bit of the ") + vol + " volume's file-system GUID";
            return;
        case 1:
            romimg::mut::VolumeSignature(p.image, v);
            p.damage = std::string("one bit of the ") + vol + " volume's \"_FVH\"";
            return;
        case 2:
            romimg::mut::VolumeHeaderSum(p.image, v);
            p.damage = std::string("the ") + vol + " volume's header checksum";
            return;
        default:
            break;
    }
    // A file header, or the data of a file that carries a data checksum.
    std::vector<romimg::FileAt> summed;
    for (const romimg::FileAt& f : at.files) {
        if ((p.image.bytes[f.offset + 19] & 0x40) != 0) summed.push_back(f);
    }
    bool header = rng.Percent(50) || summed.empty();
    const std::vector<romimg::FileAt>& pool = header ? at.files : summed;
    const romimg::FileAt& f = pool[rng.Below(static_cast<uint32_t>(pool.size()))];
    if (header) romimg::mut::FileHeaderSum(p.image, f);
    else romimg::mut::FileDataSum(p.image, f);
    p.damage = std::string(header ? "the header checksum" : "the data checksum") + " of the file at " + Hex(f.offset) +
               " (" + vol + " volume)";
}

std::string FileLabel(const romimg::Rom& r, const romimg::FileAt& f) {
    for (uint32_t n = 0; n < 16; ++n) {
        if (!(f.name == romimg::RomHoleGuid(n))) continue;
        bool erased = true;
        for (uint32_t i = 24; i < f.size; ++i) erased = erased && r.bytes[f.offset + i] == 0xFF;
        std::string sum = (r.bytes[f.offset + 19] & 0x40) != 0 ? "" : ", no checksum";
        return "hole " + std::to_string(n) + (erased ? " (erased" + sum + ")" : "");
    }
    if (f.name == romimg::kSlpKey) return "SLP key";
    if (f.name == romimg::kSlpMarker) return "SLP marker";
    if (f.name == romimg::kCapsuleFile) return "capsule file";
    if (f.name == romimg::kDmiFile) return "SMBIOS L " + Hex(romimg::Get32(r.bytes, f.offset + 28));
    if (f.name == romimg::kFidFile) {
        uint32_t rec = f.offset + kFidRecordInFile;
        uint32_t len = romimg::Get32(r.bytes, rec + kFidKeyLength);
        std::string attr = (r.bytes[f.offset + 19] & 0x40) != 0 ? "checksum" : "no checksum";
        return "$FID (key area " + Hex(len) + ", " + attr + ")";
    }
    return "code";
}

}  // namespace

Pair MakePair(uint32_t seed) {
    Pair p;
    p.seed = seed;
    Rng rng(seed);
    static const uint32_t kSizes[3] = {0x1000, 0x4000, 0x10000};
    uint32_t b = kSizes[rng.Below(3)];
    p.blockSize = b;
    p.oaBlock = rng.Percent(25);
    uint32_t r = rng.Below(10);
    p.ncbRuns = r < 3 ? 0 : r < 7 ? 1 + rng.Below(4) : 5 + rng.Below(14);

    Layout l;
    uint32_t at = 0;
    l.nvStart = at;
    l.nvSize = 0x10000;
    p.runs.push_back({l.nvSize / b, b, kNvram});
    at += l.nvSize;
    if (p.oaBlock) {
        l.oaStart = at;
        p.runs.push_back({1, b, kOaBlock});
        at += b;
    }
    l.mainStart = at;
    l.mainSize = rng.Percent(50) ? 0x20000 : 0x30000;
    p.runs.push_back({l.mainSize / b, b, kMain});
    at += l.mainSize;
    for (uint32_t i = 0; i < p.ncbRuns; ++i) {
        uint32_t count = rng.Percent(80) ? 1 : 2;
        l.ncb.push_back({at, count * b});
        p.runs.push_back({count, b, kNcb0 + i});
        at += count * b;
    }
    // An EC block, an SMBIOS area, holes still erased and the embedded
    // capsule file are drawn from a stream of their own, so that a seed
    // keeps the rest of its pair.
    Rng extra(seed ^ 0xEC5B105EEDull);
    p.ecBlock = extra.Percent(40);
    bool smbios = extra.Percent(45);
    int dmiVol = extra.Percent(70) ? kMainVol : kBootVol;
    // Holes still erased: each of the machine's, most without a data
    // checksum (as files made to take write-once data are).
    uint16_t blankHoles = 0, plainHoles = 0;
    if (extra.Percent(40)) {
        for (uint32_t n = 0; n < 16; ++n) {
            if (extra.Percent(80)) blankHoles = static_cast<uint16_t>(blankHoles | 1u << n);
            if (extra.Percent(75)) plainHoles = static_cast<uint16_t>(plainHoles | 1u << n);
        }
        plainHoles &= blankHoles;
    }
    p.blankHoles = blankHoles != 0;
    p.capsuleFile = extra.Percent(60);
    if (p.ecBlock) {
        l.ecStart = at;
        l.ecSize = b;
        p.runs.push_back({1, b, kEc});
        at += b;
    }
    l.bootStart = at;
    l.bootSize = rng.Percent(50) ? 0x10000 : 0x20000;
    p.runs.push_back({l.bootSize / b, b, kBoot});
    at += l.bootSize;
    l.total = at;
    for (const romimg::BlockRun& run : p.runs) {
        for (uint32_t i = 0; i < run.count; ++i) {
            uint32_t start = p.blocks.empty() ? 0 : p.blocks.back().start + p.blocks.back().size;
            p.blocks.push_back(Block{start, run.size, run.type});
        }
    }

    uint32_t nextPlain = 0;
    bool slp = false;
    Plan sys = SystemPlan(rng, slp, nextPlain);
    // The machine's key: in the OA block when there is one, else in the record.
    uint32_t keyState = rng.Below(4);   // 0, 1 a key; 2 an empty area; 3 no area
    bool key = keyState < 2;
    if (keyState == 3) sys.keyArea = 0;
    Contents sysData{seed * 2 + 1, slp && rng.Percent(85), key && !p.oaBlock, key && p.oaBlock, blankHoles, plainHoles};
    Contents imgData{seed * 2 + 2, false, false, false, 0, 0};
    Plan img = sys;

    typedef bool (*Change)(Rng&, Plan&, std::string&);
    static const Change kChanges[] = {HoleAdded,  HoleRemoved, HolesReordered, HoleResized, SlpSwapped, SlpResized,
                                      SlpRemoved, FidMoved,    FidKeyArea,     FidChecksum, CodeResized, OtherPlatform};
    const size_t kChangeCount = sizeof(kChanges) / sizeof(kChanges[0]);
    uint32_t wanted = rng.Percent(25) ? 0 : 1 + rng.Below(3);
    bool damage = false;
    bool taken[kChangeCount + 2] = {};
    for (uint32_t n = 0, tries = 0; n < wanted && tries < 40; ++tries) {
        uint32_t k = rng.Below(static_cast<uint32_t>(kChangeCount + 2));
        if (taken[k]) continue;
        std::string what;
        bool done;
        if (k == kChangeCount) {
            done = HoleMoved(rng, img, what, nextPlain);
        } else if (k == kChangeCount + 1) {
            done = damage = true;
        } else {
            done = kChanges[k](rng, img, what);
        }
        if (!done) continue;
        taken[k] = true;
        if (!what.empty()) p.changes.push_back(what);
        ++n;
    }
    // A ROM hole or SLP key file twice, on either side; drawn from a stream
    // of its own, so that the other seeds keep their pairs.
    Rng twice(seed ^ 0xD0B1E5EEDull);
    if (twice.Percent(8)) {
        bool onSystem = twice.Percent(50);
        Plan& plan = onSystem ? sys : img;
        std::vector<HoleAt> holes = Holes(plan);
        int key = Find(plan.vol[kMainVol], kSlpKeyFile);
        bool slpFile = key >= 0 && (holes.empty() || twice.Percent(30));
        if (slpFile || !holes.empty()) {
            HoleAt h = slpFile ? HoleAt{kMainVol, static_cast<size_t>(key)}
                               : holes[twice.Below(static_cast<uint32_t>(holes.size()))];
            Entry e = plan.vol[h.vol][h.index];
            int v = twice.Percent(70) ? kMainVol : kBootVol;
            plan.vol[v].insert(plan.vol[v].begin() + static_cast<long>(InnerPlace(twice, plan.vol[v])), e);
            p.changes.push_back(std::string(onSystem ? "the system" : "the image") + " holds " + EntryName(e) + " twice");
        }
    }
    // The machine's main volume ends with the embedded capsule file; the
    // SMBIOS area lies in the last file of one volume on both sides.
    if (p.capsuleFile) sys.vol[kMainVol].push_back(Entry{kCapsuleKind, 0, 0});
    if (smbios) {
        bool longHeaders = extra.Percent(15);
        sys.dmiArea = SmbiosArea(extra, longHeaders, 0, seed * 2 + 1);
        img.dmiArea = SmbiosArea(extra, longHeaders, extra.Percent(50) ? 8 * extra.Below(12) : 0, seed * 2 + 2);
        sys.vol[dmiVol].push_back(Entry{kDmiKind, 0, 0});
        img.vol[dmiVol].push_back(Entry{kDmiKind, 0, 0});
        p.dmiVolume = dmiVol == kMainVol ? p.mainVolume : p.bootVolume;
    }
    p.slpData = sysData.slpData;
    p.holes = static_cast<uint32_t>(Holes(sys).size());
    p.fidInMain = Find(sys.vol[kMainVol], kFidFile) >= 0;
    p.oaKey = key;
    p.system = BuildRom(l, sys, sysData);
    p.image = BuildRom(l, img, imgData);
    if (damage) Damage(rng, p);
    return p;
}

bool Pair::Changes(const char* word) const {
    for (const std::string& c : changes) {
        if (c.find(word) != std::string::npos) return true;
    }
    return false;
}

std::string Pair::Describe() const {
    std::string out = "seed " + std::to_string(seed) + ": blocks " + BlockText() + "\n";
    for (int side = 0; side < 2; ++side) {
        const romimg::Rom& r = side == 0 ? system : image;
        out += side == 0 ? "  system:" : "  image: ";
        for (size_t v = 0; v < r.volumes.size(); ++v) {
            out += std::string(v == 0 ? "" : "\n          ") + (static_cast<int>(v) == mainVolume ? " main@" : " boot@") +
                   Hex(r.volumes[v].offset) + ":";
            for (const romimg::FileAt& f : r.volumes[v].files) {
                std::string label = FileLabel(r, f);
                if (label == "code") continue;
                out += " [" + label + " " + Hex(f.offset) + "+" + Hex(f.size) + "]";
            }
        }
        out += "\n";
    }
    out += std::string("  machine data: ") + (slpData ? "SLP data" : "no SLP data") + ", " +
           (oaBlock ? "OA block" : "no OA block") + ", " + (oaKey ? "a key" : "no key") + ", " +
           std::to_string(ncbRuns) + " non-critical runs" + (ecBlock ? ", an EC block" : "") +
           (blankHoles ? ", holes not yet given" : "") + "\n";
    for (const std::string& c : changes) out += "  change: " + c + "\n";
    if (!damage.empty()) out += "  damage: " + damage + "\n";
    if (changes.empty() && damage.empty()) out += "  (the two match in structure)\n";
    return out;
}

}  // namespace pairgen
