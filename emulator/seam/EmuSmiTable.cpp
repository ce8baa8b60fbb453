// The emulated firmware's SMI handlers by command byte.
#include "EmuSmi.h"

const EmuSmiHandlerEntry EmuSmiHandlers[] = {
    {0, nullptr},
};
