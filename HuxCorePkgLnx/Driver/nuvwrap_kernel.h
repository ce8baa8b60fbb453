/* Kernel headers that must come right after linux/version.h: none for a
 * kbuild kernel; linux/config.h for a 2.4 kernel. The program writes the
 * lines of the kernel it builds for in place of the include of this file. */
