// The init steps, in the order they run.
#include "EmuInitSteps.h"
#include "EmuAcpi.h"
#include "EmuDriverInit.h"
#include "EmuEcb.h"
#include "EmuEsp.h"
#include "EmuFlashSettings.h"
#include "EmuSignalRule.h"
#include "EmuZoktFaults.h"

const EmuInitStep EmuInitSteps[] = {
    EmuInit_PresentMemory,
    EmuAcpi_Layout,
    EmuAsf_Layout,
    EmuInit_NmiWatchdog,
    EmuEcb_Layout,
    EmuFlashSettings_Check,
    EmuSignalRule_Check,
    EmuZoktFaults_CheckSetting,
    EmuInit_KernelTree,
    EmuInit_EfiVars,
    EmuEsp_Layout,
    nullptr,
};
