/* Probe of the real-kernel tier's "user" guest, built static for both widths
 * on the host. It talks to the program's kernel driver directly:
 *   yozprobe as-nobody PROG ARGS...   runs PROG as uid/gid 65534
 *   yozprobe open PATH                 what opening PATH read-write gives
 *   yozprobe driver PATH               the driver's limits: buffers, mappings, ports
 *   yozprobe dropped PATH              a descriptor opened as root, used after setuid(1000)
 *   yozprobe lockdown PATH             what the driver still does under the kernel's lockdown
 *   yozprobe stress PATH SECONDS       threads and forked children on one descriptor
 * Each prints one line per check, the same on both widths. */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <pthread.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#define CMD_ALLOC 0x4160
#define CMD_FREE 0x4161
#define CMD_LOCK_KB 0x4162
#define CMD_UNLOCK_KB 0x4163
#define CMD_PORTWRITEBYTE 0x4166

/* The records in the layout of the probe's own width, as the program sends them. */
struct alloc_record {
    long size;
    unsigned long kvirtlen;
    void *kmallocptr;
    void *kvirtadd;
    unsigned long kphysadd;
};

struct __attribute__((packed)) port_record {
    unsigned short Port;
    unsigned char Value;
    unsigned long Edi, Esi, Ebp, Ebx, Edx, Ecx, Eax;
};

static const char *name_of(int e) {
    switch (e) {
    case 0: return "ok";
    case EPERM: return "EPERM";
    case EACCES: return "EACCES";
    case EBUSY: return "EBUSY";
    case EINVAL: return "EINVAL";
    case ENOMEM: return "ENOMEM";
    case ENXIO: return "ENXIO";
    case EOVERFLOW: return "EOVERFLOW";
    default: return strerror(e);
    }
}

static int request(int fd, unsigned long cmd, void *record) { return ioctl(fd, cmd, record) == 0 ? 0 : errno; }

/* Maps `size` bytes at physical `offset` through the device; 0 or the errno. */
static int map_at(int fd, unsigned long long offset, size_t size, void **out) {
    void *p = mmap(NULL, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, (off_t)offset);
    if (p == MAP_FAILED) return errno;
    if (out != NULL) *out = p;
    else munmap(p, size);
    return 0;
}

static int port_write(int fd, unsigned short port, unsigned char value) {
    struct port_record r;
    memset(&r, 0, sizeof(r));
    r.Port = port;
    r.Value = value;
    return request(fd, CMD_PORTWRITEBYTE, &r);
}

static int check_driver(const char *path) {
    int fd = open(path, O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        printf("open: %s\n", name_of(errno));
        return 1;
    }
    struct alloc_record a;
    memset(&a, 0, sizeof(a));
    a.size = 0x11000;
    a.kvirtadd = &a;
    int e = request(fd, CMD_ALLOC, &a);
    printf("alloc 0x11000: %s, kernel address %s\n", name_of(e), a.kvirtadd == NULL ? "hidden" : "shown");
    void *buffer = NULL;
    printf("map the buffer: %s\n", name_of(map_at(fd, a.kphysadd, 0x11000, &buffer)));
    if (buffer != NULL) ((volatile unsigned char *)buffer)[0x10] = 0x5A;
    struct alloc_record f = a;
    printf("free while mapped: %s\n", name_of(request(fd, CMD_FREE, &f)));
    if (buffer != NULL) munmap(buffer, 0x11000);
    printf("free after unmapping: %s\n", name_of(request(fd, CMD_FREE, &f)));
    printf("map the buffer once freed: %s\n", name_of(map_at(fd, a.kphysadd, 0x1000, NULL)));
    printf("map System RAM at 16 MiB: %s\n", name_of(map_at(fd, 0x1000000, 0x1000, NULL)));
    printf("map the BIOS area: %s\n", name_of(map_at(fd, 0xF0000, 0x10000, NULL)));
    printf("map beyond the physical address width: %s\n", name_of(map_at(fd, 1ULL << 42, 0x1000, NULL)));
    printf("map the IOAPIC: %s\n", name_of(map_at(fd, 0xFEC00000, 0x1000, NULL)));
    printf("map the local APIC: %s\n", name_of(map_at(fd, 0xFEE00000, 0x1000, NULL)));
    printf("map the page below the IOAPIC: %s\n", name_of(map_at(fd, 0xFEBFF000, 0x1000, NULL)));
    printf("map it with the IOAPIC page: %s\n", name_of(map_at(fd, 0xFEBFF000, 0x2000, NULL)));
    printf("write port 0x70: %s\n", name_of(port_write(fd, 0x70, 0x0F)));
    printf("write port 0x80: %s\n", name_of(port_write(fd, 0x80, 0x00)));
    printf("write port 0x3f8: %s\n", name_of(port_write(fd, 0x3F8, 0x41)));
    /* 2 sets the hard-reset bit without starting a reset: harmless where it passes. */
    printf("write port 0xcf9 with 0x02: %s\n", name_of(port_write(fd, 0xCF9, 0x02)));
    int second = open(path, O_RDWR | O_CLOEXEC);
    printf("second opener: %s\n", second < 0 ? name_of(errno) : "ok");
    if (second >= 0) close(second);
    close(fd);
    return 0;
}

