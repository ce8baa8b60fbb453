// The emulated machine: its directory, its settings (machine.ini), its trace
// (trace.log), its physical memory (root/dev/mem) and its flash part
// (flash.bin). Shared by the emulator's OS seam, its firmware handlers and
// the yozemu control tool.
#pragma once
#include <string>
#include "HuxTypes.h"

// Directory named by YOZ_EMU_MACHINE (empty when unset).
const std::string& EmuMachine_Dir();
std::string EmuMachine_File(const char* name);   // DIR/name
std::string EmuMachine_Root(const char* path);   // DIR/root + path

// Settings of machine.ini ("key=value" lines), read once.
bool EmuMachine_Has(const char* key);
std::string EmuMachine_Get(const char* key, const char* fallback);
UINT64 EmuMachine_GetNum(const char* key, UINT64 fallback);
// Re-reads machine.ini (for tests that change it in-process) and forgets the
// open machine files and the state read so far.
void EmuMachine_Reload();

// Persistent small state files of the handlers (DIR/state/<name>), read
// once and written through.
std::string EmuState_File(const char* name);  // its path; makes DIR/state on first use
std::string EmuState_Get(const char* name, const char* fallback);
void EmuState_Set(const char* name, const std::string& value);
UINT64 EmuState_GetNum(const char* name, UINT64 fallback);
void EmuState_SetNum(const char* name, UINT64 value);

// One event a line, appended and written unbuffered (trace.log stays open).
void EmuTrace(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Physical memory of the machine (root/dev/mem, a sparse 4 GiB file).
bool EmuPhys_Read(UINT64 address, void* buffer, UINT32 size);
bool EmuPhys_Write(UINT64 address, const void* buffer, UINT32 size);
// The bytes in place (a shared mapping of the file, valid until the machine
// is reloaded or the next call), or null where they cannot be mapped: then
// EmuPhys_Read reaches them.
const UINT8* EmuPhys_Bytes(UINT64 address, UINT32 size);
// True when `start` begins one of the emulator's own windows of physical
// memory (not a mapping the program made).
bool EmuPhys_IsOwnWindow(const void* start);

// The flash part (flash.bin).
UINT32 EmuFlash_Size();
bool EmuFlash_Read(UINT32 offset, void* buffer, UINT32 size);
bool EmuFlash_Write(UINT32 offset, const void* buffer, UINT32 size);
// Sets the bytes to 0xFF, as an erase does.
bool EmuFlash_Erase(UINT32 offset, UINT32 size);
// Programs flash as NOR flash does: the bytes are ANDed into the old
// contents, only an erase sets bits (flash_nor=0: stored as given).
bool EmuFlash_Program(UINT32 offset, const void* buffer, UINT32 size);
// Copies flash bytes to physical memory (a read request's answer).
bool EmuFlash_CopyToPhys(UINT32 offset, UINT64 address, UINT32 size);

// Parses a number in C notation (0x.., decimal); false when it is not one.
bool EmuParseNum(const std::string& text, UINT64& value);
// Bytes of a text of hexadecimal digit pairs ("4d4c"), up to the first pair
// that is not one.
std::string EmuHexBytes(const std::string& hex);
