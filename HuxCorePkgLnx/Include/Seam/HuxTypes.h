// Fixed-width types shared by every part of the program.
#pragma once
#include <cstddef>
#include <cstdint>

typedef uint8_t UINT8;
typedef uint16_t UINT16;
typedef uint32_t UINT32;
typedef uint64_t UINT64;
typedef int8_t INT8;
typedef int16_t INT16;
typedef int32_t INT32;
typedef int64_t INT64;
typedef uint8_t BOOLEAN;
typedef char CHAR8;
typedef uintptr_t UINTN;

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

#pragma pack(push, 1)
// 16-byte GUID in its stored form: three little-endian fields, then eight bytes.
struct EFI_GUID {
    UINT32 Data1;
    UINT16 Data2;
    UINT16 Data3;
    UINT8 Data4[8];
};
#pragma pack(pop)
static_assert(sizeof(EFI_GUID) == 16, "EFI_GUID is 16 bytes");

// Register set of one software SMI, given in and read back.
struct TKX_GeneralPurposeRegisterBuffer {
    UINT32 Edi;
    UINT32 Esi;
    UINT32 Ebp;
    UINT32 Ebx;
    UINT32 Edx;
    UINT32 Ecx;
    UINT32 Eax;
};
static_assert(sizeof(TKX_GeneralPurposeRegisterBuffer) == 28, "seven u32 registers");
