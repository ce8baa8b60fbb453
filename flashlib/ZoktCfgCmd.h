// Firmware configuration commands (ZOKT type 0x51): the configuration words
// of the command line are collected into a disable and an enable mask during
// the parse pass, sent during the execute pass, and the firmware's answer
// switches option modules on and off.
#pragma once
#include "HuxCore.h"

#define ZOKT_TC_CFG_P 0x1u
#define ZOKT_TC_CFG_B 0x2u
#define ZOKT_TC_CFG_N 0x4u
#define ZOKT_TC_CFG_K 0x8u
#define ZOKT_TC_CFG_E 0x10u
#define ZOKT_TC_CFG_Q 0x20u
#define ZOKT_TC_CFG_REBOOT 0x40u
#define ZOKT_TC_CFG_X 0x80u
#define ZOKT_TC_CFG_S 0x100u
#define ZOKT_TC_CFG_ECUF 0x200u
#define ZOKT_TC_CFG_SHUTDOWN 0x400u
#define ZOKT_TC_CFG_SETUPRESERVE 0x800u
#define ZOKT_TC_CFG_ROMHOLE 0x1000u
#define ZOKT_TC_CFG_NCB 0x2000u
#define ZOKT_TC_CFG_CLNEVNLOG 0x4000u
#define ZOKT_TC_CFG_R 0x8000u
#define ZOKT_TC_CFG_O 0x10000u
#define ZOKT_TC_CFG_GAN 0x20000u
#define ZOKT_TC_CFG_KN 0x40000u
#define ZOKT_TC_CFG_L 0x80000u
#define ZOKT_TC_CFG_LN 0x100000u
#define ZOKT_TC_CFG_A 0x200000u
#define ZOKT_TC_CFG_OAD 0x400000u
#define ZOKT_TC_CFG_CAPSULE 0x800000u
#define ZOKT_TC_CFG_RECOVERY 0x1000000u
#define ZOKT_TC_CFG_CAF 0x2000000u

// Module id that no module has: a mask bit without module switches nothing.
#define ZOKT_CFG_NO_MODULE static_cast<ENUM_MODULE_ID>(106)

#pragma pack(push, 1)
struct ZOKT_TC_51_DC_STRUCT {
    UINT32 Disable;  // bits of the clearing words
    UINT32 Enable;   // bits of the setting words; 0xFFFFFFFF in an answer: no decision
};
// One selection entry: the K entry (type ZOKT_TC_CFG_KN) or the L entry
// (ZOKT_TC_CFG_LN); type 0 when no number word was given. The selection is
// Bits XOR Mask.
struct ZOKT_DC_EXT_ENTRY {
    UINT32 Type;
    UINT16 Bits;
    UINT16 Mask;
};
struct ZOKT_DC_Ext_Data {
    ZOKT_DC_EXT_ENTRY Kn;
    ZOKT_DC_EXT_ENTRY Ln;
};
#pragma pack(pop)
static_assert(sizeof(ZOKT_TC_51_DC_STRUCT) == 8, "configuration record is 8 bytes");
static_assert(sizeof(ZOKT_DC_EXT_ENTRY) == 8 && offsetof(ZOKT_DC_EXT_ENTRY, Bits) == 4 &&
                  offsetof(ZOKT_DC_EXT_ENTRY, Mask) == 6,
              "selection entry layout");
static_assert(sizeof(ZOKT_DC_Ext_Data) == 16, "selection entries are 16 bytes");

#define ZOKT_CFG_TERMINATOR_OFFSET 0x1E
#define ZOKT_CFG_WAIT_US 1000

// Classifies one word: 1 setting word, -1 clearing word, 0 no configuration
// word; bit is the word's configuration bit (0 when it has none). The word
// itself is never changed. K and L number words also fill the selection entries.
INT16 ZOKT_CfgCmd_Strcmd2Valuecmd(char* word, UINT32& bit);
// Takes the next bit off the mask in the fixed order and gives its module id
// (left as it was for a bit without module); 1 when the mask is now empty.
UINT8 ZOKT_CfgCmd_Valuecmd2ModID(UINT32& bits, ENUM_MODULE_ID& id);
// Sets bit n (0-15) of the selection bits.
void ZOKT_CfgCmd_ValueToBit(int n, UINT16* bits);

// Parse pass: builds the request and collects the masks; clearing words leave
// the argument list. 1 when done, 0 when already done or without memory.
UINT8 ZOKT_InitCfgCmd(TKXArgvList& words);
// Sends the masks, again while unanswered; the answer record (in the
// interface buffer), or null when the firmware never answered, sets
// error-out or changed nothing.
ZOKT_TC_51_DC_STRUCT* ZOKT_RunCfgCmd(ZOKT_TC_51_DC_STRUCT* masks);
// Execute pass: sends the request and switches the items' enabled bytes.
void ZOKT_GetDefsetCfgCmd(TKXQueueItemList& items);

const char* ZOKT_CfgCmd_GetOEMString();
UINT8 ZOKT_CfgCmd_GetRS_ERROR_OUT();
UINT8 ZOKT_CfgCmd_GetRS_DIS_OEMSTR();
void ZOKT_CfgCmd_Release();

// The selection entries as sent or as the firmware answered them; null when
// no number word of that kind was given.
ZOKT_DC_EXT_ENTRY* GetKnEx_HDRData();
ZOKT_DC_EXT_ENTRY* GetLnEx_HDRData();

// The masks collected by the parse pass.
extern ZOKT_TC_51_DC_STRUCT ZOKT_defcmdset;
// The selection entries of the K and L number words, and whether any was given.
extern ZOKT_DC_Ext_Data ZOKT_CfgExtData;
extern UINT8 ZOKT_CfgExtDataEnable;
