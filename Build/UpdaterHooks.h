// Hooks of the option modules that the updater's global items run: the
// updater cannot see the modules above it, so the build hands them in.
#pragma once

typedef void (*YozGlobalResetHook)();

// Run, in order, by the global item when it parses: state of the modules
// above the updater that every run starts clean (the recovery-image copy).
// Ends at its first empty slot.
#define YOZ_GLOBAL_RESET_SLOTS 2
extern YozGlobalResetHook YozGlobalParseResetHooks[YOZ_GLOBAL_RESET_SLOTS];

// Run, in order, by the global item when it executes, at the start of the
// execute pass: what earlier runs may have left where this program writes
// (the recovery copy's partition). Ends at its first empty slot.
#define YOZ_GLOBAL_START_SLOTS 2
extern YozGlobalResetHook YozGlobalExecuteStartHooks[YOZ_GLOBAL_START_SLOTS];
