// The module framework: argument items, queue items, the run status, the
// replaceable printers and the entry points of the start-up road.
#pragma once
#include "HuxTypes.h"
#include "HuxErrorId.h"
#include "HuxModuleId.h"
#include "TKXList.h"

struct TKX_QUEUE_ITEM;

// One command-line word.
struct TKX_ARGV_ITEM {
    char* text;          // argv's own pointer (or an owned copy when fromTrailer is set)
    UINT8 claimed;       // set by the module that consumes the word
    UINT8 fromTrailer;   // word added from the trailer's default command line
    const TKX_QUEUE_ITEM* claimedBy = nullptr;  // the module whose parse claimed it (noted by the parse pass)
};
typedef TKXList<TKX_ARGV_ITEM*> TKXArgvList;

typedef TKXList<TKX_QUEUE_ITEM*> TKXQueueItemList;

typedef ENUM_ERR_ID (*ParsingCommandFunctionT)(TKXArgvList& args, TKX_QUEUE_ITEM* self);
typedef ENUM_ERR_ID (*ExecutionActionFunctionT)(TKXQueueItemList& items);
typedef void (*CommandHelpT)(UINT8 pass);
typedef void (*OnErrorFunctionT)();

// Registration record of one option module; each module owns one static record.
struct TKX_QUEUE_ITEM {
    UINT32 ModuleId;                              // ENUM_MODULE_ID
    ParsingCommandFunctionT ParsingCommandFunction;
    ExecutionActionFunctionT ExecutionActionFunction;
    CommandHelpT CommandHelp;
    OnErrorFunctionT OnErrorFunction;
    UINT8 Enabled;       // the execute pass runs the module only when exactly 1
    UINT8 StopParse;     // when 1 and enabled, the parse pass ends after this module
    UINT16 OrderKey;     // written at registration, read by nothing
    UINT8 ModeMask;      // handed by the module itself to the mode filter
    UINT8 RegionOpen;    // set by the modules that open a region of the ROM file
};

// Hook types of the build's hook tables.
typedef void (*InitGlobalVariableHook)();
typedef void (*HuxEarlyInitHook)(TKXArgvList& args, UINT8& IfConti);
typedef ENUM_ERR_ID (*RegisterQueueItemFunction)(TKXQueueItemList& items);
typedef BOOLEAN (*TKXGuiInitHook)(int argc, char** argv, TKXArgvList& args, TKXQueueItemList& items);
typedef void (*CleanUpResourceHook)();
typedef BOOLEAN (*DriverLoader)(TKXArgvList& args, UINT32 loadedSoFar);
typedef void (*DriverUnloader)(TKXArgvList& args);

// Printers.
typedef int (*WriteOutT)(const char* format, ...);
typedef ENUM_ERR_ID (*ErrorOutT)(ENUM_ERR_ID code);
typedef void (*PrintUsageHelpT)(char* word, char* errorText, TKXQueueItemList& items);

extern WriteOutT WriteOut;
extern ErrorOutT ErrorOut;
extern PrintUsageHelpT PrintUsageHelp;

// Run state.
extern UINT32 g_LastErrorCode;
extern TKXArgvList ArgvItemList;
extern TKXQueueItemList QueueItemList;

// Start-up road. HuxRunRoad runs it whole and never returns; a test build may
// change the module table in beforeModuleInit (null: nothing).
[[noreturn]] void HuxRunRoad(int argc, char** argv, void (*beforeModuleInit)());
void InitializeLibs();
void HuxGlobalVariableInit();
void PutArgvIntoList(TKXArgvList& list, int argc, char** argv);
void HuxEarlyInit(TKXArgvList& args, UINT8& IfConti);
ENUM_ERR_ID PlatformInitialize(TKXArgvList& args);
[[noreturn]] void PlatformFinalize(TKXArgvList& args);
UINT32 HuxDriverInit(TKXArgvList& args);
void HuxDriverRelease(TKXArgvList& args);
ENUM_ERR_ID HuxModuleInit(TKXQueueItemList& items);
BOOLEAN HuxGuiInit(int argc, char** argv, TKXArgvList& args, TKXQueueItemList& items);
void ParseUserInput();
void ExecuteEnabledModules();
// Runs the two passes and the command-line check; never returns.
[[noreturn]] void HuxRunModules();
[[noreturn]] void TerminateWithoutExecution(char* word);
// The usage, then the line that says why the command line is refused
// (status 1), then the shutdown path.
[[noreturn]] void HuxRefuseCommandLine(const char* why);
void CleanAll();
void HuxResourceRelease();
// Ends the process at once with the status (output flushed first).
[[noreturn]] void HuxExitProcess(UINT32 status);

// Printer initialisers run by the global-variable hooks.
void WriteOutInit();
void ErrorOutInit();
void InitWriteOut();
void InitErrorOut();

// The fixed build name the usage lines print ("yozmfglnx_64" or "yozmfglnx_32").
const char* HuxProgramName();
