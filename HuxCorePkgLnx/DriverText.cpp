// The generated kernel driver as text. The wrapper object holds every call
// into the kernel; the core object holds the logic and reaches the kernel only
// through the wrappers, which take their arguments from globals. That split
// lets the "/gendrv" kit ship the core compiled, beside the wrapper sources.
#include "TKXDriverText.h"

const char NuvDriverDashLine[] =
    "//-------------------------------------------------------------------------------------------------";

static void WriteHead(FILE* f) {
    fprintf(f, "%s\n", NuvDriverDashLine);
    fputs("// YOZMFG Linux flash utility for the NUV firmware family v5.09.04.1503\n", f);
    fputs("// Kernel driver written by the utility itself; do not edit, rebuild it with /makedrv or /gendrv.\n", f);
    fprintf(f, "%s\n", NuvDriverDashLine);
}

void WriteNuvWrapHeader(FILE* f) {
    WriteHead(f);
    fputs(R"(#ifndef _NUVWRAP_H_
#define _NUVWRAP_H_

/* Marks every wrapper; expands to nothing. */
#define YOZ_ATTRIBUTE_FUNC

/* Arguments of the wrappers, defined in nuvwrap.c. The wrapper holds its
 * lock around every call into the core, so one caller at a time uses them. */
extern unsigned long ulArg0;
extern unsigned long ulArg1;
extern unsigned long ulArg2;
extern void *pvArg0;
extern void *pvArg1;

YOZ_ATTRIBUTE_FUNC int wrap_register_chrdev(void);            /* -> ulArg0 major */
YOZ_ATTRIBUTE_FUNC void wrap_unregister_chrdev(void);         /* ulArg0 major */
YOZ_ATTRIBUTE_FUNC void wrap_mem_map_reserve(void);           /* pvArg0 page */
YOZ_ATTRIBUTE_FUNC void wrap_mem_map_unreserve(void);         /* pvArg0 page */
YOZ_ATTRIBUTE_FUNC int wrap_remap_page_range(void);           /* pvArg0 vma, ulArg0 start, ulArg1 physical, ulArg2 size */
YOZ_ATTRIBUTE_FUNC void wrap_track_vma(void);                 /* pvArg0 vma of the buffer at physical ulArg0 */
YOZ_ATTRIBUTE_FUNC void *wrap_virt_to_page(void);             /* pvArg0 kernel address */
YOZ_ATTRIBUTE_FUNC unsigned long wrap_virt_to_phys(void);     /* pvArg0 kernel address */
YOZ_ATTRIBUTE_FUNC void *wrap_kmalloc(void);                  /* ulArg0 bytes, DMA-capable */
YOZ_ATTRIBUTE_FUNC void wrap_kfree(void);                     /* pvArg0 */
YOZ_ATTRIBUTE_FUNC void wrap_disable_kbd_irq(void);
YOZ_ATTRIBUTE_FUNC void wrap_enable_kbd_irq(void);
YOZ_ATTRIBUTE_FUNC unsigned long wrap_page_size(void);
YOZ_ATTRIBUTE_FUNC unsigned long wrap_phys_limit(void);       /* highest physical address of the CPU */
YOZ_ATTRIBUTE_FUNC int wrap_range_is_ram(void);               /* ulArg0 physical, ulArg1 bytes: touches System RAM */
YOZ_ATTRIBUTE_FUNC int wrap_range_is_claimed(void);           /* ulArg0 physical, ulArg1 bytes: a driver claimed a page of it */
YOZ_ATTRIBUTE_FUNC int wrap_locked_down(void);                /* the kernel's lockdown closes /dev/mem */
YOZ_ATTRIBUTE_FUNC void wrap_map_prot(void);                  /* pvArg0 vma, ulArg0 1 for firmware or device memory */
YOZ_ATTRIBUTE_FUNC void wrap_smi_ports(void);                 /* -> ulArg0 the FADT's SMI port, ulArg1 the "$ASF" port */

/* The core object's entry points, called by the wrapper under its lock.
 * Requests work on a copy of their record in kernel memory. */
#define NUVFLDRV_NAME "nuvfldrv"
#define NUV_MAP_WRITE  1
#define NUV_MAP_SHARED 2
#define NUV_RECORD_MAX 64
int nuvfldrv_init(void);
void nuvfldrv_exit(void);
int nuvfldrv_open(void);
void nuvfldrv_release(void);
unsigned long nuvfldrv_record_size(unsigned int cmd, int compat);
int nuvfldrv_record_returned(unsigned int cmd);
long nuvfldrv_ioctl(unsigned int cmd, void *record, int compat);
int nuvfldrv_mmap(void *vma, unsigned long start, unsigned long end, unsigned long pgoff, unsigned long flags);
void nuvfldrv_vma_open(unsigned long physical);
void nuvfldrv_vma_close(unsigned long physical);

#endif
)",
          f);
}

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

