// Shared by the fuzz targets: quiet output, and the small flash layout the
// image and flash-copy targets run against.
#pragma once
#include <vector>
#include "RomImageBuilder.h"

namespace fuzzkit {

// Output lines are formatted (their arguments are read) and dropped.
void QuietOutput();

// A 64 KiB flash of 4 KiB blocks: NVRAM 2, main 7, OEM activation 1,
// non-critical 0x80 and 0x81 one each, boot block 4.
const uint32_t kFlashSize = 0x10000;
const uint32_t kMainAt = 0x2000, kMainLength = 0x7000;
const uint32_t kOaAt = 0x9000, kNcb0At = 0xA000, kNcb1At = 0xB000;
const uint32_t kBootAt = 0xC000, kBootLength = 0x4000;
inline std::vector<romimg::BlockRun> FlashBlocks() {
    return {{2, 0x1000, 2}, {7, 0x1000, 1}, {1, 0x1000, 0x4A}, {1, 0x1000, 0x80}, {1, 0x1000, 0x81}, {4, 0x1000, 0}};
}

// The fuzz layout's flash with a version-4 "$FID" record holding `key`
// (main volume) and the ROM holes of the seeds.
inline romimg::Bytes KeyedFlash(const romimg::Bytes& key) {
    romimg::FidSpec keyed;
    keyed.oaKey = key;
    romimg::Rom flash(kFlashSize);
    romimg::VolumeSpec main;
    main.length = kMainLength;
    main.files = {romimg::FidFile(keyed), romimg::Oa31File(0x40), romimg::RomHoleFile(2, 0x10),
                  romimg::RomHoleFile(3, 0x10)};
    flash.AddVolume(kMainAt, main);
    return flash.bytes;
}

}  // namespace fuzzkit
