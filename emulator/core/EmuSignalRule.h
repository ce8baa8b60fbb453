// The setting signal_smi: the operator's signal arriving while the firmware
// handles a given request ("CMD[#N]:SIG", e.g. "0x22#2:TERM", the second
// erase of the run). SIG names any signal without its "SIG" (TERM, PWR, KILL,
// ...; the real-time ones RTMIN, RTMIN+n, RTMAX-n, RTMAX); PIPE instead takes
// the reader away from standard output, so that the program's next write
// there meets a closed pipe as when its reader was killed.
#pragma once
#include <string>
#include "HuxTypes.h"

struct EmuSignalRule {
    UINT8 Command = 0;
    UINT32 Nth = 1;   // counted within one run of the program
    int Signal = 0;   // 0: no rule
    std::string Name;
};

// Parses the setting; an empty text is no rule. False with a message on a bad one.
bool EmuSignalRule_Parse(const std::string& text, EmuSignalRule& rule, std::string& error);
// The machine's rule is sound (a step of yozemu init).
bool EmuSignalRule_Check(std::string& error);
