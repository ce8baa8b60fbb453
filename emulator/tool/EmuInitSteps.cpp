// The init steps, in the order they run.
#include "EmuInitSteps.h"
#include "EmuAcpi.h"

const EmuInitStep EmuInitSteps[] = {
    EmuAcpi_Layout,
    EmuAsf_Layout,
    EmuInit_NmiWatchdog,
    nullptr,
};
