#include "SampleUpdate.h"

namespace romimg {

static Rom Build(uint32_t codeSeed, const Bytes& oaKey) {
    SampleSpec spec;
    FidSpec fid;
    fid.oaKey = oaKey;
    spec.mainFiles = {PlainFile(codeSeed, 0x300), FidFile(fid),          RomHoleFile(0, 0x40),
                      RomHoleFile(1, 0x60),       SlpKeyFile(0x80),      SlpMarkerFile(0x20),
                      PlainFile(codeSeed + 1, 0x120)};
    spec.bootFiles = {PlainFile(3, 0x80)};
    return SampleRom(spec);
}

// Gives a file of the system its own body bytes (sums kept right).
static void OwnBody(Rom& r, const FileAt& f, uint32_t seed) {
    Bytes body = Pattern(f.size - 24, seed);
    for (size_t i = 0; i < body.size(); ++i) r.bytes[f.offset + 24 + i] = body[i];
    RefreshFile(r.bytes, f.offset);
}

SampleUpdate MakeSampleUpdate() {
    SampleUpdate u;
    u.system = Build(1, Pattern(16, 0x0A));
    u.image = Build(21, Pattern(16, 0x0B));
    u.hole0 = u.system.File(RomHoleGuid(0));
    u.hole1 = u.system.File(RomHoleGuid(1));
    u.slpKey = u.system.File(SlpKeyFile(0).name);
    OwnBody(u.system, u.hole0, 0x51);
    OwnBody(u.system, u.hole1, 0x52);
    OwnBody(u.system, u.slpKey, 0x53);
    return u;
}

}  // namespace romimg