void WriteNuvWrapSource(FILE* f, const NUV_DRIVER_TEXT& text) {
    WriteHead(f);
    fputs("#include <linux/version.h>\n", f);
    if (text.Kernel24) fputs("#include <linux/config.h>\n", f);
    fputs(R"(#include <linux/module.h>
#include <linux/kernel.h>
#include <linux/init.h>
#include <linux/fs.h>
#include <linux/mm.h>
#include <linux/slab.h>
#include <linux/interrupt.h>
#include <linux/sched.h>
#include <linux/ioport.h>
#if LINUX_VERSION_CODE >= KERNEL_VERSION(2,6,0)
#include <linux/capability.h>
#endif
#if LINUX_VERSION_CODE >= KERNEL_VERSION(3,8,0)
#include <linux/user_namespace.h>
#endif
#if LINUX_VERSION_CODE >= KERNEL_VERSION(2,6,16)
#include <linux/mutex.h>
#endif
#ifdef CONFIG_ACPI
#include <linux/acpi.h>
#endif
#ifdef CONFIG_X86
#include <asm/processor.h>
#endif
#if LINUX_VERSION_CODE >= KERNEL_VERSION(5,4,0)
#include <linux/security.h>
#endif
#if LINUX_VERSION_CODE >= KERNEL_VERSION(4,12,0)
#include <linux/uaccess.h>
#else
#include <asm/uaccess.h>
#endif
#ifdef CONFIG_COMPAT
#include <linux/compat.h>
#endif
#include <asm/io.h>
#if LINUX_VERSION_CODE < KERNEL_VERSION(2,6,0)
#include <linux/wrapper.h>
#endif
#include "nuvwrap.h"

MODULE_LICENSE("GPL");
MODULE_DESCRIPTION("Physical memory, port and keyboard services of the YOZMFG flash utility");

)",
          f);
    fputs(RemapLine(text.Remap), f);
    fprintf(f, "#define NUV_REMAP_PAGE_ARGS %d\n", text.Remap == eNUV_REMAP_PAGE4 ? 4 : 5);
    fputs(R"(
#if LINUX_VERSION_CODE >= KERNEL_VERSION(2,6,11)
#define NUV_HAVE_UNLOCKED_IOCTL 1
#else
#define NUV_HAVE_UNLOCKED_IOCTL 0
#endif

unsigned long ulArg0;
unsigned long ulArg1;
unsigned long ulArg2;
pgprot_t pgArg0;
void *pvArg0;
void *pvArg1;

/* One lock around every call into the core: its table and the argument
 * globals are shared by every thread and process that holds the device.
 * User memory is copied outside it, so a page fault never waits under it. */
#if LINUX_VERSION_CODE >= KERNEL_VERSION(2,6,16)
static DEFINE_MUTEX(nuv_lock);
#define NUV_LOCK() mutex_lock(&nuv_lock)
#define NUV_UNLOCK() mutex_unlock(&nuv_lock)
#else
static DECLARE_MUTEX(nuv_lock);
#define NUV_LOCK() down(&nuv_lock)
#define NUV_UNLOCK() up(&nuv_lock)
#endif

static struct file_operations nuvfldrv_fops;
static struct vm_operations_struct nuvfldrv_vm_ops;

YOZ_ATTRIBUTE_FUNC int wrap_register_chrdev(void)
{
    int major = register_chrdev(0, NUVFLDRV_NAME, &nuvfldrv_fops);
    if (major < 0)
        return major;
    ulArg0 = (unsigned long)major;
    return 0;
}

YOZ_ATTRIBUTE_FUNC void wrap_unregister_chrdev(void)
{
    unregister_chrdev((unsigned int)ulArg0, NUVFLDRV_NAME);
}

YOZ_ATTRIBUTE_FUNC void wrap_mem_map_reserve(void)
{
#if LINUX_VERSION_CODE >= KERNEL_VERSION(2,6,0)
    SetPageReserved((struct page *)pvArg0);
#else
    mem_map_reserve((struct page *)pvArg0);
#endif
}

YOZ_ATTRIBUTE_FUNC void wrap_mem_map_unreserve(void)
{
#if LINUX_VERSION_CODE >= KERNEL_VERSION(2,6,0)
    ClearPageReserved((struct page *)pvArg0);
#else
    mem_map_unreserve((struct page *)pvArg0);
#endif
}

/* The protection /dev/mem gives (into pgArg0): the mapping's own, for the
 * opener's buffers (kernel memory, cached like the kernel's own view of it);
 * for firmware and device memory (ulArg0 1) uncached where the descriptor
 * asks for synchronous writes, and never marked encrypted, as the kernel's
 * own choice for memory outside System RAM is. The kernel's choice itself
 * (phys_mem_access_prot) is not exported to modules. */
YOZ_ATTRIBUTE_FUNC void wrap_map_prot(void)
{
    struct vm_area_struct *vma = (struct vm_area_struct *)pvArg0;
    pgprot_t prot = vma->vm_page_prot;
    if (ulArg0) {
#ifdef O_DSYNC
        unsigned int sync = O_DSYNC;
#else
        unsigned int sync = O_SYNC;
#endif
#ifdef pgprot_noncached
        if (vma->vm_file != NULL && (vma->vm_file->f_flags & sync))
            prot = pgprot_noncached(prot);
#endif
#ifdef pgprot_decrypted
        prot = pgprot_decrypted(prot);
#endif
        (void)sync;
    }
    pgArg0 = prot;
}

/* Maps ulArg2 bytes of physical memory from ulArg1 at user address ulArg0
 * of the vma in pvArg0, with the protection in pgArg0; the mapping is locked. */
YOZ_ATTRIBUTE_FUNC int wrap_remap_page_range(void)
{
    struct vm_area_struct *vma = (struct vm_area_struct *)pvArg0;
#if LINUX_VERSION_CODE >= KERNEL_VERSION(6,3,0)
    vm_flags_set(vma, VM_LOCKED);
#else
    vma->vm_flags |= VM_LOCKED;
#endif
#if LINUX_VERSION_CODE >= KERNEL_VERSION(2,6,0) && NUV_REMAP_PFN
    return remap_pfn_range(vma, ulArg0, ulArg1 >> PAGE_SHIFT, ulArg2, pgArg0);
#elif NUV_REMAP_PAGE_ARGS == 4
    (void)vma;
    return remap_page_range(ulArg0, ulArg1, ulArg2, pgArg0);
#else
    return remap_page_range(vma, ulArg0, ulArg1, ulArg2, pgArg0);
#endif
}

/* A mapping of a buffer tells the core when it is copied or goes away. */
YOZ_ATTRIBUTE_FUNC void wrap_track_vma(void)
{
    struct vm_area_struct *vma = (struct vm_area_struct *)pvArg0;
    vma->vm_private_data = (void *)ulArg0;
    vma->vm_ops = &nuvfldrv_vm_ops;
}

YOZ_ATTRIBUTE_FUNC void *wrap_virt_to_page(void)
{
    return virt_to_page(pvArg0);
}

YOZ_ATTRIBUTE_FUNC unsigned long wrap_virt_to_phys(void)
{
    return (unsigned long)virt_to_phys(pvArg0);
}

YOZ_ATTRIBUTE_FUNC void *wrap_kmalloc(void)
{
    return kmalloc(ulArg0, GFP_DMA | GFP_KERNEL | __GFP_NOWARN);
}

YOZ_ATTRIBUTE_FUNC void wrap_kfree(void)
{
    kfree(pvArg0);
}

YOZ_ATTRIBUTE_FUNC void wrap_disable_kbd_irq(void)
{
    disable_irq(1);
}

YOZ_ATTRIBUTE_FUNC void wrap_enable_kbd_irq(void)
{
    enable_irq(1);
}

YOZ_ATTRIBUTE_FUNC unsigned long wrap_page_size(void)
{
    return PAGE_SIZE;
}

YOZ_ATTRIBUTE_FUNC unsigned long wrap_phys_limit(void)
{
#if defined(CONFIG_X86) && LINUX_VERSION_CODE >= KERNEL_VERSION(2,6,0)
    unsigned int bits = boot_cpu_data.x86_phys_bits;
#else
    unsigned int bits = 32;
#endif
    if (bits >= sizeof(unsigned long) * 8)
        return ~0UL;
    return (1UL << bits) - 1;
}

YOZ_ATTRIBUTE_FUNC int wrap_range_is_ram(void)
{
#if LINUX_VERSION_CODE >= KERNEL_VERSION(4,6,0)
    return region_intersects(ulArg0, ulArg1, IORESOURCE_SYSTEM_RAM, IORES_DESC_NONE) != REGION_DISJOINT;
#else
    unsigned long pfn;
    for (pfn = ulArg0 >> PAGE_SHIFT; pfn <= (ulArg0 + ulArg1 - 1) >> PAGE_SHIFT; pfn++) {
        if (page_is_ram(pfn))
            return 1;
    }
    return 0;
#endif
}

#if LINUX_VERSION_CODE >= KERNEL_VERSION(5,0,0)
static int wrap_claim_found(struct resource *res, void *arg)
{
    return 1;
}
#endif

/* What /dev/mem refuses besides System RAM: a page that a kernel driver has
 * claimed (busy; under a kernel without strict I/O devmem only one claimed
 * exclusively), except in the first MiB, which stays open for the BIOS's
 * areas. The kernel's own check (iomem_is_exclusive) is not exported. */
YOZ_ATTRIBUTE_FUNC int wrap_range_is_claimed(void)
{
    unsigned long start = ulArg0;
    unsigned long last = ulArg0 + ulArg1 - 1;
    unsigned long flags = IORESOURCE_MEM | IORESOURCE_BUSY;
#if !defined(CONFIG_IO_STRICT_DEVMEM) && defined(IORESOURCE_EXCLUSIVE)
    flags |= IORESOURCE_EXCLUSIVE;
#endif
    if (last < 0x100000)
        return 0;
    if (start < 0x100000)
        start = 0x100000;
#if LINUX_VERSION_CODE >= KERNEL_VERSION(5,0,0)
    return walk_iomem_res_desc(IORES_DESC_NONE, flags, start, last, NULL, wrap_claim_found) == 1;
#elif LINUX_VERSION_CODE >= KERNEL_VERSION(4,6,0)
    return region_intersects(start, last - start + 1, flags, IORES_DESC_NONE) != REGION_DISJOINT;
#else
    (void)flags;
    return 0;
#endif
}

YOZ_ATTRIBUTE_FUNC int wrap_locked_down(void)
{
#if LINUX_VERSION_CODE >= KERNEL_VERSION(5,4,0)
    return security_locked_down(LOCKDOWN_DEV_MEM) != 0;
#else
    return 0;
#endif
}

/* The SMI command ports the firmware publishes: the FADT's, and that of the
 * first "$ASF" record of the BIOS area, as the program finds it, when the
 * record's header (u8 length at +4) holds the u16 port at +12. Stray "$ASF"
 * bytes name no port. */
YOZ_ATTRIBUTE_FUNC void wrap_smi_ports(void)
{
    unsigned char __iomem *area;
    unsigned long off;
    ulArg0 = 0;
    ulArg1 = 0;
#if defined(CONFIG_ACPI) && LINUX_VERSION_CODE >= KERNEL_VERSION(2,6,0)
    ulArg0 = acpi_gbl_FADT.smi_command;
#endif
    area = ioremap(0xF0000, 0x10000);
    if (area == NULL)
        return;
    for (off = 0; off + 14 <= 0x10000; off++) {
        if (readb(area + off) != '$' || readb(area + off + 1) != 'A' || readb(area + off + 2) != 'S' ||
            readb(area + off + 3) != 'F')
            continue;
        if (readb(area + off + 4) >= 14)
            ulArg1 = readb(area + off + 12) | (readb(area + off + 13) << 8);
        break;
    }
    iounmap(area);
}

static void wrap_vma_open(struct vm_area_struct *vma)
{
    NUV_LOCK();
    nuvfldrv_vma_open((unsigned long)vma->vm_private_data);
    NUV_UNLOCK();
}

static void wrap_vma_close(struct vm_area_struct *vma)
{
    NUV_LOCK();
    nuvfldrv_vma_close((unsigned long)vma->vm_private_data);
    NUV_UNLOCK();
}

static struct vm_operations_struct nuvfldrv_vm_ops = {
    .open = wrap_vma_open,
    .close = wrap_vma_close,
};

static int wrap_open(struct inode *inode, struct file *file)
{
    int rc;
    if (!capable(CAP_SYS_RAWIO))
        return -EPERM;
#if LINUX_VERSION_CODE >= KERNEL_VERSION(2,6,0)
    if (!try_module_get(THIS_MODULE))
        return -ENODEV;
#else
    MOD_INC_USE_COUNT;
#endif
    NUV_LOCK();
    rc = nuvfldrv_open();
    NUV_UNLOCK();
    if (rc != 0) {
#if LINUX_VERSION_CODE >= KERNEL_VERSION(2,6,0)
        module_put(THIS_MODULE);
#else
        MOD_DEC_USE_COUNT;
#endif
    }
    return rc;
}

static int wrap_release(struct inode *inode, struct file *file)
{
    NUV_LOCK();
    nuvfldrv_release();
    NUV_UNLOCK();
#if LINUX_VERSION_CODE >= KERNEL_VERSION(2,6,0)
    module_put(THIS_MODULE);
#else
    MOD_DEC_USE_COUNT;
#endif
    return 0;
}

/* Every request and mapping needs CAP_SYS_RAWIO twice: in the credentials
 * the device was opened with, and in the caller's now. A descriptor kept
 * across a drop of privileges, or handed to another process, does nothing. */
static int wrap_may_rawio(struct file *file)
{
#if LINUX_VERSION_CODE >= KERNEL_VERSION(3,8,0)
    if (!file_ns_capable(file, &init_user_ns, CAP_SYS_RAWIO))
        return 0;
#endif
    return capable(CAP_SYS_RAWIO);
}

/* The record is copied in before the lock and out after it. */
static long wrap_request(struct file *file, unsigned int cmd, void __user *arg, int compat)
{
    unsigned long record[NUV_RECORD_MAX / sizeof(unsigned long)];
    unsigned long size;
    long rc;
    if (!wrap_may_rawio(file))
        return -EPERM;
    size = nuvfldrv_record_size(cmd, compat);
    if (size > sizeof(record))
        return -EINVAL;
    if (size != 0) {
        if (arg == NULL)
            return -EINVAL;
        if (copy_from_user(record, arg, size) != 0)
            return -EFAULT;
    }
    NUV_LOCK();
    rc = nuvfldrv_ioctl(cmd, size != 0 ? record : NULL, compat);
    if (rc == 0 && !nuvfldrv_record_returned(cmd))
        size = 0;
    NUV_UNLOCK();
    if (rc == 0 && size != 0 && copy_to_user(arg, record, size) != 0)
        rc = -EFAULT;
    return rc;
}

#if NUV_HAVE_UNLOCKED_IOCTL
static long wrap_unlocked_ioctl(struct file *file, unsigned int cmd, unsigned long arg)
{
    return wrap_request(file, cmd, (void __user *)arg, 0);
}
#ifdef CONFIG_COMPAT
/* A 32-bit process sends the 32-bit record layouts; the core converts them. */
static long wrap_compat_ioctl(struct file *file, unsigned int cmd, unsigned long arg)
{
    return wrap_request(file, cmd, compat_ptr((compat_uptr_t)arg), 1);
}
#endif
#else
static int wrap_ioctl(struct inode *inode, struct file *file, unsigned int cmd, unsigned long arg)
{
    return (int)wrap_request(file, cmd, (void __user *)arg, 0);
}
#endif

static int wrap_mmap(struct file *file, struct vm_area_struct *vma)
{
    unsigned long flags = 0;
    int rc;
    if (!wrap_may_rawio(file))
        return -EPERM;
    if (vma->vm_flags & VM_WRITE)
        flags |= NUV_MAP_WRITE;
    if (vma->vm_flags & VM_SHARED)
        flags |= NUV_MAP_SHARED;
    NUV_LOCK();
    rc = nuvfldrv_mmap(vma, vma->vm_start, vma->vm_end, vma->vm_pgoff, flags);
    NUV_UNLOCK();
    return rc;
}

static struct file_operations nuvfldrv_fops = {
    .owner = THIS_MODULE,
    .open = wrap_open,
    .release = wrap_release,
#if NUV_HAVE_UNLOCKED_IOCTL
    .unlocked_ioctl = wrap_unlocked_ioctl,
#ifdef CONFIG_COMPAT
    .compat_ioctl = wrap_compat_ioctl,
#endif
#else
    .ioctl = wrap_ioctl,
#endif
    .mmap = wrap_mmap,
};

static int __init nuvwrap_init(void)
{
    int rc;
    NUV_LOCK();
    rc = nuvfldrv_init();
    NUV_UNLOCK();
    return rc;
}

static void __exit nuvwrap_exit(void)
{
    NUV_LOCK();
    nuvfldrv_exit();
    NUV_UNLOCK();
}

module_init(nuvwrap_init);
module_exit(nuvwrap_exit);
)",
          f);
}

