// Steps of "yozemu init" after the machine directory, machine.ini, flash.bin
// and root/dev/mem exist. Each lays out one part of the machine from its
// settings (EmuMachine_Get works inside a step) and returns false on failure.
#pragma once
#include <string>

typedef bool (*EmuInitStep)(std::string& error);
extern const EmuInitStep EmuInitSteps[];  // ended by nullptr

bool EmuInit_NmiWatchdog(std::string& error);
bool EmuInit_PresentMemory(std::string& error);
