// The init steps, in the order they run.
#include "EmuInitSteps.h"

const EmuInitStep EmuInitSteps[] = {
    nullptr,
};
