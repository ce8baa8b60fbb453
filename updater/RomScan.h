// Bounded searches over ROM buffers, shared by the image and system models.
// Every search takes the buffer's length and never reads past it.
#pragma once
#include "HuxCore.h"
#include "YozRomRecords.h"

#define ROMSCAN_NONE 0xFFFFFFFFu

// Stored forms of the GUIDs the models look for.
extern const UINT8 kGuidFfs2[16];
extern const UINT8 kGuidFfs3[16];
extern const UINT8 kGuidFidFile[16];
extern const UINT8 kGuidFidSection[16];
extern const UINT8 kGuidRomHole0[16];
extern const UINT8 kGuidSlpKey[16];
extern const UINT8 kGuidSlpMarker[16];
extern const UINT8 kGuidDmi[16];
extern const UINT8 kGuidOa31[16];
extern const UINT8 kGuidCapsuleHeader[16];
extern const UINT8 kGuidCapsuleFile[16];
extern const UINT8 kGuidCapsuleSection[16];
extern const UINT8 kGuidMeFirst[16];
extern const UINT8 kGuidLayoutFile[16];
extern const UINT8 kGuidLayoutSection[16];

// Offset of the first match of the pattern starting in [from, size), or ROMSCAN_NONE.
UINT32 RomScan_Find(const UINT8* buf, UINT32 size, UINT32 from, const void* pattern, UINT32 length);
// Offset of the last match starting in [1, before), or ROMSCAN_NONE (offset 0 never matches).
UINT32 RomScan_FindBack(const UINT8* buf, UINT32 size, UINT32 before, const void* pattern, UINT32 length);
// Firmware-ID file: the file GUID with the section GUID 28 bytes further, at an
// offset below size - 130; 0 when absent.
UINT32 RomScan_FidFileOffset(const UINT8* buf, UINT32 size);
UINT16 RomScan_Get16(const UINT8* p);
UINT32 RomScan_Get24(const UINT8* p);
UINT32 RomScan_Get32(const UINT8* p);
// The scan limit for a buffer: the smaller of the flash size and what the
// buffer holds, when the buffer is the loaded image, the rebuilt capsule
// image or the flash copy.
UINT32 RomScan_Limit(const UINT8* buf);
// Validates a "$FID" record at rec (avail bytes readable): version > 3 records
// need 0x47 <= size <= 1024, the record inside the buffer and the key inside
// the record. Returns the record size or 0.
UINT32 RomScan_FidRecordSize(const UINT8* rec, UINT32 avail);
