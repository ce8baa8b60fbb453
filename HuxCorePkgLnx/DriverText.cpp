// The generated kernel driver's text. Its C sources are the files of
// HuxCorePkgLnx/Driver, built into the program as they are; what depends on
// the kernel found is written here: the configuration lines of the wrapper
// source and the Makefiles. The wrapper object holds every call into the
// kernel; the core object holds the logic and reaches the kernel only
// through the wrappers, which take their arguments from globals. That split
// lets the "/gendrv" kit ship the core compiled, beside the wrapper sources.
#include "TKXDriverText.h"
#include <cstring>

static void WriteSource(FILE* f, const NUV_DRIVER_SOURCE& source) { fwrite(source.Text, 1, source.Size, f); }

void WriteNuvWrapHeader(FILE* f) { WriteSource(f, kNuvWrapHeaderFile); }
void WriteNuvCoreHeader(FILE* f) { WriteSource(f, kNuvCoreHeaderFile); }
void WriteNuvCoreSource(FILE* f) { WriteSource(f, kNuvCoreSourceFile); }

static const char* RemapLine(NUV_REMAP_KIND kind) {
    switch (kind) {
    case eNUV_REMAP_PFN:
        return "#define NUV_REMAP_PFN 1\n";
    case eNUV_REMAP_PAGE5:
    case eNUV_REMAP_PAGE4:
        return "#define NUV_REMAP_PFN 0\n";
    default:
        return "#define NUV_REMAP_PFN (LINUX_VERSION_CODE >= KERNEL_VERSION(2,6,10))\n";
    }
}

// The wrapper source includes a configuration header at two places; the
// file written has the lines for the kernel found in their stead.
static const char kKernelHeadersLine[] = "#include \"nuvwrap_kernel.h\"\n";
static const char kRemapLine[] = "#include \"nuvwrap_remap.h\"\n";

void WriteNuvWrapSource(FILE* f, const NUV_DRIVER_TEXT& text) {
    const char* p = kNuvWrapSourceFile.Text;
    const char* end = p + kNuvWrapSourceFile.Size;
    while (p < end) {
        const char* newline = static_cast<const char*>(memchr(p, '\n', static_cast<size_t>(end - p)));
        size_t n = newline != nullptr ? static_cast<size_t>(newline - p) + 1 : static_cast<size_t>(end - p);
        if (n == sizeof(kKernelHeadersLine) - 1 && memcmp(p, kKernelHeadersLine, n) == 0) {
            if (text.Kernel24) fputs("#include <linux/config.h>\n", f);
        } else if (n == sizeof(kRemapLine) - 1 && memcmp(p, kRemapLine, n) == 0) {
            fputs(RemapLine(text.Remap), f);
            fprintf(f, "#define NUV_REMAP_PAGE_ARGS %d\n", text.Remap == eNUV_REMAP_PAGE4 ? 4 : 5);
        } else {
            fwrite(p, 1, n, f);
        }
        p += n;
    }
}

static void WriteMakefile24(FILE* f, const NUV_DRIVER_TEXT& text, UINT8 forKit) {
    fputs(R"(KERNEL ?= /lib/modules/$(shell uname -r)/build
ARCH := $(shell uname -m | sed -e s/i.86/i386/ -e s/sun4u/sparc64/ -e s/arm.*/arm/ -e s/sa110/arm/)
CFLAGS := -D__KERNEL__ -DMODULE -I$(KERNEL)/include -Wall -Wstrict-prototypes -O2 -fomit-frame-pointer -fno-strict-aliasing
include $(KERNEL)/.config
include $(KERNEL)/arch/$(ARCH)/Makefile
ifdef CONFIG_SMP
CFLAGS += -D__SMP__
endif
)",
          f);
    if (text.RedHat) fputs("CFLAGS += -DREMAP_VMA\n", f);
    fputs(R"(
nuvfldrv_mod.o: nuvwrap.o nuvfldrv.o
	$(LD) -r -o $@ nuvwrap.o nuvfldrv.o
)",
          f);
    if (!forKit) fputs("\tmv nuvfldrv_mod.o ../nuvfldrv_mod\n", f);
    fputs(R"(
nuvwrap.o: nuvwrap.c nuvwrap.h nuvfldrv.h
	$(CC) $(CFLAGS) -c nuvwrap.c -o $@
)",
          f);
    if (!forKit) {
        fputs(R"(
nuvfldrv.o: nuvfldrv.c nuvwrap.h nuvfldrv.h
	$(CC) $(CFLAGS) -c nuvfldrv.c -o $@
)",
              f);
    }
    fputs(forKit ? "\nclean:\n\trm -f nuvwrap.o nuvfldrv_mod.o\n" : "\nclean:\n\trm -f *.o\n", f);
}

static void WriteMakefileKbuild(FILE* f, UINT8 forKit) {
    fputs(R"(ifneq ($(KERNELRELEASE),)
EXTRA_CFLAGS += -Wall -Wstrict-prototypes -O2 -fno-strict-aliasing
obj-m := nuvfldrv_mod.o
nuvfldrv_mod-objs := nuvfldrv.o nuvwrap.o
else
KERNEL ?= /lib/modules/$(shell uname -r)/build

default:
	$(MAKE) -C $(KERNEL) M=$(CURDIR) modules
)",
          f);
    if (forKit) {
        fputs(R"(	rm -f nuvfldrv_mod.o
	mv nuvfldrv_mod.ko nuvfldrv_mod.o

clean:
	rm -rf nuvwrap.o nuvfldrv.o nuvfldrv_mod.ko nuvfldrv_mod.mod nuvfldrv_mod.mod.c nuvfldrv_mod.mod.o \
		.nuvwrap.o.cmd .nuvfldrv_mod* modules.order Module.symvers .tmp_versions/
endif
)",
              f);
    } else {
        fputs(R"(	rm -f nuvfldrv.o_shipped
	cp -f nuvfldrv.o nuvfldrv.o_shipped
	rm -f nuvfldrv_mod.o
	mv nuvfldrv_mod.ko ../nuvfldrv_mod

clean:
	rm -rf *.o *.ko *.mod *.mod.c .*.cmd modules.order Module.symvers .tmp_versions/
endif
)",
              f);
    }
}

void WriteNuvMakefile(FILE* f, const NUV_DRIVER_TEXT& text, UINT8 forKit) {
    if (text.Kernel24) WriteMakefile24(f, text, forKit);
    else WriteMakefileKbuild(f, forKit);
}

void WriteNuvShippedCmd(FILE* f) {
    fputs("cmd_nuvfldrv.o := cat nuvfldrv.o_shipped > nuvfldrv.o\n", f);
}
