// The Linux platform layer: the three Win32 kernel services over Linux optical
// drives (D: is /dev/sr0, or a path to a drive's node) and the SG_IO ioctl. Exposed here for its tests: the
// kernel calls it makes, and the pure translations between the two worlds.
#ifndef QSCAN_PLATFORM_LINUX_H
#define QSCAN_PLATFORM_LINUX_H

#include <scsi/sg.h>
#include <stddef.h>
#include <stdint.h>
#include <sys/stat.h>

#include "platform/win32.h"

// The kernel calls the layer makes. They point at the real system calls;
// tests replace them with a scripted fake kernel.
struct linux_kernel {
    int (*stat)(const char* path, struct stat* st);
    int (*open)(const char* path, int flags);
    int (*fstat)(int fd, struct stat* st);
    int (*sg_io)(int fd, sg_io_hdr_t* hdr);  // ioctl(fd, SG_IO, hdr)
    int (*dup_above)(int fd, int lowest);    // fcntl(fd, F_DUPFD_CLOEXEC, lowest)
    int (*close)(int fd);
    void (*sleep_ms)(unsigned milliseconds);  // nanosleep, through interruptions
    uint64_t (*clock_ms)(void);               // CLOCK_MONOTONIC in milliseconds
};
extern linux_kernel linux_calls;

// Flags for opening a drive: read-only, non-blocking, close-on-exec. READ CD
// needs only read access through SG_IO, and a pressed disc is read-only, so
// a user with read access to the node can scan. O_NONBLOCK is what lets the
// open succeed at all: without it the kernel's CD-ROM driver refuses an
// empty tray and discs without a data track, where the scan must be the
// one to tell the user what the drive says.
extern const int LINUX_DRIVE_OPEN_FLAGS;

// The node of the drive named by a letter: D: is /dev/sr0, E: /dev/sr1, and
// so on to Z: /dev/sr22, either case. Writes the path (at most 11 bytes with
// its terminator) and returns true; false for any other character.
bool linux_drive_node(char letter, char* path, size_t size);

// True when st describes a block device of the kernel's SCSI CD-ROM driver.
bool linux_is_optical_drive(const struct stat* st);

// True for the nodes a path may name in place of a drive letter: a block
// device of the SCSI CD-ROM driver, or a character device of the SCSI
// generic driver (major 21), which carries SG_IO as well.
bool linux_is_drive_path_node(const struct stat* st);

// Fills *hdr to carry request through SG_IO: direction, command block, data
// buffer and length, time-out in milliseconds, and sense buffer (sense, of
// request->SenseInfoLength bytes, or none when that is 0). Returns false for
// a request SG_IO cannot carry (an unknown direction).
bool linux_sg_from_request(const SCSI_PASS_THROUGH_DIRECT* request, UCHAR* sense,
                           sg_io_hdr_t* hdr);

// Writes SG_IO's outcome back into the request as Windows does: ScsiStatus,
// the length actually transferred, the sense length, and the bytes returned.
// Returns the DeviceIoControl result: FALSE for a transport failure (the
// ioctl failed, or the host adapter or driver reports an error); TRUE when
// the drive answered, CHECK CONDITION included.
BOOL linux_request_from_sg(int ioctl_result, const sg_io_hdr_t* hdr,
                           SCSI_PASS_THROUGH_DIRECT* request, DWORD* bytes_returned);

#endif
