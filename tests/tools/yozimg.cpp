// yozimg: builds a test ROM image from its parts, for the demo and scripts.
//   yozimg OUT ITEM...
// Items are applied in order; file items go into the last volume opened.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#include "RomImageBuilder.h"

using namespace romimg;

static int Usage() {
    fprintf(stderr,
            "usage: yozimg OUT ITEM...\n"
            "  size=N                 image size (first item; default 0x100000)\n"
            "  vol=OFFSET,LENGTH[,ffs3][,rev1]  open a volume; the file items below go into it\n"
            "  file=SEED,SIZE         an ordinary file with SIZE body bytes\n"
            "  fid=PROJECT[,v3][,key=N][,blank=N][,nosum]  firmware-ID file (record version 4 unless v3;\n"
            "                         a key of N pattern or N blank bytes; nosum: no data checksum)\n"
            "  hole=N[,SIZE]          ROM hole N (0-15)\n"
            "  slpkey[=SIZE] slpmarker[=SIZE] oa31[=SIZE] dmi[=SIZE] roml[=SIZE] capfile[=LENGTH]\n"
            "  descriptor             flash descriptor signature at 0x10 (a single binary)\n"
            "  fill=OFFSET,SIZE[,SEED]  pattern bytes over a range (e.g. the ME area)\n"
            "  bsa=TYPE:LEN[;TYPE:LEN...][,long][,pad=N][,seed=N][,nosum]\n"
            "                         DMI file with an SMBIOS area of those structures (LEN data\n"
            "                         bytes each; long: 9-byte headers), N pattern bytes after it\n"
            "  me=LENGTH              append an ME volume of LENGTH bytes after the image\n"
            "  signed=LENGTH          put a capsule header of LENGTH bytes in front\n"
            "  ec=SIZE[,flag]         write an EC image with a \"$NUVEC\" header instead\n"
            "  echdr=OFFSET[,flag][,chip=N]  an EC image header at OFFSET of the image, its checksum\n"
            "                         over the whole image (applied last, before signed=)\n"
            "  break=vol-sum:V | fv-length:V:VALUE | data-sum:V | fid-size:N | fs-guid:V | fv-sig:V   one fault\n"
            "  --blocks [RUNS]        print the block table of the 1 MiB sample layout (with RUNS\n"
            "                         non-critical runs between main and boot block) and exit\n");
    return 2;
}

static uint64_t Num(const std::string& s) {
    char* end = nullptr;
    uint64_t v = strtoull(s.c_str(), &end, 0);
    if (s.empty() || *end != 0) {
        fprintf(stderr, "yozimg: not a number: %s\n", s.c_str());
        exit(2);
    }
    return v;
}

static std::vector<std::string> Split(const std::string& s, char sep) {
    std::vector<std::string> out;
    size_t start = 0;
    while (true) {
        size_t at = s.find(sep, start);
        out.push_back(s.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos) break;
        start = at + 1;
    }
    return out;
}

// "bsa=" item: structures "TYPE:LEN" separated by ';', then the flags.
static bool BsaItem(const std::vector<std::string>& parts, FileSpec& file) {
    bool longHeaders = false, sum = true;
    uint32_t pad = 0, seed = 0x30;
    for (size_t k = 1; k < parts.size(); ++k) {
        if (parts[k] == "long") longHeaders = true;
        else if (parts[k] == "nosum") sum = false;
        else if (parts[k].compare(0, 4, "pad=") == 0) pad = static_cast<uint32_t>(Num(parts[k].substr(4)));
        else if (parts[k].compare(0, 5, "seed=") == 0) seed = static_cast<uint32_t>(Num(parts[k].substr(5)));
        else return false;
    }
    std::vector<SmbiosStruct> structs;
    for (const std::string& one : Split(parts[0], ';')) {
        std::vector<std::string> typeLength = Split(one, ':');
        if (typeLength.size() != 2) return false;
        uint64_t type = Num(typeLength[0]), length = Num(typeLength[1]);
        if (type > 0xFF || length > (longHeaders ? 0xFFFF : 0xFF)) return false;
        structs.push_back({static_cast<uint8_t>(type), Pattern(length, seed + static_cast<uint32_t>(structs.size()))});
    }
    file = DmiAreaFile(structs, longHeaders);
    Bytes after = Pattern(pad, seed + 0x80);
    file.body.insert(file.body.end(), after.begin(), after.end());
    if (!sum) file.attributes = 0;
    return true;
}

