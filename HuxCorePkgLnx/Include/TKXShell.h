// Quoting of operator-given text for shell commands.
#pragma once
#include "HuxTypes.h"

// Writes text as one single-quoted shell word ('it'\''s') into out (max bytes
// with the terminator). Returns 0, with out empty, when it does not fit.
UINT8 TKX_ShellQuote(char* out, UINT32 max, const char* text);
