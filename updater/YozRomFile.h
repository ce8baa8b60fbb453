// ROM image file model: the state the option modules read.
#pragma once
#include "HuxTypes.h"

// ROM file name from the command line (not owned), null until a module
// takes one.
extern char* YOZ_pFileName;
