#include "FuzzKit.h"
#include <cstdarg>
#include <cstdio>
#include "HuxCore.h"

namespace fuzzkit {

static int Quiet(const char* format, ...) {
    char line[1024];
    va_list args;
    va_start(args, format);
    int n = vsnprintf(line, sizeof(line), format, args);
    va_end(args);
    return n;
}

static ENUM_ERR_ID QuietError(ENUM_ERR_ID code) { return code; }

void QuietOutput() {
    WriteOut = Quiet;
    ErrorOut = QuietError;
}

}  // namespace fuzzkit
