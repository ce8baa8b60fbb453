// Configuration records of the program's trailer: the version text, the
// embedded ROM image, the default command line and the command enable table,
// and the state the option modules read.
#pragma once
#include <cstddef>
#include "HuxCore.h"

// OEM version text from the trailer's "@VER" record: null when the trailer
// records were not loaded, empty when the record is absent or empty.
extern char* YOZ_pUCPOEMVerString;

#pragma pack(push, 1)
// One entry of the "@DIS" command enable table.
struct ZOZ_DIS_CMD_DATA {
    UINT8 Shown;         // 0 removes the command
    UINT8 Attributes;    // 0 hides the command's help; bit 0x02 marks status 3
    char Name[16];       // command name without the leading "/", NUL-padded
    UINT8 Reserved[272];
};
#pragma pack(pop)
static_assert(sizeof(ZOZ_DIS_CMD_DATA) == 290, "enable-table entry is 290 bytes");
static_assert(offsetof(ZOZ_DIS_CMD_DATA, Name) == 2, "name at 2");

// "@DIS" payload: u16 entry count at offset 2, entries from offset 16.
const UINT32 ZOZ_DIS_COUNT_OFFSET = 2;
const UINT32 ZOZ_DIS_ENTRIES_OFFSET = 16;

// Command status: 1 shown, 0 removed, 2 help hidden, 3 shown with attribute bit 0x02.
enum : UINT8 {
    ZOZ_CMD_REMOVED = 0,
    ZOZ_CMD_SHOWN = 1,
    ZOZ_CMD_HELP_HIDDEN = 2,
    ZOZ_CMD_SHOWN_ATTR = 3,
};

// One entry of the command status table, indexed by module id.
struct ZOZ_CMD_STATUS {
    UINT32 ModuleId;
    char Name[16];       // registered text, lower-cased, "/" included; empty when unregistered
    UINT8 Status;
    UINT8 Spare[3];
};
static_assert(sizeof(ZOZ_CMD_STATUS) == 24, "status entry is 24 bytes");

const UINT32 ZOZ_CMD_STATUS_COUNT = 106;
extern ZOZ_CMD_STATUS ZozCmdStatusList[ZOZ_CMD_STATUS_COUNT];

// The most a record other than the image may hold unpacked: "@VER" and
// "@CMD" what a command line can use, "@DIS" one entry for each command.
const UINT32 ZOZ_TEXT_MAX_SIZE = 0x1000;
const UINT32 ZOZ_DIS_MAX_SIZE = ZOZ_DIS_ENTRIES_OFFSET + ZOZ_CMD_STATUS_COUNT * sizeof(ZOZ_DIS_CMD_DATA);

// Installs the image and command-line loaders.
void YOZ_ZOZ_Init();
// Loads "@VER" (its text given back through `version`), "@ROM" into the
// caller's image and size, then merges "@CMD" into the argument list.
void YOZ_ZOZ_Load(TKXArgvList& args, char*& version, UINT8*& image, UINT32& size);
// A new buffer (FreeMem) with the record's payload, unpacked when stored
// compressed, with one zero byte after it; `size` is the payload size.
// 0 when the record is missing, damaged, larger than its kind may be
// (ZOZ_TEXT_MAX_SIZE, ZOZ_DIS_MAX_SIZE) or memory runs out.
UINT8 YOZ_ZOZ_GetData(const char* signature, UINT8*& data, UINT32& size);
void YOZ_ZOZ_LoadVerString();
void YOZ_ZOZ_LoadROMFileImage(UINT8*& image, UINT32& size);
void YOZ_ZOZ_LoadRunCmdString(TKXArgvList& args);
// 1 when word 1 is the embedded image's name that the trailer put before
// the options typed alone: no word the operator gave.
UINT8 YOZ_ZOZ_ImageNameBeforeOptions(TKXArgvList& args);
// The number of words the run was given, without that name: an information
// command typed alone stays alone beside the embedded image.
UINT32 YOZ_ZOZ_GivenWordCount(TKXArgvList& args);

// Enters a command under its module id (ids of 106 and more are ignored).
void YOZ_ZOZ_RegisterModule(ENUM_MODULE_ID id, const char* text);
// Reads "@DIS" into the status table.
void YOZ_ZOZ_LoadCmdStatus();
UINT8 YOZ_ZOZ_CmdStatus(const ZOZ_DIS_CMD_DATA& entry);
// Applies the trailer's command enable table to the registered queue items.
void YOZ_ZOZ_CheckCommand(TKXQueueItemList& items);
