// Configuration records of the program's trailer: the state the option
// modules read.
#pragma once
#include "HuxTypes.h"

// OEM version text from the trailer's "@VER" record: null when the trailer
// records were not loaded, empty when the record is absent or empty.
extern char* YOZ_pUCPOEMVerString;

#include "HuxCore.h"
// Applies the trailer's command enable table to the registered queue items.
void YOZ_ZOZ_CheckCommand(TKXQueueItemList& items);
// Enters a module and its option word in the command status table.
void YOZ_ZOZ_RegisterModule(ENUM_MODULE_ID id, const char* text);
