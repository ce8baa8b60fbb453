// In-process set-up for tests of the image and system models: a block table
// in place of the firmware's answer and fresh model state.
#pragma once
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

}  // namespace romkit
