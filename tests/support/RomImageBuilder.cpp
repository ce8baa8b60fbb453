// Test-image builder (see the header). Written from the formats alone.
#include "RomImageBuilder.h"
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace romimg {

static void Die(const char* what) {
    fprintf(stderr, "romimg: %s\n", what);
    abort();
}

bool Guid::operator==(const Guid& o) const { return memcmp(b, o.b, 16) == 0; }

static int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

Guid GuidText(const char* text) {
    // Registry text: 8-4-4-4-12 hex digits.
    uint8_t raw[16];
    int n = 0;
    int hi = -1;
    for (const char* p = text; *p != 0; ++p) {
        if (*p == '-') continue;
        int d = HexDigit(*p);
        if (d < 0 || n >= 16) Die("bad GUID text");
        if (hi < 0) {
            hi = d;
        } else {
            raw[n++] = static_cast<uint8_t>(hi << 4 | d);
            hi = -1;
        }
    }
    if (n != 16 || hi >= 0) Die("bad GUID text");
    // Data1, Data2, Data3 are stored little-endian.
    Guid g;
    g.b[0] = raw[3];
    g.b[1] = raw[2];
    g.b[2] = raw[1];
    g.b[3] = raw[0];
    g.b[4] = raw[5];
    g.b[5] = raw[4];
    g.b[6] = raw[7];
    g.b[7] = raw[6];
    memcpy(g.b + 8, raw + 8, 8);
    return g;
}

Bytes GuidBytes(const Guid& g) { return Bytes(g.b, g.b + 16); }

const Guid kFfs2 = GuidText("7A9354D9-0468-444A-81CE-0BF617D890DF");
const Guid kFfs3 = GuidText("8C8CE578-8A3D-4F1C-9935-896185C32DD3");
const Guid kFidFile = GuidText("3FD1D3A2-99F7-420B-BC69-8BB1D492A332");
const Guid kFidSection = GuidText("2EBE0275-6458-4AF9-91ED-D3F4EDB100AA");
const Guid kRomHole0 = GuidText("05CA01FC-0FC1-11DC-9011-00173153EBA8");
const Guid kSlpKey = GuidText("996AA1E0-1E8C-4F36-B519-A170A206FC14");
const Guid kSlpMarker = GuidText("69009842-63F2-43DB-964B-EFAD1C39EC85");
const Guid kDmiFile = GuidText("FD44820B-F1AB-41C0-AE4E-0C55556EB9BD");
const Guid kOa31File = GuidText("C8CA0BB8-67DA-4883-8CFC-9180CB9EEC68");
const Guid kCapsuleHeader = GuidText("4A3CA68B-7723-48FB-803D-578CC1FEC44D");
const Guid kCapsuleFile = GuidText("414D94AD-998D-47D2-BFCD-4E882241DE32");
const Guid kCapsuleSection = GuidText("5A88641B-BBB9-4AA6-80F7-498AE407C31F");
const Guid kMeFirst = GuidText("9F8B1DEF-B62B-45F3-8282-BFD7EA19801B");
const Guid kLayoutFile = GuidText("C91C3C17-FC74-46E5-BDBE-6F486A5A9F3C");
const Guid kLayoutSection = GuidText("00781CA1-5DE3-405F-ABB8-379C3C076984");

Guid RomHoleGuid(uint32_t n) {
    Guid g = kRomHole0;
    uint32_t d1 = static_cast<uint32_t>(g.b[0]) | g.b[1] << 8 | g.b[2] << 16 | static_cast<uint32_t>(g.b[3]) << 24;
    d1 += n;
    g.b[0] = static_cast<uint8_t>(d1);
    g.b[1] = static_cast<uint8_t>(d1 >> 8);
    g.b[2] = static_cast<uint8_t>(d1 >> 16);
    g.b[3] = static_cast<uint8_t>(d1 >> 24);
    return g;
}

Guid PlainGuid(uint32_t seed) {
    Guid g;
    uint32_t x = seed * 2654435761u + 0x9E3779B9u;
    for (int i = 0; i < 16; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        g.b[i] = static_cast<uint8_t>(x);
    }
    return g;
}

void Put16(Bytes& b, size_t at, uint16_t v) {
    if (at + 2 > b.size()) Die("Put16 past the end");
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void Put32(Bytes& b, size_t at, uint32_t v) {
    if (at + 4 > b.size()) Die("Put32 past the end");
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
void Put64(Bytes& b, size_t at, uint64_t v) {
    if (at + 8 > b.size()) Die("Put64 past the end");
    for (int i = 0; i < 8; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
uint16_t Get16(const Bytes& b, size_t at) { return static_cast<uint16_t>(b.at(at) | b.at(at + 1) << 8); }
uint32_t Get32(const Bytes& b, size_t at) {
    return static_cast<uint32_t>(b.at(at)) | b.at(at + 1) << 8 | b.at(at + 2) << 16 |
           static_cast<uint32_t>(b.at(at + 3)) << 24;
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes Pattern(size_t size, uint32_t seed) {
    Bytes b(size);
    uint32_t x = seed | 1;
    for (size_t i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345u;
        b[i] = static_cast<uint8_t>(x >> 16);
    }
    return b;
}

// ---- FFS files ----

static uint8_t Sum8(const uint8_t* p, size_t n) {
    uint32_t s = 0;
    for (size_t i = 0; i < n; ++i) s += p[i];
    return static_cast<uint8_t>(s);
}

// Sets the header sum (byte 16) so that the 24 header bytes, with bytes 17
// and 23 counted as 0, add up to 0.
static void SealHeader(uint8_t* h) {
    h[16] = 0;
    uint32_t s = 0;
    for (int i = 0; i < 24; ++i) {
        if (i == 17 || i == 23) continue;
        s += h[i];
    }
    h[16] = static_cast<uint8_t>(0x100 - (s & 0xFF));
}

static bool HasTail(uint8_t attributes, uint8_t revision) { return revision == 1 && (attributes & 0x01) != 0; }

Bytes FileBytes(const FileSpec& f, uint8_t revision) {
    bool tail = HasTail(f.attributes, revision);
    size_t size = 24 + f.body.size() + (tail ? 2 : 0);
    if (size > 0xFFFFFF) Die("file too large");
    Bytes b(size, 0);
    memcpy(b.data(), f.name.b, 16);
    b[18] = f.type;
    b[19] = f.attributes;
    b[20] = static_cast<uint8_t>(size);
    b[21] = static_cast<uint8_t>(size >> 8);
    b[22] = static_cast<uint8_t>(size >> 16);
    b[23] = f.state;
    if (!f.body.empty()) memcpy(b.data() + 24, f.body.data(), f.body.size());
    if (f.attributes & 0x40) {
        b[17] = static_cast<uint8_t>(0x100 - Sum8(b.data() + 24, f.body.size()));
    } else {
        b[17] = f.noSumMark;
    }
    SealHeader(b.data());
    if (tail) {
        uint16_t check = static_cast<uint16_t>(b[16] | b[17] << 8);
        Put16(b, size - 2, static_cast<uint16_t>(~check));
    }
    return b;
}

FileSpec PlainFile(uint32_t seed, size_t bodySize) {
    FileSpec f;
    f.name = PlainGuid(seed);
    f.body = Pattern(bodySize, seed);
    return f;
}

FileSpec PadFile(size_t bodySize) {
    FileSpec f;
    f.name = GuidText("FFFFFFFF-FFFF-FFFF-FFFF-FFFFFFFFFFFF");
    f.type = 0xF0;
    f.attributes = 0;
    f.body.assign(bodySize, 0xFF);
    return f;
}

static FileSpec Named(const Guid& g, size_t bodySize, uint32_t seed) {
    FileSpec f;
    f.name = g;
    f.body = Pattern(bodySize, seed);
    return f;
}

FileSpec RomHoleFile(uint32_t n, size_t bodySize) { return Named(RomHoleGuid(n), bodySize, 0x100 + n); }
FileSpec SlpKeyFile(size_t bodySize) { return Named(kSlpKey, bodySize, 0x200); }
FileSpec SlpMarkerFile(size_t bodySize) { return Named(kSlpMarker, bodySize, 0x201); }
FileSpec Oa31File(size_t bodySize) { return Named(kOa31File, bodySize, 0x202); }

FileSpec DmiFile(const Bytes& bsaArea) {
    FileSpec f;
    f.name = kDmiFile;
    f.body = Text("BSA_");
    f.body.insert(f.body.end(), bsaArea.begin(), bsaArea.end());
    return f;
}

Bytes BsaArea(const std::vector<SmbiosStruct>& structs, bool longHeaders) {
    Bytes body;
    for (const SmbiosStruct& st : structs) {
        Bytes h(longHeaders ? 9 : 4, 0);
        h[0] = st.type;
        if (longHeaders) {
            h[3] = 0x80;
            Put16(h, 5, static_cast<uint16_t>(st.data.size()));
        } else {
            if (st.data.size() > 0xFF) Die("a short-header structure holds at most 255 bytes");
            h[2] = static_cast<uint8_t>(st.data.size());
        }
        body.insert(body.end(), h.begin(), h.end());
        body.insert(body.end(), st.data.begin(), st.data.end());
    }
    Bytes area = Text("BSA_");
    area.resize(8, 0);
    Put32(area, 4, static_cast<uint32_t>(body.size()));
    area.insert(area.end(), body.begin(), body.end());
    return area;
}

FileSpec DmiAreaFile(const std::vector<SmbiosStruct>& structs, bool longHeaders) {
    FileSpec f;
    f.name = kDmiFile;
    f.body = BsaArea(structs, longHeaders);
    return f;
}

// A freeform GUID section header: 24-bit size and type 0x18.
static Bytes SectionHeader(size_t sectionSize) {
    Bytes h(4);
    h[0] = static_cast<uint8_t>(sectionSize);
    h[1] = static_cast<uint8_t>(sectionSize >> 8);
    h[2] = static_cast<uint8_t>(sectionSize >> 16);
    h[3] = 0x18;
    return h;
}

static FileSpec SectionFile(const Guid& name, const Guid& section, const Bytes& payload) {
    FileSpec f;
    f.name = name;
    f.body = SectionHeader(4 + 16 + payload.size());
    Bytes g = GuidBytes(section);
    f.body.insert(f.body.end(), g.begin(), g.end());
    f.body.insert(f.body.end(), payload.begin(), payload.end());
    return f;
}

Bytes FidRecord(const FidSpec& s) {
    size_t natural = 71 + s.oaKey.size();
    size_t size = natural < s.padTo ? s.padTo : natural;
    Bytes r(size, 0);
    memcpy(r.data(), "$FID", 4);
    r[4] = s.version;
    Put16(r, 5, static_cast<uint16_t>(s.sizeOverride >= 0 ? s.sizeOverride : static_cast<int>(natural)));
    for (size_t i = 0; i < 8 && i < s.projectId.size(); ++i) r[7 + i] = static_cast<uint8_t>(s.projectId[i]);
    memcpy(r.data() + 16, s.fwGuid.b, 16);
    Put32(r, 67, static_cast<uint32_t>(s.oaKey.size()));
    if (!s.oaKey.empty()) memcpy(r.data() + 71, s.oaKey.data(), s.oaKey.size());
    return r;
}

FileSpec FidFile(const FidSpec& s) { return SectionFile(kFidFile, kFidSection, FidRecord(s)); }

FileSpec LayoutFile(const Bytes& area) {
    Bytes payload = Text("ROML");
    payload.resize(16, 0);
    Put32(payload, 4, static_cast<uint32_t>(area.size()));
    payload.insert(payload.end(), area.begin(), area.end());
    return SectionFile(kLayoutFile, kLayoutSection, payload);
}

Bytes CapsuleHeader(uint16_t length) {
    if (length < 0x20) Die("capsule header too short");
    Bytes h(length, 0);
    memcpy(h.data(), kCapsuleHeader.b, 16);
    Put16(h, 0x1C, length);
    return h;
}

FileSpec CapsuleFile(uint16_t headerLength) {
    return SectionFile(kCapsuleFile, kCapsuleSection, CapsuleHeader(headerLength));
}

FileSpec MeFile(size_t bodySize) { return Named(kMeFirst, bodySize, 0x300); }

// ---- Volumes ----

static void SealVolume(uint8_t* v, uint16_t headerLength) {
    v[50] = 0;
    v[51] = 0;
    uint32_t s = 0;
    for (int i = 0; i < headerLength; i += 2) s += static_cast<uint32_t>(v[i] | v[i + 1] << 8);
    uint16_t sum = static_cast<uint16_t>(0x10000 - (s & 0xFFFF));
    v[50] = static_cast<uint8_t>(sum);
    v[51] = static_cast<uint8_t>(sum >> 8);
}

static Bytes VolumeBytes(const VolumeSpec& v, std::vector<FileAt>& files) {
    if (v.length < 0x48 || v.length % 8 != 0) Die("bad volume length");
    uint8_t erased = (v.attributes & 0x800) ? 0xFF : 0x00;
    Bytes b(v.length, erased);
    memset(b.data(), 0, 0x48);
    const Guid& fs = v.nonStandardFs ? v.fsGuid : (v.ffs3 ? kFfs3 : kFfs2);
    memcpy(b.data() + 16, fs.b, 16);
    Put64(b, 32, v.length);
    memcpy(b.data() + 40, "_FVH", 4);
    Put32(b, 44, v.attributes);
    Put16(b, 48, 0x48);
    b[55] = v.revision;
    uint32_t blockLen = 0x1000;
    Put32(b, 56, v.length / blockLen);
    Put32(b, 60, blockLen);
    SealVolume(b.data(), 0x48);
    size_t at = 0x48;
    for (const FileSpec& f : v.files) {
        Bytes fb = FileBytes(f, v.revision);
        if (at + fb.size() > v.length) Die("files do not fit in the volume");
        memcpy(b.data() + at, fb.data(), fb.size());
        files.push_back(FileAt{f.name, static_cast<uint32_t>(at), static_cast<uint32_t>(fb.size())});
        at = (at + fb.size() + 7) & ~static_cast<size_t>(7);
    }
    return b;
}

Rom::Rom(uint32_t size, uint8_t erased) : bytes(size, erased) {}

void Rom::Put(uint32_t offset, const Bytes& data) {
    if (static_cast<uint64_t>(offset) + data.size() > bytes.size()) Die("Put past the end of the image");
    if (!data.empty()) memcpy(bytes.data() + offset, data.data(), data.size());
}

void Rom::Fill(uint32_t offset, uint32_t size, uint32_t seed) { Put(offset, Pattern(size, seed)); }

void Rom::PutDescriptor() { Put(kDescriptorAt, Bytes{0x5A, 0xA5, 0xF0, 0x0F}); }

const VolumeAt& Rom::AddVolume(uint32_t offset, const VolumeSpec& v) {
    std::vector<FileAt> files;
    Bytes b = VolumeBytes(v, files);
    Put(offset, b);
    for (FileAt& f : files) f.offset += offset;
    volumes.push_back(VolumeAt{offset, v.length, v.revision, files});
    return volumes.back();
}

const VolumeAt& Rom::AppendVolume(const VolumeSpec& v) {
    uint32_t at = size();
    bytes.resize(bytes.size() + v.length);
    return AddVolume(at, v);
}

const FileAt& Rom::File(const Guid& name, int nth) const {
    for (const VolumeAt& v : volumes) {
        for (const FileAt& f : v.files) {
            if (f.name == name && nth-- == 0) return f;
        }
    }
    Die("no such file in the image");
    return volumes.front().files.front();
}

bool Rom::Has(const Guid& name) const {
    for (const VolumeAt& v : volumes) {
        for (const FileAt& f : v.files) {
            if (f.name == name) return true;
        }
    }
    return false;
}

Bytes SignedCapsule(const Bytes& image, uint16_t headerLength) {
    Bytes c = CapsuleHeader(headerLength);
    c.insert(c.end(), image.begin(), image.end());
    return c;
}

// ---- EC image ----

void PutEcHeader(Bytes& image, uint32_t at, const EcSpec& s) {
    if (at + 16 > image.size()) Die("EC header does not fit");
    uint8_t* h = image.data() + at;
    memcpy(h, "$NUVEC", 6);
    h[6] = 0;
    h[7] = s.flag;
    Put16(image, at + 8, s.chip);
    h[12] = s.core;
    h[13] = s.oem;
    h[14] = s.build;
    h[15] = 0;
    uint32_t from = s.flag ? 256 : 0;
    uint32_t sum = 0;
    for (size_t i = from; i < image.size(); ++i) {
        if (i == at + 10 || i == at + 11) continue;
        sum += image[i];
    }
    Put16(image, at + 10, static_cast<uint16_t>(s.checksumOverride >= 0 ? s.checksumOverride : sum));
}

Bytes EcImage(const EcSpec& s) {
    if (s.headerAt + 16 > s.size) Die("EC header does not fit");
    Bytes b = Pattern(s.size, 0xEC);
    // No stray signature elsewhere.
    for (size_t i = 0; i + 6 <= b.size(); ++i) {
        if (memcmp(b.data() + i, "$NUVEC", 6) == 0) b[i] = 0;
    }
    PutEcHeader(b, s.headerAt, s);
    return b;
}

std::string BlockSpec(const std::vector<BlockRun>& runs) {
    std::string out;
    for (const BlockRun& r : runs) {
        if (!out.empty()) out += ",";
        char buf[64];
        snprintf(buf, sizeof(buf), "%ux%u:%u", r.count, r.size, r.type);
        out += buf;
    }
    return out;
}

Rom SampleRom(const SampleSpec& s) {
    Rom r(kSampleSize);
    VolumeSpec main;
    main.length = s.mainLength;
    main.revision = s.mainRevision;
    main.files = s.mainFiles;
    r.AddVolume(kSampleMain, main);
    VolumeSpec boot;
    boot.ffs3 = true;
    boot.length = kSampleBootLength;
    boot.files = s.bootFiles;
    r.AddVolume(kSampleBoot, boot);
    return r;
}

std::vector<BlockRun> SampleBlocks() { return {{2, 0x10000, 2}, {12, 0x10000, 1}, {2, 0x10000, 0}}; }

std::vector<BlockRun> NcbSampleBlocks() {
    return {{2, 0x10000, 2}, {8, 0x10000, 1}, {1, 0x10000, 0x80}, {2, 0x10000, 0x81}, {1, 0x10000, 0x82}, {2, 0x10000, 0}};
}

std::vector<BlockRun> NcbRunBlocks(uint32_t runs) {
    const uint32_t blocks = (kSampleBoot - kNcb0) / kNcbRunBlock;
    if (runs == 0 || runs > blocks) Die("bad number of non-critical runs");
    std::vector<BlockRun> out = {{2, 0x10000, 2}, {8, 0x10000, 1}};
    for (uint32_t n = 0; n + 1 < runs; ++n) out.push_back({1, kNcbRunBlock, 0x80 + n});
    out.push_back({blocks - (runs - 1), kNcbRunBlock, 0x80 + runs - 1});
    out.push_back({2, 0x10000, 0});
    return out;
}

Rom FidSample(const FidSampleSpec& s) {
    SampleSpec spec;
    spec.mainFiles = {PlainFile(1, 0x300)};
    spec.bootFiles = {PlainFile(3, 0x80)};
    if (s.fid) {
        FidSpec fid;
        fid.oaKey = s.key;
        fid.version = s.version;
        fid.projectId = s.projectId;
        FileSpec file = FidFile(fid);
        file.attributes = s.attributes;
        (s.inMain ? spec.mainFiles : spec.bootFiles).push_back(file);
    }
    return SampleRom(spec);
}

// The record follows the file header (24), the section header (4) and the
// section GUID (16).
uint32_t FidKeyOffset(const Rom& r) { return r.File(kFidFile).offset + 44 + 71; }

void PutFidKey(const Rom& r, Bytes& bytes, const Bytes& key) {
    std::copy(key.begin(), key.end(), bytes.begin() + FidKeyOffset(r));
    RefreshFile(bytes, r.File(kFidFile).offset);
}

// ---- Repairs and mutators ----

void RefreshFile(Bytes& img, uint32_t at, uint8_t revision) {
    uint8_t* h = img.data() + at;
    uint32_t size = h[20] | h[21] << 8 | h[22] << 16;
    bool tail = HasTail(h[19], revision);
    if (h[19] & 0x40) {
        size_t bodyLen = size - 24 - (tail ? 2 : 0);
        h[17] = static_cast<uint8_t>(0x100 - Sum8(h + 24, bodyLen));
    }
    SealHeader(h);
    if (tail) {
        uint16_t check = static_cast<uint16_t>(h[16] | h[17] << 8);
        Put16(img, at + size - 2, static_cast<uint16_t>(~check));
    }
}

void RefreshVolume(Bytes& img, uint32_t at) { SealVolume(img.data() + at, Get16(img, at + 48)); }

namespace mut {

void VolumeHeaderSum(Rom& r, int vol) { r.bytes.at(r.volumes.at(vol).offset + 50) ^= 0x01; }

void FileHeaderSum(Rom& r, const FileAt& f) { r.bytes.at(f.offset + 16) ^= 0x01; }

void FileDataSum(Rom& r, const FileAt& f) {
    if (f.size <= 24) Die("file has no body");
    r.bytes.at(f.offset + 24) ^= 0x01;
}

void FileNoSumMark(Rom& r, const FileAt& f, uint8_t mark) { r.bytes.at(f.offset + 17) = mark; }

void FileTail(Rom& r, const FileAt& f) { r.bytes.at(f.offset + f.size - 1) ^= 0x01; }

void FvLength(Rom& r, int vol, uint64_t value) {
    uint32_t at = r.volumes.at(vol).offset;
    Put64(r.bytes, at + 32, value);
    RefreshVolume(r.bytes, at);
}

void HeaderLength(Rom& r, int vol, uint16_t value) {
    uint32_t at = r.volumes.at(vol).offset;
    Put16(r.bytes, at + 48, value);
    // Seal over the smaller of the two lengths so that the header the walker
    // reads still sums to zero where it can.
    uint16_t seal = value < 0x48 ? value : 0x48;
    if (seal >= 52) SealVolume(r.bytes.data() + at, seal);
}

void FileSize(Rom& r, const FileAt& f, uint32_t size) {
    uint8_t* h = r.bytes.data() + f.offset;
    h[20] = static_cast<uint8_t>(size);
    h[21] = static_cast<uint8_t>(size >> 8);
    h[22] = static_cast<uint8_t>(size >> 16);
    SealHeader(h);
}

void FidSize(Rom& r, uint16_t size) {
    const FileAt& f = r.File(kFidFile);
    Put16(r.bytes, f.offset + 44 + 5, size);
    uint8_t revision = 2;
    for (const VolumeAt& v : r.volumes) {
        if (f.offset >= v.offset && f.offset < v.offset + v.length) revision = v.revision;
    }
    RefreshFile(r.bytes, f.offset, revision);
}

void CapsuleHeaderLength(Bytes& capsule, uint16_t value) { Put16(capsule, 0x1C, value); }

// The header sum is left as it was: the header is damaged, not rebuilt.
void VolumeFsGuid(Rom& r, int vol) { r.bytes.at(r.volumes.at(vol).offset + 16 + 5) ^= 0x20; }

void VolumeSignature(Rom& r, int vol) { r.bytes.at(r.volumes.at(vol).offset + 40 + 2) ^= 0x01; }

}  // namespace mut

void WriteBytes(const std::string& path, const Bytes& b) {
    FILE* f = fopen(path.c_str(), "wb");
    if (f == nullptr) Die("cannot write file");
    if (!b.empty() && fwrite(b.data(), 1, b.size(), f) != b.size()) Die("short write");
    fclose(f);
}

}  // namespace romimg
