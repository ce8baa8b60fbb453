// Copy of the recovery image to the EFI system partition.
#pragma once

// Clears the copy's path, drive name and flags.
void InitCopyRecoveryFile();
