/* Preloaded into a program (LD_PRELOAD), a disk whose flushes never end, as a network file
   system that stopped answering: fsync and fdatasync wait until a signal ends the program. */
#include <unistd.h>

int fsync(int fd) {
    (void)fd;
    for (;;) pause();
}

int fdatasync(int fd) {
    (void)fd;
    for (;;) pause();
}