/* A buffer allocated, the buffer (this one, else the one at `buffer`) and
 * the BIOS area mapped, CMOS written and the keyboard locked: each check on
 * its own line, prefixed by `when`. Returns the buffer's address. */
static unsigned long use_device(int fd, const char *when, unsigned long buffer) {
    struct alloc_record a;
    memset(&a, 0, sizeof(a));
    a.size = 0x1000;
    printf("%s: alloc: %s\n", when, name_of(request(fd, CMD_ALLOC, &a)));
    if (a.kphysadd != 0) buffer = a.kphysadd;
    printf("%s: map the buffer: %s\n", when, name_of(map_at(fd, buffer, 0x1000, NULL)));
    printf("%s: map the BIOS area: %s\n", when, name_of(map_at(fd, 0xF0000, 0x10000, NULL)));
    printf("%s: write port 0x70: %s\n", when, name_of(port_write(fd, 0x70, 0x0F)));
    printf("%s: lock the keyboard: %s\n", when, name_of(request(fd, CMD_LOCK_KB, NULL)));
    request(fd, CMD_UNLOCK_KB, NULL);
    return buffer;
}

/* Opened as root; every request and mapping refused once the process has
 * dropped to uid 1000, though it still holds the descriptor. */
static int check_dropped(const char *path) {
    int fd = open(path, O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        printf("open: %s\n", name_of(errno));
        return 1;
    }
    unsigned long buffer = use_device(fd, "as root", 0);
    if (setgroups(0, NULL) != 0 || setgid(1000) != 0 || setuid(1000) != 0) {
        perror("setuid");
        return 1;
    }
    use_device(fd, "after setuid(1000)", buffer);
    close(fd);
    return 0;
}

/* Under lockdown: the opener's own buffers and the SMI command port only. */
static int check_lockdown(const char *path) {
    int fd = open(path, O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        printf("open: %s\n", name_of(errno));
        return 1;
    }
    use_device(fd, "locked down", 0);
    printf("locked down: write port 0xb2: %s\n", name_of(port_write(fd, 0xB2, 0x7F)));
    close(fd);
    return 0;
}

static int s_fd;
static time_t s_end;
static long s_unexpected;
static pthread_mutex_t s_count = PTHREAD_MUTEX_INITIALIZER;

static void unexpected(const char *what, int e) {
    pthread_mutex_lock(&s_count);
    if (s_unexpected++ < 5) fprintf(stderr, "stress: %s: %s\n", what, name_of(e));
    pthread_mutex_unlock(&s_count);
}

/* One worker: buffers allocated, mapped, refused and freed, the BIOS area
 * mapped, port and keyboard requests, all on the shared descriptor. */
