//-------------------------------------------------------------------------------------------------
// YOZMFG Linux flash utility for the NUV firmware family v5.09.04.1503
// Kernel driver written by the utility itself; do not edit, rebuild it with /makedrv or /gendrv.
//-------------------------------------------------------------------------------------------------
#ifndef _NUVWRAP_H_
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
