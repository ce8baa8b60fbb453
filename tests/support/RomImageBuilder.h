// Test-image builder: makes ROM images from their parts (firmware volumes,
// FFS files with correct checksums, firmware-ID records, ROM holes, SLP, DMI
// and OA3.1 files, capsule headers, ME volumes, EC images, layout data) and
// applies one-fault mutators to them. It writes the formats on its own and
// shares no parsing code with the program, so that a misreading of a format
// cannot hide on both sides.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace romimg {

typedef std::vector<uint8_t> Bytes;

// A GUID in its 16-byte stored form.
struct Guid {
    uint8_t b[16];
    bool operator==(const Guid& o) const;
};
// From registry text "8C8CE578-8A3D-4F1C-9935-896185C32DD3" (aborts on bad text).
Guid GuidText(const char* text);
Bytes GuidBytes(const Guid& g);

// Well-known names.
extern const Guid kFfs2, kFfs3;
extern const Guid kFidFile, kFidSection;
extern const Guid kRomHole0, kSlpKey, kSlpMarker, kDmiFile, kOa31File;
extern const Guid kCapsuleHeader, kCapsuleFile, kCapsuleSection;
extern const Guid kMeFirst;
extern const Guid kLayoutFile, kLayoutSection;
// ROM hole n: the hole GUID with n added to its first field.
Guid RomHoleGuid(uint32_t n);
// A made-up GUID for ordinary files, distinct per seed.
Guid PlainGuid(uint32_t seed);

// Little-endian stores and loads.
void Put16(Bytes& b, size_t at, uint16_t v);
void Put32(Bytes& b, size_t at, uint32_t v);
void Put64(Bytes& b, size_t at, uint64_t v);
uint16_t Get16(const Bytes& b, size_t at);
uint32_t Get32(const Bytes& b, size_t at);
Bytes Text(const std::string& s);
Bytes Pattern(size_t size, uint32_t seed);   // deterministic non-trivial bytes

// One FFS file.
struct FileSpec {
    Guid name{};
    Bytes body;                   // bytes after the 24-byte header (tail not included)
    uint8_t type = 0x07;          // 0xF0 pad
    uint8_t attributes = 0x40;    // 0x40: data checksum; 0x01: tail (revision-1 volumes)
    uint8_t noSumMark = 0xAA;     // IntegrityCheck.File when 0x40 is clear (0xAA or 0x5A)
    uint8_t state = 0xF8;
};
// The file's bytes; tail appended when attribute 0x01 is set and revision is 1.
Bytes FileBytes(const FileSpec& f, uint8_t revision);

// File makers for the protected and special files.
FileSpec PlainFile(uint32_t seed, size_t bodySize);
FileSpec PadFile(size_t bodySize);
FileSpec RomHoleFile(uint32_t n, size_t bodySize);
FileSpec SlpKeyFile(size_t bodySize);
FileSpec SlpMarkerFile(size_t bodySize);
FileSpec Oa31File(size_t bodySize);
// DMI file whose body is "BSA_" followed by the given bytes.
FileSpec DmiFile(const Bytes& bsaArea);
// One SMBIOS structure of a "BSA_" area.
struct SmbiosStruct {
    uint8_t type;
    Bytes data;
};
// "BSA_", u32 length, then the structures with 4-byte headers (type, 0, data
// length, flags) or, with longHeaders, 9-byte headers (type, ..., bit 7 of
// byte 3 set, u16 data length at 5).
Bytes BsaArea(const std::vector<SmbiosStruct>& structs, bool longHeaders = false);
// DMI file holding exactly that area.
FileSpec DmiAreaFile(const std::vector<SmbiosStruct>& structs, bool longHeaders = false);

