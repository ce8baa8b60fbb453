#include "nuvwrap.h"
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