void WriteNuvCoreHeader(FILE* f) {
    fputs(R"(#ifndef _NUVFLDRV_H_
#define _NUVFLDRV_H_

#define CMD_ALLOC          0x4160
#define CMD_FREE           0x4161
#define CMD_LOCK_KB        0x4162
#define CMD_UNLOCK_KB      0x4163
#define CMD_PORTWRITEBYTE  0x4166

#define NUVFLDRV_MAX_BUFFERS 128
#define NUVFLDRV_MAX_SIZE    (128 * 1024)
#define NUVFLDRV_MAX_HELD    (512 * 1024)  /* all buffers together */

/* Error numbers, so that the core needs no kernel header. */
#define NUV_EPERM   1
#define NUV_EIO     5
#define NUV_ENXIO   6
#define NUV_ENOMEM  12
#define NUV_EFAULT  14
#define NUV_EBUSY   16
#define NUV_EINVAL  22
#define NUV_ENOTTY  25

typedef struct {
    long size;
    unsigned long kvirtlen;
    void *kmallocptr;
    void *kvirtadd;
    unsigned long kphysadd;
} NUVFLDRV_ALLOC;

typedef struct __attribute__((packed)) {
    unsigned short Port;
    unsigned char Value;
    unsigned long Edi;
    unsigned long Esi;
    unsigned long Ebp;
    unsigned long Ebx;
    unsigned long Edx;
    unsigned long Ecx;
    unsigned long Eax;
} NUVFLDRV_PORTWRITEBYTE;

/* The same records as a 32-bit process lays them out. */
typedef struct {
    int size;
    unsigned int kvirtlen;
    unsigned int kmallocptr;
    unsigned int kvirtadd;
    unsigned int kphysadd;
} NUVFLDRV_ALLOC32;

typedef struct __attribute__((packed)) {
    unsigned short Port;
    unsigned char Value;
    unsigned int Edi;
    unsigned int Esi;
    unsigned int Ebp;
    unsigned int Ebx;
    unsigned int Edx;
    unsigned int Ecx;
    unsigned int Eax;
} NUVFLDRV_PORTWRITEBYTE32;

#endif
)",
          f);
}