// "$FID" record.
struct FidSpec {
    uint8_t version = 4;
    std::string projectId = "PRJ00001";   // 8 characters are written (zero padded)
    Guid fwGuid = {{0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xF0, 0x01}};
    Bytes oaKey;                          // key length at +67, key at +71
    int sizeOverride = -1;                // u16 at +5 when >= 0, else 71 + key length
    size_t padTo = 0;                     // record bytes at least this many (zero filled)
};
Bytes FidRecord(const FidSpec& s);
// The firmware-ID file: section header, section GUID at +28, record at +44.
FileSpec FidFile(const FidSpec& s);
// Layout file: section GUID at +28, "ROML" at +44, 12 more header bytes, area at +60.
FileSpec LayoutFile(const Bytes& area);
// Capsule header of `length` bytes (GUID, u16 length at 0x1C).
Bytes CapsuleHeader(uint16_t length);
// Embedded capsule file holding a capsule header of `length` bytes.
FileSpec CapsuleFile(uint16_t headerLength);
// ME marker file (the first ME GUID as its name).
FileSpec MeFile(size_t bodySize);

// One firmware volume.
struct VolumeSpec {
    bool ffs3 = false;
    uint8_t revision = 2;
    uint32_t length = 0x10000;        // FvLength; a multiple of 0x10000
    uint32_t attributes = 0x0004FEFF; // erase polarity 0x800 set
    Guid fsGuid{};                    // used when nonStandardFs is set
    bool nonStandardFs = false;
    std::vector<FileSpec> files;
};

struct FileAt {
    Guid name;
    uint32_t offset;   // of the FFS header in the image
    uint32_t size;     // 24-bit FFS size
};
struct VolumeAt {
    uint32_t offset;
    uint32_t length;
    uint8_t revision;
    std::vector<FileAt> files;
};

// A flash-size image (erased) with the volumes placed into it.
struct Rom {
    explicit Rom(uint32_t size, uint8_t erased = 0xFF);
    Bytes bytes;
    std::vector<VolumeAt> volumes;

    // Places a volume at an offset (it must fit); returns its record.
    const VolumeAt& AddVolume(uint32_t offset, const VolumeSpec& v);
    void Put(uint32_t offset, const Bytes& data);
    // Fills a range (a non-critical or OEM activation block, the ME area of
    // a single binary) with pattern bytes.
    void Fill(uint32_t offset, uint32_t size, uint32_t seed);
    // Marks the image as a single binary (flash descriptor, ME and BIOS in
    // one image): the descriptor signature 5A A5 F0 0F at kDescriptorAt.
    void PutDescriptor();
    // Appends a volume after the current end (the ME volume of a single binary).
    const VolumeAt& AppendVolume(const VolumeSpec& v);
    // The n-th placed file of that name; aborts when absent.
    const FileAt& File(const Guid& name, int nth = 0) const;
    bool Has(const Guid& name) const;
    uint32_t size() const { return static_cast<uint32_t>(bytes.size()); }
};

// Signed capsule: header of `headerLength` bytes, then the image.
Bytes SignedCapsule(const Bytes& image, uint16_t headerLength);

// EC image with a "$NUVEC" header at `headerAt`.
struct EcSpec {
    uint32_t size = 0x1000;
    uint32_t headerAt = 0x100;
    uint8_t flag = 0;            // non-zero: checksum from byte 256
    uint16_t chip = 0x8225;
    uint8_t core = 0x41, oem = 0x82, build = 3;
    int checksumOverride = -1;
};
Bytes EcImage(const EcSpec& s);
// Writes the "$NUVEC" header of `s` into `image` at `at` (s.size and
// s.headerAt are not used), its checksum summed over the whole image, as
// for an EC image held in a ROM image. Write it last: it covers every byte.
void PutEcHeader(Bytes& image, uint32_t at, const EcSpec& s);

// Block-table text for the emulator ("2x64K:nvram,..."), from runs.
struct BlockRun {
    uint32_t count;
    uint32_t size;
    uint32_t type;
};
std::string BlockSpec(const std::vector<BlockRun>& runs);

