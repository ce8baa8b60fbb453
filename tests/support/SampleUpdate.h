// A main-BIOS update as a machine sees it: the system's flash (older main
// code, its own ROM holes, SLP key and OEM activation key, the latter in a
// "$FID" record of the main volume) and a newer
// image whose protected files hold the factory defaults. By default both
// sides have one layout; the protected-file layout of each side can be
// changed on its own (a hole left out, moved, resized, SLP files in the
// other order), so that tests build system/image pairs that differ in
// structure.
#pragma once
#include <vector>
#include "RomImageBuilder.h"

namespace romimg {

// The protected files of one side, in volume order: they follow the main
// volume's code and firmware-ID files, and the boot volume's code file.
struct ProtectedLayout {
    std::vector<FileSpec> main = {RomHoleFile(0, 0x40), RomHoleFile(1, 0x60), SlpKeyFile(0x80), SlpMarkerFile(0x20)};
    std::vector<FileSpec> boot;

    ProtectedLayout& Drop(const Guid& name);                  // the file is left out
    ProtectedLayout& Resize(const Guid& name, size_t bodySize);
    ProtectedLayout& Swap(const Guid& a, const Guid& b);      // the two files trade places
    ProtectedLayout& MoveToBoot(const Guid& name);            // from the main volume to the end of the boot volume
    ProtectedLayout& AddMain(size_t before, const FileSpec& f);  // inserted before the n-th main file
    ProtectedLayout& AddBoot(size_t before, const FileSpec& f);
};

struct SampleUpdate {
    Rom system{kSampleSize};
    Rom image{kSampleSize};
    FileAt hole0{}, hole1{}, slpKey{};  // in the system (zero when it has none)
    FileAt fid{};                       // the system's firmware-ID file
};
// Two ROM holes share one main block; the SLP key and marker follow. The
// system's holes, SLP key and OEM activation key hold its own bytes.
SampleUpdate MakeSampleUpdate();
// `keyLength`: the length of both "$FID" records' OEM activation key areas.
// `imageCodeSeed`: the image's code files (the system's are of seed 1).
SampleUpdate MakeSampleUpdate(const ProtectedLayout& system, const ProtectedLayout& image, size_t keyLength = 16,
                              uint32_t imageCodeSeed = 21);
// The image with the system's bytes of the named files, each at the
// image's place of it (the sizes must agree): what a flash that carries them
// leaves.
Bytes ImageWithSystemFiles(const SampleUpdate& u, const std::vector<Guid>& names);
// The files a main update keeps: both ROM holes, the SLP key and the
// firmware-ID file (whose only difference is the OEM activation key).
std::vector<Guid> KeptFiles();

}  // namespace romimg
