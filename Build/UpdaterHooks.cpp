// The module hooks the updater's global items run.
#include "UpdaterHooks.h"
#include "EspCopyLnx.h"

YozGlobalResetHook YozGlobalParseResetHooks[YOZ_GLOBAL_RESET_SLOTS] = {InitCopyRecoveryFile, nullptr};
YozGlobalResetHook YozGlobalExecuteStartHooks[YOZ_GLOBAL_START_SLOTS] = {SweepESPLeftovers, nullptr};
