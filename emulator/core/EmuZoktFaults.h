// The fault script of the firmware requests (setting zokt_faults): ZOKT
// requests of a record type, and of one sub-function, that the firmware
// leaves unanswered, carries out with its answer lost, refuses with a given
// status, (ME region requests) answers done with a given region status, or
// (ME writes and read-backs) carries out with a byte corrupted.
// Shared by the ZOKT dispatcher and yozemu init.
#pragma once
#include <string>
#include <vector>
#include "HuxTypes.h"

enum EmuZoktFaultAction {
    kEmuZoktFaultNone,     // no rule hit
    kEmuZoktFaultSilent,   // "none": not answered, not carried out
    kEmuZoktFaultLost,     // "lost": carried out, the answer never reaches the buffer
    kEmuZoktFaultStatus,   // a number: not carried out, answered with that status
    kEmuZoktFaultCorrupt,  // "corrupt": carried out with one data byte flipped (ME 7 and 8)
    kEmuZoktFaultRegionStatus,  // "status=N": ME region requests (0x55/0x0a) answered done with region status N, not carried out
};

// One rule: TYPE[/SUB][#WHEN]:ACTION.
struct EmuZoktFaultRule {
    UINT8 Type = 0;
    bool AnySub = true;
    UINT8 Sub = 0;
    UINT64 From = 1, To = ~0ull;  // occurrences of matching requests, counted from 1
    EmuZoktFaultAction Action = kEmuZoktFaultNone;
    UINT16 Status = 0;
    std::string ActionText;
};

struct EmuZoktFault {
    EmuZoktFaultAction Action = kEmuZoktFaultNone;
    UINT16 Status = 0;
    std::string Text;  // for the trace: " fault=..."
};

// Parses the script; false with a message on a bad rule.
bool EmuZoktFaults_Parse(const std::string& script, std::vector<EmuZoktFaultRule>& rules, std::string& error);
// Counts a valid request of `type` and sub-function `sub` against the
// machine's rules (counts persist in the machine's state, zfaultI) and
// returns what the first rule that hits it does.
EmuZoktFault EmuZoktFaults_Check(UINT8 type, UINT8 sub);
// The machine's script is sound (a yozemu init step).
bool EmuZoktFaults_CheckSetting(std::string& error);
