// Parsing of the setting signal_smi.
#include "EmuSignalRule.h"
#include <csignal>
#include <cstdlib>
#include "EmuMachine.h"

bool EmuSignalRule_Parse(const std::string& text, EmuSignalRule& rule, std::string& error) {
    rule = EmuSignalRule();
    if (text.empty()) return true;
    static const struct {
        const char* Name;
        int Signal;
    } kSignals[] = {{"TERM", SIGTERM}, {"INT", SIGINT},   {"HUP", SIGHUP},        {"QUIT", SIGQUIT},
                    {"TSTP", SIGTSTP}, {"ALRM", SIGALRM}, {"USR1", SIGUSR1},      {"USR2", SIGUSR2},
                    {"XFSZ", SIGXFSZ}, {"XCPU", SIGXCPU}, {"VTALRM", SIGVTALRM}, {"PROF", SIGPROF},
                    {"PIPE", SIGPIPE}};
    char* end = nullptr;
    unsigned long command = strtoul(text.c_str(), &end, 0);
    unsigned long nth = 1;
    if (end != text.c_str() && *end == '#') nth = strtoul(end + 1, &end, 10);
    bool shaped = end != text.c_str() && *end == ':' && command <= 0xFF && nth >= 1;
    for (const auto& s : kSignals) {
        if (shaped && text.compare(end + 1 - text.c_str(), std::string::npos, s.Name) == 0) {
            rule.Command = static_cast<UINT8>(command);
            rule.Nth = static_cast<UINT32>(nth);
            rule.Signal = s.Signal;
            rule.Name = s.Name;
            return true;
        }
    }
    error = "signal_smi must be CMD[#N]:SIG with SIG one of TERM, INT, HUP, QUIT, TSTP, ALRM, USR1, USR2, XFSZ, "
            "XCPU, VTALRM, PROF, PIPE";
    return false;
}

bool EmuSignalRule_Check(std::string& error) {
    EmuSignalRule rule;
    return EmuSignalRule_Parse(EmuMachine_Get("signal_smi", ""), rule, error);
}
