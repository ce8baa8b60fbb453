// Shared string and memory helpers and the option matcher.
#include "TKXString.h"
#include <cstring>

// The matcher's two buffers are shared by every call (it is not re-entrant).
static char s_ArgBuffer[64];
static char s_OptBuffer[64];

UINT32 TKX_BoundedCopy(char* dst, const char* src, UINT32 maxChars) {
    UINT32 n = 0;
    if (src != nullptr) {
        while (n < maxChars && src[n] != '\0') {
            dst[n] = src[n];
            ++n;
        }
    }
    dst[n] = '\0';
    return n;
}

UINT8 IdentifyArg(const char* argument, const char* option, UINT8 ignoreCase) {
    MemSet(s_ArgBuffer, 0, sizeof(s_ArgBuffer));
    MemSet(s_OptBuffer, 0, sizeof(s_OptBuffer));
    TKX_BoundedCopy(s_ArgBuffer, argument, 63);
    TKX_BoundedCopy(s_OptBuffer, option, 63);
    if (ignoreCase == 1) {
        StrToLow(s_ArgBuffer);
        StrToLow(s_OptBuffer);
    }
    return CompareString(s_ArgBuffer, s_OptBuffer) == 0 ? 1 : 0;
}

const char* IdentifyArgPrefix(const char* argument, const char* prefix) {
    if (argument == nullptr || prefix == nullptr) return nullptr;
    char head[64] = {0};
    UINT32 len = StringLength(prefix);
    if (len > 63) len = 63;
    UINT32 n = 0;
    while (n < len && argument[n] != '\0') {
        head[n] = argument[n];
        ++n;
    }
    if (n < len || IdentifyArg(head, prefix, 1) != 1) return nullptr;
    return argument + len;
}

void StrToLow(char* s) {
    if (s == nullptr) return;
    for (; *s != '\0'; ++s) {
        if (*s >= 'A' && *s <= 'Z') *s = static_cast<char>(*s - 'A' + 'a');
    }
}

void StrToUpper(char* s) {
    if (s == nullptr) return;
    for (; *s != '\0'; ++s) {
        if (*s >= 'a' && *s <= 'z') *s = static_cast<char>(*s - 'a' + 'A');
    }
}

// The block helpers move whole flash blocks on every request: they use the C
// library's routines. MemCpy tolerates overlapping ranges.
void MemSet(void* p, UINT8 value, UINT32 n) { memset(p, value, n); }

void MemCpy(void* dst, const void* src, UINT32 n) { memmove(dst, src, n); }

UINT8 MemCmp(const void* a, const void* b, UINT32 n) { return memcmp(a, b, n) == 0 ? 1 : 0; }

UINT32 StringLength(const char* s) {
    UINT32 n = 0;
    if (s == nullptr) return 0;
    while (s[n] != '\0') ++n;
    return n;
}

void StringCopy(char* dst, const char* src) {
    if (dst == nullptr || src == nullptr) return;
    for (; *src != '\0'; ++src, ++dst) *dst = *src;
}

int CompareString(const char* a, const char* b) {
    while (*a != '\0' && *a == *b) {
        ++a;
        ++b;
    }
    return static_cast<signed char>(*a) - static_cast<signed char>(*b);
}

void* SearchPattern(void* buffer, UINT32 size, const void* pattern, UINT32 length) {
    if (buffer == nullptr || pattern == nullptr || length > size) return nullptr;
    UINT8* p = static_cast<UINT8*>(buffer);
    UINT8* limit = p + size;
    for (; p + length < limit; ++p) {
        if (MemCmp(p, pattern, length) == 1) return p;
    }
    return nullptr;
}