void WriteNuvCoreSource(FILE* f) {
    fputs(R"(#include "nuvwrap.h"
#include "nuvfldrv.h"

/* One buffer of the opener and the mappings of it that exist. */
typedef struct {
    NUVFLDRV_ALLOC a;
    long maps;
} NUV_BUFFER;

static NUV_BUFFER nuv_buffers[NUVFLDRV_MAX_BUFFERS];
static int nuv_buffer_count;
static unsigned long nuv_held;
static unsigned long nuv_major;
static unsigned long nuv_smi_port;
static unsigned long nuv_asf_port;
static int nuv_opened;
static int nuv_kb_locked;

static void nuv_zero(void *p, unsigned long n)
{
    unsigned char *b = (unsigned char *)p;
    while (n-- > 0)
        *b++ = 0;
}

static void nuv_mark_pages(NUVFLDRV_ALLOC *b, int reserve)
{
    unsigned long page = wrap_page_size();
    unsigned long off;
    for (off = 0; off < b->kvirtlen; off += page) {
        pvArg0 = (char *)b->kvirtadd + off;
        pvArg0 = wrap_virt_to_page();
        if (reserve)
            wrap_mem_map_reserve();
        else
            wrap_mem_map_unreserve();
    }
}

static void nuv_release_buffer(NUV_BUFFER *b)
{
    nuv_mark_pages(&b->a, 0);
    pvArg0 = b->a.kmallocptr;
    wrap_kfree();
    nuv_held -= b->a.kvirtlen;
    nuv_zero(b, sizeof(*b));
}

static void nuv_release_all(void)
{
    while (nuv_buffer_count > 0) {
        nuv_buffer_count--;
        nuv_release_buffer(&nuv_buffers[nuv_buffer_count]);
    }
}

/* The buffer that holds all of [physical, physical + size), if any. */
static NUV_BUFFER *nuv_find_buffer(unsigned long physical, unsigned long size)
{
    int i;
    for (i = 0; i < nuv_buffer_count; i++) {
        NUVFLDRV_ALLOC *a = &nuv_buffers[i].a;
        if (physical >= a->kphysadd && size <= a->kvirtlen && physical - a->kphysadd <= a->kvirtlen - size)
            return &nuv_buffers[i];
    }
    return 0;
}

/* The keyboard line is switched off at most once and on only when off. */
static void nuv_lock_kb(void)
{
    if (!nuv_kb_locked) {
        wrap_disable_kbd_irq();
        nuv_kb_locked = 1;
    }
}

static void nuv_unlock_kb(void)
{
    if (nuv_kb_locked) {
        wrap_enable_kbd_irq();
        nuv_kb_locked = 0;
    }
}

int nuvfldrv_init(void)
{
    nuv_zero(nuv_buffers, sizeof(nuv_buffers));
    nuv_buffer_count = 0;
    nuv_held = 0;
    nuv_opened = 0;
    nuv_kb_locked = 0;
    wrap_smi_ports();
    nuv_smi_port = ulArg0;
    nuv_asf_port = ulArg1;
    if (wrap_register_chrdev() != 0)
        return -NUV_EIO;
    nuv_major = ulArg0;
    return 0;
}

void nuvfldrv_exit(void)
{
    nuv_release_all();
    nuv_unlock_kb();
    ulArg0 = nuv_major;
    wrap_unregister_chrdev();
}

int nuvfldrv_open(void)
{
    if (nuv_opened)
        return -NUV_EBUSY;
    nuv_opened = 1;
    return 0;
}

/* The last reference of the opener is gone, its mappings with it: its
 * buffers go too. */
void nuvfldrv_release(void)
{
    nuv_release_all();
    nuv_unlock_kb();
    nuv_opened = 0;
}

void nuvfldrv_vma_open(unsigned long physical)
{
    NUV_BUFFER *b = nuv_find_buffer(physical, 1);
    if (b != 0)
        b->maps++;
}

void nuvfldrv_vma_close(unsigned long physical)
{
    NUV_BUFFER *b = nuv_find_buffer(physical, 1);
    if (b != 0 && b->maps > 0)
        b->maps--;
}

static long nuv_alloc(NUVFLDRV_ALLOC *req)
{
    unsigned long page = wrap_page_size();
    unsigned long len, area, i;
    unsigned int *words;
    NUV_BUFFER *b;
    void *raw;

    if (nuv_buffer_count >= NUVFLDRV_MAX_BUFFERS)
        return -NUV_EINVAL;
    if (req->size <= 0 || req->size > NUVFLDRV_MAX_SIZE)
        return -NUV_EINVAL;
    len = ((unsigned long)req->size + page - 1) & ~(page - 1);
    if (nuv_held + len > NUVFLDRV_MAX_HELD)
        return -NUV_ENOMEM;
    ulArg0 = len + 2 * page;
    raw = wrap_kmalloc();
    if (raw == 0)
        return -NUV_ENOMEM;
    area = ((unsigned long)raw + page - 1) & ~(page - 1);
    words = (unsigned int *)area;
    for (i = 0; i < len / 4; i++)
        words[i] = (0xAFD0u << 16) + (unsigned int)i;

    b = &nuv_buffers[nuv_buffer_count++];
    b->maps = 0;
    b->a.size = req->size;
    b->a.kmallocptr = raw;
    b->a.kvirtlen = len;
    b->a.kvirtadd = (void *)area;
    pvArg0 = b->a.kvirtadd;
    b->a.kphysadd = wrap_virt_to_phys();
    nuv_mark_pages(&b->a, 1);
    nuv_held += len;

    /* The caller learns the physical address only: no kernel address leaves. */
    req->kvirtlen = len;
    req->kmallocptr = 0;
    req->kvirtadd = 0;
    req->kphysadd = b->a.kphysadd;
    return 0;
}

static long nuv_free(NUVFLDRV_ALLOC *req)
{
    int i;
    for (i = 0; i < nuv_buffer_count; i++) {
        if (nuv_buffers[i].a.kphysadd == req->kphysadd)
            break;
    }
    if (i == nuv_buffer_count)
        return 0;
    /* Its pages stay while a mapping of them does. */
    if (nuv_buffers[i].maps > 0)
        return -NUV_EBUSY;
    nuv_release_buffer(&nuv_buffers[i]);
    nuv_buffer_count--;
    if (i != nuv_buffer_count) {
        nuv_buffers[i] = nuv_buffers[nuv_buffer_count];
        nuv_zero(&nuv_buffers[nuv_buffer_count], sizeof(nuv_buffers[0]));
    }
    return 0;
}

/* The 32-bit layout is converted in place, in the wrapper's copy. */
static void nuv_read_alloc(NUVFLDRV_ALLOC *req, void *record, int compat)
{
    NUVFLDRV_ALLOC32 *r32 = (NUVFLDRV_ALLOC32 *)record;
    nuv_zero(req, sizeof(*req));
    if (!compat) {
        *req = *(NUVFLDRV_ALLOC *)record;
        return;
    }
    req->size = r32->size;
    req->kvirtlen = r32->kvirtlen;
    req->kphysadd = r32->kphysadd;
}

static void nuv_write_alloc(NUVFLDRV_ALLOC *req, void *record, int compat)
{
    NUVFLDRV_ALLOC32 *r32 = (NUVFLDRV_ALLOC32 *)record;
    if (!compat) {
        *(NUVFLDRV_ALLOC *)record = *req;
        return;
    }
    r32->size = (int)req->size;
    r32->kvirtlen = (unsigned int)req->kvirtlen;
    r32->kmallocptr = 0;
    r32->kvirtadd = 0;
    r32->kphysadd = (unsigned int)req->kphysadd;
}

/* The SMI command port the program uses: the FADT's, else the "$ASF"
 * record's, else the legacy one. */
static unsigned long nuv_the_smi_port(void)
{
    if (nuv_smi_port != 0)
        return nuv_smi_port;
    if (nuv_asf_port != 0)
        return nuv_asf_port;
    return 0xB2;
}

/* Only what the program writes: the SMI command ports the firmware
 * publishes and the legacy one, CMOS, and at the reset register the soft,
 * hard and global reset. Under the kernel's lockdown only the SMI command
 * port the program uses. */
static int nuv_port_allowed(unsigned long port, unsigned int value)
{
    if (port == nuv_the_smi_port())
        return 1;
    if (wrap_locked_down())
        return 0;
    if (port == 0xCF9)
        return value == 0x04 || value == 0x06 || value == 0x0E;
    return (port == nuv_smi_port && port != 0) || (port == nuv_asf_port && port != 0) || port == 0xB2 ||
           port == 0x70 || port == 0x71;
}

static void nuv_port_write(NUVFLDRV_PORTWRITEBYTE *r)
{
    unsigned int a = r->Value;
    unsigned int b = (unsigned int)r->Ebx;
    unsigned int c = (unsigned int)r->Ecx;
    unsigned int d = r->Port;
    unsigned int si = (unsigned int)r->Esi;
    unsigned int di = (unsigned int)r->Edi;
    __asm__ __volatile__("outb %%al, %%dx"
                         : "+a"(a), "+b"(b), "+c"(c), "+d"(d), "+S"(si), "+D"(di)
                         :
                         : "memory");
    r->Eax = a;
    r->Ebx = b;
    r->Ecx = c;
    r->Edx = d;
    r->Esi = si;
    r->Edi = di;
}

static long nuv_port_request(void *record, int compat)
{
    NUVFLDRV_PORTWRITEBYTE *r = (NUVFLDRV_PORTWRITEBYTE *)record;
    NUVFLDRV_PORTWRITEBYTE wide;
    NUVFLDRV_PORTWRITEBYTE32 *r32 = (NUVFLDRV_PORTWRITEBYTE32 *)record;
    if (compat ? !nuv_port_allowed(r32->Port, r32->Value) : !nuv_port_allowed(r->Port, r->Value))
        return -NUV_EPERM;
    if (!compat) {
        nuv_port_write(r);
        return 0;
    }
    nuv_zero(&wide, sizeof(wide));
    wide.Port = r32->Port;
    wide.Value = r32->Value;
    wide.Edi = r32->Edi;
    wide.Esi = r32->Esi;
    wide.Ebx = r32->Ebx;
    wide.Ecx = r32->Ecx;
    nuv_port_write(&wide);
    r32->Eax = (unsigned int)wide.Eax;
    r32->Ebx = (unsigned int)wide.Ebx;
    r32->Ecx = (unsigned int)wide.Ecx;
    r32->Edx = (unsigned int)wide.Edx;
    r32->Esi = (unsigned int)wide.Esi;
    r32->Edi = (unsigned int)wide.Edi;
    return 0;
}

unsigned long nuvfldrv_record_size(unsigned int cmd, int compat)
{
    switch (cmd) {
    case CMD_ALLOC:
    case CMD_FREE:
        return compat ? sizeof(NUVFLDRV_ALLOC32) : sizeof(NUVFLDRV_ALLOC);
    case CMD_PORTWRITEBYTE:
        return compat ? sizeof(NUVFLDRV_PORTWRITEBYTE32) : sizeof(NUVFLDRV_PORTWRITEBYTE);
    default:
        return 0;
    }
}

int nuvfldrv_record_returned(unsigned int cmd)
{
    return cmd == CMD_ALLOC || cmd == CMD_PORTWRITEBYTE;
}

long nuvfldrv_ioctl(unsigned int cmd, void *record, int compat)
{
    NUVFLDRV_ALLOC req;
    long rc;
    switch (cmd) {
    case CMD_ALLOC:
        nuv_read_alloc(&req, record, compat);
        rc = nuv_alloc(&req);
        if (rc == 0)
            nuv_write_alloc(&req, record, compat);
        return rc;
    case CMD_FREE:
        nuv_read_alloc(&req, record, compat);
        return nuv_free(&req);
    case CMD_LOCK_KB:
        nuv_lock_kb();
        return 0;
    case CMD_UNLOCK_KB:
        nuv_unlock_kb();
        return 0;
    case CMD_PORTWRITEBYTE:
        return nuv_port_request(record, compat);
    default:
        return -NUV_ENOTTY;
    }
}

/* Maps one of the opener's buffers, or physical memory within the CPU's
 * physical address width that is neither System RAM nor claimed by a kernel
 * driver, with the protection /dev/mem gives: what /dev/mem gives under the
 * kernel's own rules, and nothing more. Under the kernel's lockdown, which
 * closes /dev/mem, only the opener's buffers. */
int nuvfldrv_mmap(void *vma, unsigned long start, unsigned long end, unsigned long pgoff, unsigned long flags)
{
    unsigned long page = wrap_page_size();
    unsigned long size = end - start;
    unsigned long physical;
    NUV_BUFFER *b;
    if ((flags & NUV_MAP_WRITE) && !(flags & NUV_MAP_SHARED))
        return -NUV_EINVAL;
    if (size == 0 || pgoff > ~0UL / page)
        return -NUV_EINVAL;
    physical = pgoff * page;
    if (physical > ~0UL - (size - 1))
        return -NUV_EINVAL;
    b = nuv_find_buffer(physical, size);
    if (b == 0) {
        if (physical + (size - 1) > wrap_phys_limit())
            return -NUV_EINVAL;
        if (wrap_locked_down())
            return -NUV_EPERM;
        ulArg0 = physical;
        ulArg1 = size;
        if (wrap_range_is_ram() || wrap_range_is_claimed())
            return -NUV_EPERM;
    }
    pvArg0 = vma;
    ulArg0 = b == 0;
    wrap_map_prot();
    pvArg0 = vma;
    ulArg0 = start;
    ulArg1 = physical;
    ulArg2 = size;
    if (wrap_remap_page_range() != 0)
        return -NUV_ENXIO;
    if (b != 0) {
        pvArg0 = vma;
        ulArg0 = b->a.kphysadd;
        wrap_track_vma();
        b->maps++;
    }
    return 0;
}
)",
          f);
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