// A 1 MiB sample layout: NVRAM 2x64K (no volume), main 12x64K holding one
// FFS2 volume, boot block 2x64K holding one FFS3 volume.
const uint32_t kSampleSize = 0x100000;
const uint32_t kSampleMain = 0x20000, kSampleMainLength = 0xC0000;
const uint32_t kSampleBoot = 0xE0000, kSampleBootLength = 0x20000;
struct SampleSpec {
    std::vector<FileSpec> mainFiles;
    std::vector<FileSpec> bootFiles;
    uint8_t mainRevision = 2;
    uint32_t mainLength = kSampleMainLength;
};
Rom SampleRom(const SampleSpec& s);
std::vector<BlockRun> SampleBlocks();
// The sample with non-critical blocks: main 8x64K (main volume of
// kNcbMainLength), then blocks of type 0x80 (1x64K at kNcb0), 0x81 (2x64K at
// kNcb1) and 0x82 (1x64K at kNcb2) before the boot block.
const uint32_t kNcbMainLength = 0x80000;
const uint32_t kNcb0 = 0xA0000, kNcb1 = 0xB0000, kNcb2 = 0xD0000;
std::vector<BlockRun> NcbSampleBlocks();
// The same main and boot blocks with `runs` (1 to 32) non-critical runs of
// 8 KiB blocks between them: runs - 1 single-block runs of types 0x80, 0x81,
// ..., then one run of the next type over the rest of [kNcb0, kSampleBoot).
const uint32_t kNcbRunBlock = 0x2000;
std::vector<BlockRun> NcbRunBlocks(uint32_t runs);

// The sample with an OEM activation key in a version-4 "$FID" record: an
// ordinary file in each volume and the firmware-ID file in the boot volume,
// or in the main volume; without `fid` no firmware-ID file at all.
struct FidSampleSpec {
    Bytes key = Bytes(0x31, 0xFF);   // the record's key area (its length is the key length)
    bool fid = true;
    uint8_t version = 4;             // below 4: a record without a key area
    bool inMain = false;
    uint8_t attributes = 0x40;       // of the firmware-ID file: 0 has no data checksum
    std::string projectId = "PRJ00001";
};
Rom FidSample(const FidSampleSpec& s);
// Offset of the key bytes of the firmware-ID file in `r`.
uint32_t FidKeyOffset(const Rom& r);
// Puts key bytes into the record of `r` (bytes of the same layout) and
// refreshes the file's sums.
void PutFidKey(const Rom& r, Bytes& bytes, const Bytes& key);

// Recomputes header and data sums of the file at `at` (after a deliberate
// change elsewhere in it), and the header sum of the volume at `at`.
void RefreshFile(Bytes& img, uint32_t at, uint8_t revision = 2);
void RefreshVolume(Bytes& img, uint32_t at);

// Where a single binary's flash descriptor carries its signature.
const uint32_t kDescriptorAt = 0x10;

// One-fault mutators.
namespace mut {
void VolumeHeaderSum(Rom& r, int vol);
void FileHeaderSum(Rom& r, const FileAt& f);
void FileDataSum(Rom& r, const FileAt& f);            // one body byte changed, sums kept stale
void FileNoSumMark(Rom& r, const FileAt& f, uint8_t mark);
void FileTail(Rom& r, const FileAt& f);
void FvLength(Rom& r, int vol, uint64_t value);        // header sum kept right
void HeaderLength(Rom& r, int vol, uint16_t value);    // header sum kept right
void FileSize(Rom& r, const FileAt& f, uint32_t size); // header sum kept right
void FidSize(Rom& r, uint16_t size);                   // file sums kept right
void VolumeFsGuid(Rom& r, int vol);                    // one byte of the file-system GUID flipped
void VolumeSignature(Rom& r, int vol);                 // one byte of "_FVH" flipped
void CapsuleHeaderLength(Bytes& capsule, uint16_t value);
}  // namespace mut

// Files on disk.
void WriteBytes(const std::string& path, const Bytes& b);

}  // namespace romimg