static void *worker(void *seedp) {
    unsigned seed = (unsigned)(uintptr_t)seedp;
    while (time(NULL) < s_end) {
        struct alloc_record a;
        memset(&a, 0, sizeof(a));
        a.size = 0x1000 + (long)(rand_r(&seed) % 0x1F000);
        int e = request(s_fd, CMD_ALLOC, &a);
        if (e == 0) {
            size_t len = ((size_t)a.size + 0xFFF) & ~(size_t)0xFFF;
            void *p = NULL;
            e = map_at(s_fd, a.kphysadd, len, &p);
            if (e != 0) unexpected("map a buffer", e);
            if (p != NULL) {
                ((volatile unsigned char *)p)[len - 1] = (unsigned char)seed;
                struct alloc_record f = a;
                e = request(s_fd, CMD_FREE, &f);
                if (e != EBUSY) unexpected("free while mapped", e);
                munmap(p, len);
            }
            struct alloc_record f = a;
            e = request(s_fd, CMD_FREE, &f);
            if (e != 0) unexpected("free", e);
        } else if (e != ENOMEM) {
            unexpected("alloc", e);
        }
        e = map_at(s_fd, 0xF0000, 0x10000, NULL);
        if (e != 0) unexpected("map the BIOS area", e);
        e = port_write(s_fd, 0x70, 0x0F);
        if (e != 0) unexpected("port 0x70", e);
        if (request(s_fd, CMD_LOCK_KB, NULL) != 0 || request(s_fd, CMD_UNLOCK_KB, NULL) != 0) unexpected("keyboard", errno);
    }
    return NULL;
}

static long run_workers(unsigned seed) {
    pthread_t threads[2];
    for (int i = 0; i < 2; ++i) pthread_create(&threads[i], NULL, worker, (void *)(uintptr_t)(seed + (unsigned)i));
    for (int i = 0; i < 2; ++i) pthread_join(threads[i], NULL);
    return s_unexpected;
}

static int stress(const char *path, int seconds) {
    s_fd = open(path, O_RDWR | O_CLOEXEC);
    if (s_fd < 0) {
        printf("open: %s\n", name_of(errno));
        return 1;
    }
    s_end = time(NULL) + seconds;
    pid_t child = fork();
    if (child == 0) _exit(run_workers(100) == 0 ? 0 : 1);
    long mine = run_workers(1);
    int status = 0;
    waitpid(child, &status, 0);
    int clean = mine == 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    printf("two threads in each of two processes on one descriptor: %s\n", clean ? "ok" : "unexpected results");
    close(s_fd);
    return 0;
}

int main(int argc, char **argv) {
    setvbuf(stdout, NULL, _IOLBF, 0);
    if (argc >= 3 && strcmp(argv[1], "as-nobody") == 0) {
        if (setgroups(0, NULL) != 0 || setgid(65534) != 0 || setuid(65534) != 0) {
            perror("as-nobody");
            return 1;
        }
        execv(argv[2], argv + 2);
        perror(argv[2]);
        return 127;
    }
    if (argc == 3 && strcmp(argv[1], "open") == 0) {
        int fd = open(argv[2], O_RDWR | O_CLOEXEC);
        printf("open %s as uid %d: %s\n", argv[2], (int)getuid(), fd < 0 ? name_of(errno) : "ok");
        return 0;
    }
    if (argc == 3 && strcmp(argv[1], "driver") == 0) return check_driver(argv[2]);
    if (argc == 3 && strcmp(argv[1], "dropped") == 0) return check_dropped(argv[2]);
    if (argc == 3 && strcmp(argv[1], "lockdown") == 0) return check_lockdown(argv[2]);
    if (argc == 4 && strcmp(argv[1], "stress") == 0) return stress(argv[2], atoi(argv[3]));
    fprintf(stderr, "usage: yozprobe as-nobody PROG ARGS... | open PATH | driver PATH | dropped PATH | lockdown PATH |"
                    " stress PATH SECONDS\n");
    return 2;
}
