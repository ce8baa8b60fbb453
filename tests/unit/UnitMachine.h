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

// Rewrites machine.ini only: memory, state files and trace stay.
void Settings(const std::vector<std::string>& settings);
// Empties the trace only.
void ClearTrace();
// A file of the machine directory ("state/cmos", "machine.ini").
std::string File(const std::string& name);

// Physical address at which the tests place the interface buffer.
const UINT32 kIntrBufPhys = 0x00200000;
// Maps the interface buffer (0x11000 bytes at kIntrBufPhys of the machine's
// memory) and installs it as gpIntrBuf / gIntrBufPhyAddr, with gSmiPort the
// machine's default SMI port 0xB2. Call it after each
// Reset, which makes a new memory file.
UINT8* InstallInterfaceBuffer();

}  // namespace unitmachine
