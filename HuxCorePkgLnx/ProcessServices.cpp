// Small process services: single-key input, delays, the time-stamp counter
// and the file-name services.
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <libgen.h>
#include <termios.h>
#include <unistd.h>
#include "OsSeam.h"
#include "TKXPhysMem.h"
#include "TKXPortIo.h"
#include "TKXSignal.h"

namespace {
const UINT32 kPathBufferSize = 4096;
char ExecBinPath[kPathBufferSize];
}  // namespace

int getch() {
    struct termios saved;
    bool terminal = tcgetattr(STDIN_FILENO, &saved) == 0;
    if (terminal) {
        struct termios raw = saved;
        raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
        tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    }
    // One byte straight from the descriptor: nothing is held back in a buffer.
    // An ending signal ends the wait: the run then leaves, with the terminal
    // as it was.
    unsigned char c;
    int result = EOF;
    if (TKX_WaitForInput(STDIN_FILENO)) result = read(STDIN_FILENO, &c, 1) == 1 ? c : EOF;
    if (terminal) tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    TKX_LeaveOnEndSignal();
    return result;
}

void Delay(UINT32 us) { OsSeam_DelayUs(us); }

UINT64 CPU_rdtsc() { return OsSeam_Rdtsc(); }

UINT8 TKX_GetFileBaseName(char* path, char* out, UINT32 max) {
    const char* base = basename(path);
    size_t length = strlen(base);
    if (length + 1 > max) return 0;
    memcpy(out, base, length + 1);
    return 1;
}

char* TKX_GetExecFileFullName() {
    // One byte is kept for the terminator.
    ssize_t n = readlink("/proc/self/exe", ExecBinPath, sizeof(ExecBinPath) - 1);
    ExecBinPath[n > 0 ? n : 0] = '\0';
    return ExecBinPath;
}

char* TKX_GetFileFullPathName(const char* path) {
    static_assert(PATH_MAX <= kPathBufferSize, "realpath writes at most PATH_MAX bytes");
    char* buffer = reinterpret_cast<char*>(AllocMem(kPathBufferSize));
    if (buffer == nullptr) return nullptr;
    if (realpath(path, buffer) == nullptr) {
        FreeMem(buffer);
        return nullptr;
    }
    return buffer;
}
