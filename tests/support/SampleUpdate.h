// A main-BIOS update as a machine sees it: the system's flash (older main
// code, its own ROM holes, SLP key and OEM activation key) and a newer
// image of the same layout whose protected files hold the factory defaults.
#pragma once
#include "RomImageBuilder.h"

namespace romimg {

struct SampleUpdate {
    Rom system{kSampleSize};
    Rom image{kSampleSize};
    FileAt hole0{}, hole1{}, slpKey{};  // in both (same places)
};
// Two ROM holes share one main block; the SLP key and marker follow.
SampleUpdate MakeSampleUpdate();

}  // namespace romimg
