// Init steps for the driver's side of a machine: /proc/devices and the kernel
// tree, and the UEFI variable interfaces with the "SecureBoot" variable.
#pragma once
#include <string>

bool EmuInit_KernelTree(std::string& error);
bool EmuInit_EfiVars(std::string& error);
