// Steps shared by the EC modules ("/ECUF", "/E", "/EC" and the EC-file
// option).
#pragma once
#include "YozGlobal.h"
#include "YozRegionStages.h"
#include "YozRomRecords.h"

// Registration of an EC module: appends its filled queue item, enters its
// module id with `text` into the command table, publishes its filled check
// record through *published and clears the module (`reset`).
ENUM_ERR_ID YOZ_Ec_Register(TKXQueueItemList& items, TKX_QUEUE_ITEM* item, const char* text, CHECK_FUNC_ITEM* record,
                            CHECK_FUNC_ITEM** published, void (*reset)());
// Size check of "/EC" and the EC-file option: an image of the flash's size
// or smaller is allowed, a larger one is 3.
ENUM_ERR_ID YOZ_Ec_NotLargerCheck(INT16 sizeStatus);

// Parse of "/ECUF", "/E" and "/EC": clears the module (`reset`), then claims
// every word equal to `word` together with word 1 (the ROM file); the flag
// store gets the enabled byte. 1 when the option has no ROM file word.
ENUM_ERR_ID YOZ_Ec_ParseWord(TKX_QUEUE_ITEM* item, TKXArgvList& args, const char* word, void (*reset)(),
                             void (*setFlag)(UINT8* enabled));
// Block check of "/E" and "/ECUF" when the system has no EC block: the
// remaining stages are emptied and the result is 0xC6.
ENUM_ERR_ID YOZ_Ec_NoBlock(YOZ_STAGE_SLOTS& slots);
// 0xA3 when the image ends before the end of the EC block [start, start + size).
ENUM_ERR_ID YOZ_Ec_ImageCoversBlock(UINT32 start, UINT32 size);
// The "$NUVEC" header and checksum of the EC image held in `image` (the
// header lines are printed): 0 with the header in *header, 0xA4 when the
// checksum is wrong, 0xAC without a header.
ENUM_ERR_ID YOZ_Ec_CheckImage(UINT8* image, UINT32 size, ZOKT_EC_HDR_STRUCT* header);
// The entry of an EC module in the run's pre-flash walk: its checking
// stages (firmware check, then the file) run ahead, and under secure flash
// the area of `secure` (its runtime form, when it has one) named for the
// run's upload, its policy tested.
ENUM_ERR_ID YOZ_Ec_PreFlash(const TKX_QUEUE_ITEM& item, YOZ_STAGE_SLOTS& slots, const YOZ_REGION_FLASH* secure);
// One help line of an option, in the options pass.
void YOZ_Ec_Help(const TKX_QUEUE_ITEM& item, UINT8 pass, const char* word, const char* line);
// The flash mode of "/EC" (chip id, EC form) or the EC-file option (ECX
// form): YOZ_Ec_Started before its START goes out puts its leaving on the
// run-end list, YOZ_Ec_Left after a confirmed END takes it off. A run that
// ends between the two takes the controller out of the flash mode it may
// have entered when no page or erase went out yet; otherwise, or when its
// exit was not confirmed, a line says that it may still be in flash mode.
void YOZ_Ec_Started(UINT16 chipId, UINT8 ecxForm);
void YOZ_Ec_Left();
