// In-process set-up for tests of the image and system models: a block table
// in place of the firmware's answer, fresh model state, and captured output.
#pragma once
#include <cstdarg>
#include <string>
#include <vector>
#include "RomImageBuilder.h"

namespace romkit {

// Installs the block table (gpFlashInfo, gRomSize, block size of the first
// run) and resets both models.
void SetBlocks(const std::vector<romimg::BlockRun>& runs);
// Resets both models and frees the flash copy.
void ResetModels();
// Makes the bytes the loaded image (not copied: keep them alive).
void UseImage(romimg::Bytes& image);
// Makes the bytes the flash copy (copied into a model-owned buffer).
void UseFlashCopy(const romimg::Bytes& flash);

// Captures everything printed through WriteOut while alive.
struct Capture {
    Capture();
    ~Capture();
    std::string text;
};

}  // namespace romkit
