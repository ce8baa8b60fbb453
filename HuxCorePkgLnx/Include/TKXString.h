// String and memory helpers and the option matcher shared by every module.
#pragma once
#include "HuxTypes.h"

// 1 when the argument is the option word (both cut to 63 characters).
UINT8 IdentifyArg(const char* argument, const char* option, UINT8 ignoreCase);
// Matches the leading prefix of a word that carries a value ("/CMD:...").
// Returns the value text after the prefix, or nullptr when it does not match.
const char* IdentifyArgPrefix(const char* argument, const char* prefix);

void StrToLow(char* s);
void StrToUpper(char* s);
void MemSet(void* p, UINT8 value, UINT32 n);
void MemCpy(void* dst, const void* src, UINT32 n);
// 1 when the n bytes are equal (n = 0 gives 1); not a three-way compare.
UINT8 MemCmp(const void* a, const void* b, UINT32 n);
UINT32 StringLength(const char* s);
// Copies the characters of src without the terminating zero.
void StringCopy(char* dst, const char* src);
int CompareString(const char* a, const char* b);
// First match of the pattern; a match ending on the buffer's last byte is missed.
void* SearchPattern(void* buffer, UINT32 size, const void* pattern, UINT32 length);

// Bounded copy for text from the command line, a file or the firmware into a
// fixed buffer: copies at most maxChars characters and always terminates
// (dst must hold maxChars + 1 bytes). Returns the number of characters copied.
UINT32 TKX_BoundedCopy(char* dst, const char* src, UINT32 maxChars);
