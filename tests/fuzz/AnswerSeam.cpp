// A seam without a machine: the SMI port write answers from the fuzz input
// (AnswerSeam.h); files, devices, the shell and other ports are not there.
#include "AnswerSeam.h"
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include "OsSeam.h"

namespace {

uint8_t* g_buffer = nullptr;
size_t g_bufferSize = 0;
const uint8_t* g_answers = nullptr;
size_t g_left = 0;
uint32_t g_requests = 0;
uint64_t g_clockUs = 0;

uint16_t TakeU16() {
    uint16_t v = static_cast<uint16_t>(g_answers[0] | g_answers[1] << 8);
    g_answers += 2;
    g_left -= 2;
    return v;
}

void Answer() {
    ++g_requests;
    if (g_buffer == nullptr || g_left < 4) {
        g_left = 0;
        return;
    }
    size_t offset = TakeU16();
    size_t length = TakeU16();
    if (length > g_left) length = g_left;
    if (offset < g_bufferSize) {
        size_t room = g_bufferSize - offset;
        memcpy(g_buffer + offset, g_answers, length < room ? length : room);
    }
    g_answers += length;
    g_left -= length;
}

}  // namespace

namespace answerseam {

void Begin(uint8_t* interfaceBuffer, size_t bufferSize, const uint8_t* answers, size_t size) {
    g_buffer = interfaceBuffer;
    g_bufferSize = bufferSize;
    g_answers = answers;
    g_left = size;
    g_requests = 0;
}

uint32_t Requests() { return g_requests; }

}  // namespace answerseam

int OsSeam_SetIoPrivilege(int) { return 0; }
// Only software SMIs carry a register set.
void OsSeam_OutByteRegs(UINT16, UINT8, TKX_GeneralPurposeRegisterBuffer&) { Answer(); }
UINT8 OsSeam_InByte(UINT16) { return 0xFF; }
UINT16 OsSeam_InWord(UINT16) { return 0xFFFF; }
UINT32 OsSeam_InDword(UINT16) { return 0xFFFFFFFF; }
void OsSeam_OutByte(UINT16, UINT8) {}
void OsSeam_OutWord(UINT16, UINT16) {}
void OsSeam_OutDword(UINT16, UINT32) {}
UINT64 OsSeam_Rdtsc() { return g_clockUs * 1000; }
void OsSeam_DelayUs(UINT32 us) { g_clockUs += us; }
// System paths lead nowhere.
std::string OsSeam_Path(const char* systemPath) {
    if (systemPath == nullptr) return "";
    return systemPath[0] == '/' ? std::string("/nonexistent") + systemPath : systemPath;
}
std::string OsSeam_ShellText(const char* command) { return command != nullptr ? command : ""; }
// No kernel to load a driver into.
std::string OsSeam_KernelRelease() { return ""; }
int OsSeam_LoadModule(int) {
    errno = ENOSYS;
    return -1;
}
int OsSeam_UnloadModule(const char*) {
    errno = ENOENT;
    return -1;
}
int OsSeam_OpenDriverNode(const char*, int) {
    errno = ENODEV;
    return -1;
}
int OsSeam_Mknod(const char*, unsigned int, unsigned long long) { return -1; }
int OsSeam_Ioctl(int, unsigned long, void*) { return -1; }
int OsSeam_Close(int fd) { return close(fd); }
UINT64 OsSeam_FsType(const char*) { return 0; }
FILE* OsSeam_CreateFile(const char*) {
    errno = EACCES;
    return nullptr;
}
int OsSeam_System(const char*) { return -1; }
FILE* OsSeam_Popen(const char*, const char*) { return nullptr; }
int OsSeam_Pclose(FILE*) { return -1; }
void OsSeam_Start() {}
