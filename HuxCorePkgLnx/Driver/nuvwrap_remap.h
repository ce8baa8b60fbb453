/* How wrap_remap_page_range maps pages. The program writes the lines of the
 * kernel it builds for in place of the include of this file: NUV_REMAP_PFN 1
 * when the kernel's mm.h names remap_pfn_range, 0 when it does not, and the
 * version test below when there is no mm.h to look into; NUV_REMAP_PAGE_ARGS
 * 4 for a 2.4 kernel whose remap_page_range takes no vma, else 5. */
#define NUV_REMAP_PFN (LINUX_VERSION_CODE >= KERNEL_VERSION(2,6,10))
#define NUV_REMAP_PAGE_ARGS 5
