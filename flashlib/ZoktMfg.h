// Manufacturing option names (ZOKT record type 0x71): in manufacturing mode
// the firmware supplies a table of hidden option words, each with an id and
// a help text; option modules look their word up by id.
#pragma once
#include "HuxTypes.h"

#define ZOKT_TC_YOZMFG_OK 1
#define ZOKT_TC_YOZMFG_ERROR 2

#define ZOKT_YOZMFG_WORD_SIZE 16
#define ZOKT_YOZMFG_HELP_SIZE 256

#pragma pack(push, 1)
// 13 bytes in the 64-bit build, 9 in the 32-bit build.
struct ZOKT_YOZMFG_STRUCT {
    UINT8 Request;      // 0 in the request
    UINT8 TableOffset;  // answer: offset of the table from the start of this record
    UINT8 Status;       // answer: ZOKT_TC_YOZMFG_OK in manufacturing mode
    UINT16 Count;       // answer: table entries
    UINT8* pTable;      // the table the program copied from
};

// One table entry, 273 bytes.
struct ZOKT_YOZMFG_CMD {
    UINT8 Id;
    char Word[ZOKT_YOZMFG_WORD_SIZE];   // the whole option word, "/" included
    char Help[ZOKT_YOZMFG_HELP_SIZE];
};
#pragma pack(pop)
static_assert(sizeof(ZOKT_YOZMFG_STRUCT) == 5 + sizeof(void*), "manufacturing record: 13 or 9 bytes");
static_assert(offsetof(ZOKT_YOZMFG_STRUCT, Count) == 3 && offsetof(ZOKT_YOZMFG_STRUCT, pTable) == 5,
              "manufacturing record layout");
static_assert(sizeof(ZOKT_YOZMFG_CMD) == 273 && offsetof(ZOKT_YOZMFG_CMD, Help) == 17,
              "manufacturing table entry is 273 bytes");

// Asks the firmware for its table and keeps a copy; 1 in manufacturing mode.
UINT8 ZOKT_YOZMFG_Support();
// The option word of the first entry with the id, all of its up to 16
// characters, terminated (a copy that the next lookup replaces); null
// without table, without entry, or when the word is empty.
const char* ZOKT_YOZMFG_GetCmdString(UINT8 id);
// Forgets the record and return status and frees the table.
void ZOKT_YOZMFG_Release();

// The kept answer record, return status and table.
extern ZOKT_YOZMFG_STRUCT gZOKT_YOZMFG;
extern UINT16 gZOKT_YOZMFG_ReturnStatus;
extern ZOKT_YOZMFG_CMD* pMFGCmdList;
