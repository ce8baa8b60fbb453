// Single-quoting for the shell: blanks and metacharacters in the text stay
// literal; a quote inside is closed, escaped and reopened.
#include "TKXShell.h"

UINT8 TKX_ShellQuote(char* out, UINT32 max, const char* text) {
    UINT32 n = 0;
    auto put = [&](char c) {
        if (n + 1 >= max) return false;
        out[n++] = c;
        return true;
    };
    bool ok = put('\'');
    for (const char* p = text; ok && *p != '\0'; ++p) {
        if (*p == '\'') ok = put('\'') && put('\\') && put('\'') && put('\'');
        else ok = put(*p);
    }
    ok = ok && put('\'');
    if (max > 0) out[ok ? n : 0] = '\0';
    return ok ? 1 : 0;
}
