#include "SampleUpdate.h"
#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace romimg {

static void Die(const char* what) {
    fprintf(stderr, "SampleUpdate: %s\n", what);
    abort();
}

// The file of that name in the two volumes' lists: its list and index.
static std::pair<std::vector<FileSpec>*, size_t> Find(ProtectedLayout& l, const Guid& name) {
    for (std::vector<FileSpec>* list : {&l.main, &l.boot})
        for (size_t i = 0; i < list->size(); ++i)
            if ((*list)[i].name == name) return {list, i};
    Die("no such protected file");
    return {nullptr, 0};
}

ProtectedLayout& ProtectedLayout::Drop(const Guid& name) {
    auto at = Find(*this, name);
    at.first->erase(at.first->begin() + at.second);
    return *this;
}

ProtectedLayout& ProtectedLayout::Resize(const Guid& name, size_t bodySize) {
    auto at = Find(*this, name);
    (*at.first)[at.second].body.resize(bodySize, 0xA5);
    return *this;
}

ProtectedLayout& ProtectedLayout::Swap(const Guid& a, const Guid& b) {
    auto x = Find(*this, a);
    auto y = Find(*this, b);
    std::swap((*x.first)[x.second], (*y.first)[y.second]);
    return *this;
}

ProtectedLayout& ProtectedLayout::MoveToBoot(const Guid& name) {
    auto at = Find(*this, name);
    boot.push_back((*at.first)[at.second]);
    at.first->erase(at.first->begin() + at.second);
    return *this;
}

ProtectedLayout& ProtectedLayout::AddMain(size_t before, const FileSpec& f) {
    main.insert(main.begin() + std::min(before, main.size()), f);
    return *this;
}

ProtectedLayout& ProtectedLayout::AddBoot(size_t before, const FileSpec& f) {
    boot.insert(boot.begin() + std::min(before, boot.size()), f);
    return *this;
}

static Rom Build(uint32_t codeSeed, const Bytes& oaKey, const ProtectedLayout& layout) {
    SampleSpec spec;
    FidSpec fid;
    fid.oaKey = oaKey;
    spec.mainFiles = {PlainFile(codeSeed, 0x300), FidFile(fid)};
    spec.mainFiles.insert(spec.mainFiles.end(), layout.main.begin(), layout.main.end());
    spec.mainFiles.push_back(PlainFile(codeSeed + 1, 0x120));
    spec.bootFiles = {PlainFile(3, 0x80)};
    spec.bootFiles.insert(spec.bootFiles.end(), layout.boot.begin(), layout.boot.end());
    return SampleRom(spec);
}

// Gives a file of the system its own body bytes (sums kept right).
static void OwnBody(Rom& r, const FileAt& f, uint32_t seed) {
    Bytes body = Pattern(f.size - 24, seed);
    for (size_t i = 0; i < body.size(); ++i) r.bytes[f.offset + 24 + i] = body[i];
    RefreshFile(r.bytes, f.offset);
}

SampleUpdate MakeSampleUpdate() { return MakeSampleUpdate(ProtectedLayout(), ProtectedLayout()); }

SampleUpdate MakeSampleUpdate(const ProtectedLayout& system, const ProtectedLayout& image, size_t keyLength,
                              uint32_t imageCodeSeed) {
    SampleUpdate u;
    u.system = Build(1, Pattern(keyLength, 0x0C), system);
    u.image = Build(imageCodeSeed, Pattern(keyLength, 0x0A), image);
    u.fid = u.system.File(kFidFile);
    // Machine data: every ROM hole and the SLP key (the marker keeps the factory bytes).
    for (uint32_t n = 0; n < 16; ++n)
        if (u.system.Has(RomHoleGuid(n))) OwnBody(u.system, u.system.File(RomHoleGuid(n)), 0x51 + n);
    if (u.system.Has(kSlpKey)) OwnBody(u.system, u.system.File(kSlpKey), 0x53);
    if (u.system.Has(RomHoleGuid(0))) u.hole0 = u.system.File(RomHoleGuid(0));
    if (u.system.Has(RomHoleGuid(1))) u.hole1 = u.system.File(RomHoleGuid(1));
    if (u.system.Has(kSlpKey)) u.slpKey = u.system.File(kSlpKey);
    return u;
}

Bytes ImageWithSystemFiles(const SampleUpdate& u, const std::vector<Guid>& names) {
    Bytes out = u.image.bytes;
    for (const Guid& name : names) {
        const FileAt& from = u.system.File(name);
        const FileAt& to = u.image.File(name);
        if (from.size != to.size) Die("the file's sizes differ");
        std::copy(u.system.bytes.begin() + from.offset, u.system.bytes.begin() + from.offset + from.size,
                  out.begin() + to.offset);
    }
    return out;
}

std::vector<Guid> KeptFiles() { return {RomHoleGuid(0), RomHoleGuid(1), kSlpKey, kFidFile}; }

}  // namespace romimg
