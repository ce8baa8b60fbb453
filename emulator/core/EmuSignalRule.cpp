// Parsing of the setting signal_smi.
#include "EmuSignalRule.h"
#include <csignal>
#include <cstdlib>
#include <cstring>
#include "EmuMachine.h"

namespace {

// Every signal of the platform by its name without "SIG"; the real-time
// ones as RTMIN, RTMIN+n, RTMAX-n and RTMAX.
const struct {
    const char* Name;
    int Signal;
} kSignals[] = {
    {"HUP", SIGHUP},     {"INT", SIGINT},       {"QUIT", SIGQUIT}, {"ILL", SIGILL},       {"TRAP", SIGTRAP},
    {"ABRT", SIGABRT},   {"IOT", SIGIOT},       {"BUS", SIGBUS},   {"FPE", SIGFPE},       {"KILL", SIGKILL},
    {"USR1", SIGUSR1},   {"SEGV", SIGSEGV},     {"USR2", SIGUSR2}, {"PIPE", SIGPIPE},     {"ALRM", SIGALRM},
    {"TERM", SIGTERM},   {"STKFLT", SIGSTKFLT}, {"CHLD", SIGCHLD}, {"CONT", SIGCONT},     {"STOP", SIGSTOP},
    {"TSTP", SIGTSTP},   {"TTIN", SIGTTIN},     {"TTOU", SIGTTOU}, {"URG", SIGURG},       {"XCPU", SIGXCPU},
    {"XFSZ", SIGXFSZ},   {"VTALRM", SIGVTALRM}, {"PROF", SIGPROF}, {"WINCH", SIGWINCH},   {"IO", SIGIO},
    {"POLL", SIGPOLL},   {"PWR", SIGPWR},       {"SYS", SIGSYS},
};

// The signal a name stands for; 0 for none.
int SignalByName(const char* name) {
    for (const auto& s : kSignals)
        if (strcmp(name, s.Name) == 0) return s.Signal;
    const char* offset = nullptr;
    int base = 0, direction = 1;
    if (strncmp(name, "RTMIN", 5) == 0) {
        base = SIGRTMIN;
        offset = name + 5;
    } else if (strncmp(name, "RTMAX", 5) == 0) {
        base = SIGRTMAX;
        offset = name + 5;
        direction = -1;
    }
    if (offset == nullptr) return 0;
    if (*offset == '\0') return base;
    if (*offset != (direction > 0 ? '+' : '-') || offset[1] < '0' || offset[1] > '9') return 0;
    char* end = nullptr;
    long n = strtol(offset + 1, &end, 10);
    if (*end != '\0' || n > SIGRTMAX - SIGRTMIN) return 0;
    return base + direction * static_cast<int>(n);
}

}  // namespace

bool EmuSignalRule_Parse(const std::string& text, EmuSignalRule& rule, std::string& error) {
    rule = EmuSignalRule();
    if (text.empty()) return true;
    char* end = nullptr;
    unsigned long command = strtoul(text.c_str(), &end, 0);
    unsigned long nth = 1;
    if (end != text.c_str() && *end == '#') nth = strtoul(end + 1, &end, 10);
    bool shaped = end != text.c_str() && *end == ':' && command <= 0xFF && nth >= 1;
    int signal = shaped ? SignalByName(end + 1) : 0;
    if (signal == 0) {
        error = "signal_smi must be CMD[#N]:SIG with SIG a signal's name without \"SIG\" (TERM, PWR, KILL, "
                "RTMIN+2, ...)";
        return false;
    }
    rule.Command = static_cast<UINT8>(command);
    rule.Nth = static_cast<UINT32>(nth);
    rule.Signal = signal;
    rule.Name = end + 1;
    return true;
}

bool EmuSignalRule_Check(std::string& error) {
    EmuSignalRule rule;
    return EmuSignalRule_Parse(EmuMachine_Get("signal_smi", ""), rule, error);
}
