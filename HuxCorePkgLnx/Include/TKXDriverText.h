// The text of the generated kernel driver: wrapper and core sources (the
// files of HuxCorePkgLnx/Driver) and the Makefiles of the build directory and
// of the "/gendrv" kit.
#pragma once
#include <cstdio>
#include "HuxTypes.h"

// How the wrapper maps physical pages on kernels 2.6 and later, and on 2.4.
enum NUV_REMAP_KIND : UINT8 {
    eNUV_REMAP_BY_VERSION = 0,  // mm.h not readable: remap_pfn_range from 2.6.10 on
    eNUV_REMAP_PFN = 1,         // remap_pfn_range(vma, start, pfn, size, prot)
    eNUV_REMAP_PAGE5 = 2,       // remap_page_range(vma, start, physical, size, prot)
    eNUV_REMAP_PAGE4 = 3,       // remap_page_range(start, physical, size, prot)
};

struct NUV_DRIVER_TEXT {
    UINT8 Kernel24;        // the release begins with "2.4"
    NUV_REMAP_KIND Remap;  // remap form of the kernel found
    UINT8 RedHat;          // /etc/redhat-release existed (2.4 Makefile: -DREMAP_VMA)
};

// A file of HuxCorePkgLnx/Driver as built into the program.
struct NUV_DRIVER_SOURCE {
    const char* Text;
    UINT32 Size;
};
extern const NUV_DRIVER_SOURCE kNuvWrapHeaderFile;  // nuvwrap.h
extern const NUV_DRIVER_SOURCE kNuvWrapSourceFile;  // nuvwrap.c, with its two configuration includes
extern const NUV_DRIVER_SOURCE kNuvCoreHeaderFile;  // nuvfldrv.h
extern const NUV_DRIVER_SOURCE kNuvCoreSourceFile;  // nuvfldrv.c

void WriteNuvWrapHeader(FILE* f);
// nuvwrap.c with the configuration lines of the kernel in `text`.
void WriteNuvWrapSource(FILE* f, const NUV_DRIVER_TEXT& text);
void WriteNuvCoreHeader(FILE* f);
void WriteNuvCoreSource(FILE* f);
// forKit: the kit's Makefile leaves "nuvfldrv_mod.o" beside itself instead
// of moving the module to "../nuvfldrv_mod".
void WriteNuvMakefile(FILE* f, const NUV_DRIVER_TEXT& text, UINT8 forKit);
// The kbuild command file that must accompany the shipped core object.
void WriteNuvShippedCmd(FILE* f);