struct PendingVolume {
    uint32_t offset = 0;
    VolumeSpec spec;
    bool open = false;
};

int main(int argc, char** argv) {
    if ((argc == 2 || argc == 3) && strcmp(argv[1], "--blocks") == 0) {
        uint32_t runs = argc == 3 ? static_cast<uint32_t>(Num(argv[2])) : 0;
        printf("%s\n", BlockSpec(runs != 0 ? NcbRunBlocks(runs) : SampleBlocks()).c_str());
        return 0;
    }
    if (argc < 3) return Usage();
    std::string out = argv[1];
    uint32_t size = kSampleSize;
    std::vector<std::string> items(argv + 2, argv + argc);
    size_t first = 0;
    if (!items.empty() && items[0].compare(0, 5, "size=") == 0) {
        size = static_cast<uint32_t>(Num(items[0].substr(5)));
        first = 1;
    }
    Rom rom(size);
    PendingVolume vol;
    Bytes result;
    bool ecOnly = false;
    std::vector<std::string> faults;
    uint32_t appendMe = 0, signedHeader = 0;
    EcSpec ecHeader;
    uint32_t ecHeaderAt = 0;
    bool withEcHeader = false;

    auto close = [&]() {
        if (vol.open) rom.AddVolume(vol.offset, vol.spec);
        vol = PendingVolume();
    };
    auto addFile = [&](const FileSpec& f) {
        if (!vol.open) {
            fprintf(stderr, "yozimg: a file item needs a vol= item before it\n");
            exit(2);
        }
        vol.spec.files.push_back(f);
    };
    for (size_t i = first; i < items.size(); ++i) {
        std::string item = items[i];
        size_t eq = item.find('=');
        std::string key = item.substr(0, eq);
        std::string value = eq == std::string::npos ? "" : item.substr(eq + 1);
        std::vector<std::string> parts = Split(value, ',');
        auto sizeOr = [&](uint32_t fallback) { return value.empty() ? fallback : static_cast<uint32_t>(Num(parts[0])); };
        if (key == "vol") {
            close();
            if (parts.size() < 2) return Usage();
            vol.open = true;
            vol.offset = static_cast<uint32_t>(Num(parts[0]));
            vol.spec.length = static_cast<uint32_t>(Num(parts[1]));
            for (size_t k = 2; k < parts.size(); ++k) {
                if (parts[k] == "ffs3") vol.spec.ffs3 = true;
                else if (parts[k] == "rev1") vol.spec.revision = 1;
                else return Usage();
            }
        } else if (key == "file" && parts.size() == 2) {
            addFile(PlainFile(static_cast<uint32_t>(Num(parts[0])), static_cast<size_t>(Num(parts[1]))));
        } else if (key == "fid" && !value.empty()) {
            FidSpec f;
            f.projectId = parts[0];
            uint8_t attributes = 0x40;
            for (size_t k = 1; k < parts.size(); ++k) {
                if (parts[k] == "v3") f.version = 3;
                else if (parts[k] == "nosum") attributes = 0;
                else if (parts[k].compare(0, 4, "key=") == 0) f.oaKey = Pattern(Num(parts[k].substr(4)), 0x0A);
                else if (parts[k].compare(0, 6, "blank=") == 0) f.oaKey = Bytes(Num(parts[k].substr(6)), 0xFF);
                else return Usage();
            }
            FileSpec file = FidFile(f);
            file.attributes = attributes;
            addFile(file);
        } else if (key == "hole" && !value.empty()) {
            addFile(RomHoleFile(static_cast<uint32_t>(Num(parts[0])), parts.size() > 1 ? Num(parts[1]) : 64));
        } else if (key == "slpkey") {
            addFile(SlpKeyFile(sizeOr(32)));
        } else if (key == "slpmarker") {
            addFile(SlpMarkerFile(sizeOr(32)));
        } else if (key == "oa31") {
            addFile(Oa31File(sizeOr(32)));
        } else if (key == "dmi") {
            addFile(DmiFile(Pattern(sizeOr(64), 0x0D)));
        } else if (key == "bsa" && !value.empty()) {
            FileSpec f;
            if (!BsaItem(parts, f)) return Usage();
            addFile(f);
        } else if (key == "roml") {
            addFile(LayoutFile(Pattern(sizeOr(64), 0x1A)));
        } else if (key == "capfile") {
            addFile(CapsuleFile(static_cast<uint16_t>(sizeOr(0x40))));
        } else if (key == "descriptor" && value.empty()) {
            rom.PutDescriptor();
        } else if (key == "fill" && (parts.size() == 2 || parts.size() == 3)) {
            uint64_t at = Num(parts[0]), length = Num(parts[1]);
            if (at > rom.size() || length > rom.size() - at) return Usage();
            rom.Fill(static_cast<uint32_t>(at), static_cast<uint32_t>(length),
                     parts.size() == 3 ? static_cast<uint32_t>(Num(parts[2])) : 0x3E);
        } else if (key == "me" && !value.empty()) {
            appendMe = static_cast<uint32_t>(Num(parts[0]));
        } else if (key == "signed" && !value.empty()) {
            signedHeader = static_cast<uint32_t>(Num(parts[0]));
        } else if (key == "ec" && !value.empty()) {
            EcSpec e;
            e.size = static_cast<uint32_t>(Num(parts[0]));
            e.flag = parts.size() > 1 && parts[1] == "flag";
            result = EcImage(e);
            ecOnly = true;
        } else if (key == "echdr" && !value.empty()) {
            ecHeaderAt = static_cast<uint32_t>(Num(parts[0]));
            for (size_t k = 1; k < parts.size(); ++k) {
                if (parts[k] == "flag") ecHeader.flag = 1;
                else if (parts[k].compare(0, 5, "chip=") == 0) ecHeader.chip = static_cast<uint16_t>(Num(parts[k].substr(5)));
                else return Usage();
            }
            withEcHeader = true;
        } else if (key == "break" && !value.empty()) {
            faults.push_back(value);
        } else {
            return Usage();
        }
    }
    close();
    if (!ecOnly) {
        if (appendMe != 0) {
            VolumeSpec me;
            me.length = appendMe;
            me.files = {MeFile(0x100)};
            rom.AppendVolume(me);
        }
        for (const std::string& f : faults) {
            std::vector<std::string> p = Split(f, ':');
            if (p[0] == "vol-sum" && p.size() == 2) {
                mut::VolumeHeaderSum(rom, static_cast<int>(Num(p[1])));
            } else if (p[0] == "fv-length" && p.size() == 3) {
                mut::FvLength(rom, static_cast<int>(Num(p[1])), Num(p[2]));
            } else if (p[0] == "data-sum" && p.size() == 2) {
                const VolumeAt& v = rom.volumes.at(Num(p[1]));
                if (v.files.empty()) return Usage();
                mut::FileDataSum(rom, v.files.front());
            } else if (p[0] == "fid-size" && p.size() == 2) {
                mut::FidSize(rom, static_cast<uint16_t>(Num(p[1])));
            } else if (p[0] == "fs-guid" && p.size() == 2) {
                mut::VolumeFsGuid(rom, static_cast<int>(Num(p[1])));
            } else if (p[0] == "fv-sig" && p.size() == 2) {
                mut::VolumeSignature(rom, static_cast<int>(Num(p[1])));
            } else {
                return Usage();
            }
        }
        result = rom.bytes;
        if (withEcHeader) {
            if (ecHeaderAt + 16ull > result.size()) {
                fprintf(stderr, "yozimg: the EC header does not fit the image\n");
                return 2;
            }
            PutEcHeader(result, ecHeaderAt, ecHeader);
        }
        if (signedHeader != 0) result = SignedCapsule(result, static_cast<uint16_t>(signedHeader));
    }
    WriteBytes(out, result);
    return 0;
}
