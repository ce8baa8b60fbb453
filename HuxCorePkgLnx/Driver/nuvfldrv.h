#ifndef _NUVFLDRV_H_
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
