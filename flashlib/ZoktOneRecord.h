// Helpers of the one-record ZOKT requests: build the headers around a single
// record and read the answer's descriptor fields.
#pragma once
#include "TKXString.h"
#include "ZoktFormat.h"

// Descriptor with the type's function bit, one extension header and the
// terminator behind one record; returns the record (request + 0x16).
inline UINT8* Zokt_BuildOneRecord(UINT8* request, UINT32 functionSelect, UINT8 type) {
    Zokt_Desc_Header(request, functionSelect);
    Zokt_Ext_Header(request, type, 1);
    Zokt_TC_End_Header(request, type, 1);
    return request + ZOKT_RECORD_OFFSET;
}

inline UINT16 Zokt_RunningSizeOf(const UINT8* request) {
    return reinterpret_cast<const ZOKT_STRUCT_V2*>(request)->RunningSize;
}

inline void Zokt_SetRunningSize(UINT8* request, UINT16 size) {
    reinterpret_cast<ZOKT_STRUCT_V2*>(request)->RunningSize = size;
}

inline UINT16 Zokt_ReturnStatusOf(const UINT8* answer) {
    return reinterpret_cast<const ZOKT_STRUCT_V2*>(answer)->dwRetuenStatus;
}

// Keeps the firmware's text between a lead and a tail (" - %s \n" and the
// like) in a 256-byte buffer, cut to 255 characters.
inline void Zokt_FrameText(char (&out)[256], const char* lead, const char* text, const char* tail) {
    UINT32 n = TKX_BoundedCopy(out, lead, 255);
    n += TKX_BoundedCopy(out + n, text, 255 - n);
    TKX_BoundedCopy(out + n, tail, 255 - n);
}
