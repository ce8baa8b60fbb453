// Default printers and error-table lookups.
#include <cstdarg>
#include <cstdio>
#include "HuxCore.h"
#include "TKXOutput.h"

const char* GetCoreErrorString(UINT32 code) {
    for (UINT32 i = 0; i < CoreErrorListSize; ++i) {
        if (CoreErrorList[i].Code == code) return CoreErrorList[i].Message;
    }
    return "Unknown Error...";
}

UINT32 TranslateErrorCode(UINT32 code) { return code; }

int TKXPrintf(const char* format, ...) {
    if (format == nullptr) return 0;
    if (format[0] == 'X') ++format;
    va_list ap;
    va_start(ap, format);
    int n = vprintf(format, ap);
    va_end(ap);
    fflush(stdout);
    return n;
}

ENUM_ERR_ID TKXErrorPrintf(ENUM_ERR_ID code) {
    code = static_cast<ENUM_ERR_ID>(TranslateErrorCode(code));
    WriteOut("%x - %s\n", static_cast<unsigned>(code), GetCoreErrorString(code));
    return code;
}
