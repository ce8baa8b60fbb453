// An emulated machine for in-process unit tests: one directory per test
// process (the emulator reads YOZ_EMU_MACHINE once), reset to a blank state
// by each test with the settings it needs.
#pragma once
#include <string>
#include <vector>
#include "HuxTypes.h"

namespace unitmachine {

// Blank machine: the settings as machine.ini, a zero 4 GiB root/dev/mem, no
// kernel table copies, no systab, no state, empty trace. False (with the test
// failed) when the machine directory cannot be used.
bool Reset(const std::vector<std::string>& settings = {});
std::string Root(const std::string& path);
void WriteRootFile(const std::string& path, const std::string& data);
bool PutPhys(UINT64 address, const std::string& data);
std::string GetPhys(UINT64 address, UINT32 size);
std::vector<std::string> Trace();

}  // namespace unitmachine
