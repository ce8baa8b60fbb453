// Default printers and error-table lookups.
#include <cstdarg>
#include <cstdio>
#include <vector>
#include "HuxCore.h"
#include "TKXOutput.h"

const char* GetCoreErrorString(UINT32 code) {
    for (UINT32 i = 0; i < CoreErrorListSize; ++i) {
        if (CoreErrorList[i].Code == code) return CoreErrorList[i].Message;
    }
    return "Unknown Error...";
}

UINT32 TranslateErrorCode(UINT32 code) { return code; }

// Set while the last text printed ended with "\r": a progress line that
// the next text would overprint.
static bool s_ProgressLineOpen = false;

int TKXPrintf(const char* format, ...) {
    if (format == nullptr) return 0;
    if (format[0] == 'X') ++format;
    va_list ap;
    va_start(ap, format);
    va_list again;
    va_copy(again, ap);
    char small[512];
    int n = vsnprintf(small, sizeof(small), format, ap);
    va_end(ap);
    if (n > 0) {
        std::vector<char> large;
        const char* text = small;
        if (static_cast<size_t>(n) >= sizeof(small)) {
            large.resize(static_cast<size_t>(n) + 1);
            vsnprintf(large.data(), large.size(), format, again);
            text = large.data();
        }
        fwrite(text, 1, static_cast<size_t>(n), stdout);
        s_ProgressLineOpen = text[n - 1] == '\r';
    }
    va_end(again);
    fflush(stdout);
    return n;
}

void TKX_EndProgressLine() {
    if (s_ProgressLineOpen) WriteOut("\n");
}

ENUM_ERR_ID TKXErrorPrintf(ENUM_ERR_ID code) {
    code = static_cast<ENUM_ERR_ID>(TranslateErrorCode(code));
    TKX_EndProgressLine();
    WriteOut("%x - %s\n", static_cast<unsigned>(code), GetCoreErrorString(code));
    return code;
}
