// Console output and the core error table.
#pragma once
#include "HuxErrorId.h"

struct TKX_ERROR_ROW {
    UINT32 Code;
    const char* Message;
};
extern const TKX_ERROR_ROW CoreErrorList[];
extern const UINT32 CoreErrorListSize;

const char* GetCoreErrorString(UINT32 code);
UINT32 TranslateErrorCode(UINT32 code);
// Default WriteOut: standard output, flushed after every call; a leading 'X'
// of the format is dropped. Text from files or the firmware goes through "%s".
int TKXPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Ends a progress line that the default WriteOut left open with "\r", so
// that the next line does not overprint it.
void TKX_EndProgressLine();
// Default ErrorOut: "%x - %s\n" with the code and its message, on a line of
// its own.
ENUM_ERR_ID TKXErrorPrintf(ENUM_ERR_ID code);
