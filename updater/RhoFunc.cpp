// The hole-to-file processor ("/HOLEOUT:"): one hole of the system ROM,
// named by GUID, saved to a file.
#include "TKXFile.h"
#include "YozFlash.h"
#include "YozHoleProc.h"

UINT8 gRHOF_RomHole_TheSame = 0;

static const UINT32 kPiece = 0x10000;

_ROMHOLEREC* RHO_Proc_CompRHREC(EFI_GUID* guid, _ROMHOLEREC* list) {
    return RHP_FindHole(guid, list, YOZ_MAX_ROMHOLE, &gRHOF_RomHole_TheSame);
}

_ROMHOLEREC* RHO_Proc_CompOtherRHREC(EFI_GUID* guid, _ROMHOLEREC* list, int n) {
    return RHP_FindHole(guid, list, n > 0 ? static_cast<UINT32>(n) : 0, nullptr);
}

// The hole's payload (its data after the FFS header) from file offset 0; the
// new file takes its name only when written whole (after a failure the
// run's end discards it).
ENUM_ERR_ID RHO_Proc_RomHoleWriteToFile(FILE* file, UINT8* image, _ROMHOLEREC* record) {
    UINT32 size = 0;
    if (image == nullptr || !RHP_PayloadRoom(record, YOZ_FFS_HEADER_SIZE, &size)) return eEID_NOT_MATCH_NCB;
    UINT8* data = image + record->RomOffset + YOZ_FFS_HEADER_SIZE;
    for (UINT32 done = 0; done < size;) {
        UINT32 piece = size - done < kPiece ? size - done : kPiece;
        if (TKX_WriteFile(file, done, piece, data + done) != piece) return eEID_WRITE_FILE;
        done += piece;
    }
    YOZ_CallBack_Save(YOZ_PROGRESS_CLOSE, 0, 0);
    // A write the close finds failed (a full disk) is reported too.
    return TKX_CommitNewFile(file);
}
