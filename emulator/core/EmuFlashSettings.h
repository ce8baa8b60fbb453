// Settings of the emulated flash part that need parsing: the fault script
// (flash_faults) and the patches of the ROM information answer
// (flash_info_patch). Shared by the firmware handlers and yozemu init.
#pragma once
#include <string>
#include <vector>
#include "HuxTypes.h"

// What a fault rule does to the request it hits.
enum EmuFaultAction {
    kEmuFaultNone,     // no rule hit
    kEmuFaultKeep,     // the firmware does not answer: the status stays as preset
    kEmuFaultStatus,   // the firmware answers with the rule's status
    kEmuFaultCorrupt,  // the data read back or written is corrupted; the status is 0
};

struct EmuFault {
    EmuFaultAction Action = kEmuFaultNone;
    UINT8 Status = 0;           // kEmuFaultStatus
    UINT32 CorruptAddress = 0;  // kEmuFaultCorrupt: the flash address whose byte is flipped
    std::string Text;           // for the trace: " fault=..."
};

// One rule of the setting flash_faults: KIND[@ADDRESS][#WHEN]:ACTION.
struct EmuFaultRule {
    std::string Kind;            // open, read, erase, write, close, info
    bool AnyAddress = true;
    UINT32 Address = 0;          // hits a request whose range holds it
    UINT64 From = 1, To = ~0ull; // occurrences of matching requests, counted from 1
    EmuFaultAction Action = kEmuFaultNone;
    UINT8 Status = 0;
    std::string ActionText;
};

// WHEN of a rule: "N" (the Nth occurrence), "N+" (the Nth and all later) or
// "N-M", counted from 1; false when it is none of these.
bool EmuFaults_ParseWhen(const std::string& text, UINT64& from, UINT64& to);
// The parts of a text joined by `separator` (empty parts skipped).
std::vector<std::string> EmuFaults_Split(const std::string& text, char separator);
// A rule "HEAD[#WHEN]:ACTION" in its parts (from and to stay as they are
// without WHEN); false without ':' or with a bad WHEN.
bool EmuFaults_SplitRule(const std::string& text, std::string& head, std::string& action, UINT64& from, UINT64& to);

// Parses the fault script; false with a message on a bad rule.
bool EmuFlashFaults_Parse(const std::string& script, std::vector<EmuFaultRule>& rules, std::string& error);
// Counts the request against the machine's rules (counts persist in the
// machine's state) and returns what the first rule that hits it does.
EmuFault EmuFlashFaults_Check(const char* kind, UINT32 address, UINT32 size);

// One patch of the ROM information answer: bytes written at an offset.
struct EmuInfoPatch {
    UINT32 Offset = 0;
    std::vector<UINT8> Bytes;
};
// "OFFSET:HEXBYTES" joined by commas, e.g. "0x0c:00000000,6:ffff".
bool EmuInfoPatch_Parse(const std::string& text, std::vector<EmuInfoPatch>& patches, std::string& error);

// The machine's flash settings are sound; false with a message (yozemu init
// refuses the machine).
bool EmuFlashSettings_Check(std::string& error);
