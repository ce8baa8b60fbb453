// yozmkrom: the built-in sample of a main-BIOS update.
//   yozmkrom make DIR     writes DIR/sample.rom (the new image) and
//                         DIR/system.bin (the machine's older flash)
//   yozmkrom check FLASH  tells what the flash now holds
#include <algorithm>
#include <cstdio>
#include <string>
#include "SampleUpdate.h"

using namespace romimg;

static bool Read(const std::string& path, Bytes& out) {
    FILE* f = fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    out.assign(kSampleSize + 1, 0);
    size_t n = fread(out.data(), 1, out.size(), f);
    fclose(f);
    out.resize(n);
    return n == kSampleSize;
}

static bool Same(const Bytes& a, const Bytes& b, uint32_t at, uint32_t size) {
    return std::equal(a.begin() + at, a.begin() + at + size, b.begin() + at);
}

static int Check(const std::string& path) {
    SampleUpdate u = MakeSampleUpdate();
    Bytes flash;
    if (!Read(path, flash)) {
        fprintf(stderr, "yozmkrom: %s is not a %u-byte flash\n", path.c_str(), kSampleSize);
        return 2;
    }
    FileAt key{u.fid.name, FidKeyOffset(u.system), 16};
    struct Kept { const char* what; FileAt at; } kept[] = {
        {"ROM hole 0", u.hole0}, {"ROM hole 1", u.hole1}, {"SLP key", u.slpKey}, {"OA key", key}};
    bool ok = true;
    for (const Kept& k : kept) {
        bool system = Same(flash, u.system.bytes, k.at.offset, k.at.size);
        printf("%-10s at 0x%06X (0x%X bytes): %s\n", k.what, k.at.offset, k.at.size,
               system ? "the system's own data, kept" : "NOT the system's data");
        ok = ok && system;
    }
    // The rest of the main region is the new image's.
    Bytes expected = ImageWithSystemFiles(u, KeptFiles());
    bool main = Same(flash, expected, kSampleMain, kSampleMainLength);
    bool boot = Same(flash, u.system.bytes, kSampleBoot, kSampleBootLength);
    printf("main block: %s\n", main ? "the new image's code" : "NOT the new image");
    printf("boot block: %s\n", boot ? "untouched" : "CHANGED");
    ok = ok && main && boot;
    return ok ? 0 : 1;
}

int main(int argc, char** argv) {
    std::string verb = argc == 3 ? argv[1] : "";
    if (verb == "make") {
        SampleUpdate u = MakeSampleUpdate();
        WriteBytes(std::string(argv[2]) + "/sample.rom", u.image.bytes);
        WriteBytes(std::string(argv[2]) + "/system.bin", u.system.bytes);
        return 0;
    }
    if (verb == "check") return Check(argv[2]);
    fprintf(stderr, "usage: yozmkrom make DIR | yozmkrom check FLASH\n");
    return 2;
}
