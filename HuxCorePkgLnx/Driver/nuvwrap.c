//-------------------------------------------------------------------------------------------------
// YOZMFG Linux flash utility for the NUV firmware family v5.09.04.1503
// Kernel driver written by the utility itself; do not edit, rebuild it with /makedrv or /gendrv.
//-------------------------------------------------------------------------------------------------
#include <linux/version.h>
#include "nuvwrap_kernel.h"
#include <linux/module.h>
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

#include "nuvwrap_remap.h"

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
