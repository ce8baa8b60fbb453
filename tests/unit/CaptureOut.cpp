#include "CaptureOut.h"
#include <cstdarg>
#include <cstdio>
#include <stdio_ext.h>
#include <unistd.h>
#include "HuxCore.h"

namespace unit {

std::string g_Out;

int CaptureOut(const char* format, ...) {
    char buf[4096];
    va_list ap;
    va_start(ap, format);
    int n = vsnprintf(buf, sizeof(buf), format, ap);
    va_end(ap);
    g_Out += buf;
    return n;
}

CapturedOut::CapturedOut() : saved_(reinterpret_cast<void*>(WriteOut)) {
    g_Out.clear();
    WriteOut = CaptureOut;
}
CapturedOut::~CapturedOut() { WriteOut = reinterpret_cast<WriteOutT>(saved_); }
const std::string& CapturedOut::Text() const { return g_Out; }
void CapturedOut::Clear() { g_Out.clear(); }

FedStdin::FedStdin(const std::string& keys) : saved_(dup(0)) {
    int p[2];
    if (pipe(p) != 0) return;
    if (write(p[1], keys.data(), keys.size()) != static_cast<ssize_t>(keys.size())) perror("pipe write");
    close(p[1]);
    dup2(p[0], 0);
    close(p[0]);
    __fpurge(stdin);
    clearerr(stdin);
}
FedStdin::~FedStdin() {
    dup2(saved_, 0);
    close(saved_);
    __fpurge(stdin);
    clearerr(stdin);
}

}  // namespace unit
