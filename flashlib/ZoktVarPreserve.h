// Setup and DMI (SMBIOS) preservation (ZOKT record type 0x56): the firmware
// stores its setup or DMI variables before a flash and restores them after.
#pragma once
#include "HuxErrorId.h"
#include "HuxTypes.h"

// Functions of the record.
#define ZOKT_TC_SETUP_SUPPORT 0x01
#define ZOKT_TC_SETUP_STORE 0x02
#define ZOKT_TC_SETUP_RESTORE 0x04
#define ZOKT_TC_DMI_STORE 0x08
#define ZOKT_TC_DMI_RESTORE 0x10
// Record status of an answer that says the firmware has no such support.
#define ZOKT_RS_SETUP_UNSUPPORTED 0x02

#pragma pack(push, 1)
struct ZOKT_SETUP_STRUCT {
    UINT8 Function;
    UINT8 Status;  // answer: one value
};
#pragma pack(pop)
static_assert(sizeof(ZOKT_SETUP_STRUCT) == 2, "setup record is 2 bytes");

// One request with the function; the answer as an error id (0 done, 0x9C
// not supported, 0x9D, 0x9E, 0xAF, 0xB0, 0x22).
ENUM_ERR_ID ZOKT_SWSMI_SETUP(UINT8 function);

// 1 when done; the result is kept for ZOKT_VarPreserve_GetLastErrorID. A
// restore that is refused or not answered is 0x9E (setup) or 0xB0 (DMI).
UINT8 ZOKT_VarPreserve_Support();
UINT8 ZOKT_VarPreserve_SetupVarStore();
UINT8 ZOKT_VarPreserve_SetupVarReStore();
UINT8 ZOKT_VarPreserve_DMIVarStore();
UINT8 ZOKT_VarPreserve_DMIVarReStore();
ENUM_ERR_ID ZOKT_VarPreserve_GetLastErrorID();
// 1 when the last request was answered, and the answer says the firmware has
// no such support (0 also when it was not answered at all).
// A store without answer (Zokt_LastOutcome eZOKT_UNANSWERED) may have been
// carried out.
UINT8 ZOKT_VarPreserve_Unsupported();
