// The Linux platform layer: GetDriveTypeA, CreateFileA and DeviceIoControl
// over /dev/srN and the SG_IO ioctl, a small stand-in for what Windows does;
// and the paths to a drive's node that the programs take beside letters.
#include "platform/linux.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>

#include <linux/major.h>

#include "platform/drive_paths.h"
#include "platform/platform.h"

namespace {

// The driver byte reports sense data it fetched on its own; that is the
// drive's answer (CHECK CONDITION), not a transport failure.
const unsigned DRIVER_BYTE_MASK = 0x0F;
const unsigned DRIVER_SENSE_BYTE = 0x08;

int real_stat(const char* path, struct stat* st) {
    return stat(path, st);
}

int real_open(const char* path, int flags) {
    return open(path, flags);
}

int real_fstat(int fd, struct stat* st) {
    return fstat(fd, st);
}

int real_sg_io(int fd, sg_io_hdr_t* hdr) {
    return ioctl(fd, SG_IO, hdr);
}

int real_dup_above(int fd, int lowest) {
    return fcntl(fd, F_DUPFD_CLOEXEC, lowest);
}

int real_close(int fd) {
    return close(fd);
}

void real_sleep_ms(unsigned milliseconds) {
    struct timespec t = {(time_t)(milliseconds / 1000), (long)(milliseconds % 1000) * 1000000L};
    while (nanosleep(&t, &t) != 0 && errno == EINTR) {
    }
}

uint64_t real_clock_ms(void) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (uint64_t)now.tv_sec * 1000 + (uint64_t)now.tv_nsec / 1000000;
}

// The last open that failed where the node exists, in this thread: its node and errno.
thread_local char failed_node[PATH_MAX];
thread_local int failed_errno = 0;

// Opens a drive's node, keeping what the system said of a refusal. With a
// standard stream closed, open() hands out its number and the reports
// meant for that stream would be written to the drive: the drive is kept
// above the three, so those writes fail as they should.
int open_node(const char* node) {
    int fd = linux_calls.open(node, LINUX_DRIVE_OPEN_FLAGS);
    failed_errno = fd < 0 ? errno : 0;
    snprintf(failed_node, sizeof failed_node, "%s", node);
    if (fd >= 0 && fd <= STDERR_FILENO) {
        int moved = linux_calls.dup_above(fd, STDERR_FILENO + 1);
        linux_calls.close(fd);
        fd = moved;
    }
    return fd;
}

}  // namespace

linux_kernel linux_calls = {real_stat,  real_open,     real_fstat,   real_sg_io,
                            real_dup_above, real_close, real_sleep_ms, real_clock_ms};

const int LINUX_DRIVE_OPEN_FLAGS = O_RDONLY | O_NONBLOCK | O_CLOEXEC;

bool linux_drive_node(char letter, char* path, size_t size) {
    bool upper = letter >= 'D' && letter <= 'Z';
    bool lower = letter >= 'd' && letter <= 'z';
    if (!upper && !lower)
        return false;
    int n = snprintf(path, size, "/dev/sr%d", letter - (upper ? 'D' : 'd'));
    return n > 0 && (size_t)n < size;
}

bool linux_is_optical_drive(const struct stat* st) {
    return S_ISBLK(st->st_mode) && major(st->st_rdev) == SCSI_CDROM_MAJOR;
}

bool linux_is_drive_path_node(const struct stat* st) {
    return linux_is_optical_drive(st) || (S_ISCHR(st->st_mode) && major(st->st_rdev) == SCSI_GENERIC_MAJOR);
}

bool linux_sg_from_request(const SCSI_PASS_THROUGH_DIRECT* request, UCHAR* sense,
                           sg_io_hdr_t* hdr) {
    memset(hdr, 0, sizeof *hdr);
    hdr->interface_id = 'S';
    if (request->DataTransferLength == 0)
        hdr->dxfer_direction = SG_DXFER_NONE;
    else if (request->DataIn == SCSI_IOCTL_DATA_IN)
        hdr->dxfer_direction = SG_DXFER_FROM_DEV;
    else if (request->DataIn == SCSI_IOCTL_DATA_OUT)
        hdr->dxfer_direction = SG_DXFER_TO_DEV;
    else
        return false;
    hdr->cmd_len = request->CdbLength;
    hdr->cmdp = (unsigned char*)request->Cdb;
    hdr->dxfer_len = request->DataTransferLength;
    hdr->dxferp = request->DataBuffer;
    hdr->mx_sb_len = request->SenseInfoLength;
    hdr->sbp = request->SenseInfoLength ? sense : NULL;
    // Windows counts the time-out in seconds, SG_IO in milliseconds.
    hdr->timeout = request->TimeOutValue > UINT_MAX / 1000 ? UINT_MAX : request->TimeOutValue * 1000;
    return true;
}

BOOL linux_request_from_sg(int ioctl_result, const sg_io_hdr_t* hdr,
                           SCSI_PASS_THROUGH_DIRECT* request, DWORD* bytes_returned) {
    unsigned driver = hdr->driver_status & DRIVER_BYTE_MASK;
    if (ioctl_result < 0 || hdr->host_status != 0 || (driver != 0 && driver != DRIVER_SENSE_BYTE))
        return FALSE;
    request->ScsiStatus = hdr->status;
    int resid = hdr->resid;
    if (resid < 0 || (unsigned)resid > hdr->dxfer_len)
        resid = (int)hdr->dxfer_len;  // a count that makes no sense: nothing is known to have arrived
    request->DataTransferLength = hdr->dxfer_len - (unsigned)resid;
    DWORD returned = sizeof *request;
    if (request->SenseInfoLength) {
        request->SenseInfoLength = hdr->sb_len_wr;
        if (hdr->sb_len_wr)
            returned = request->SenseInfoOffset + hdr->sb_len_wr;
    }
    *bytes_returned = returned;
    return TRUE;
}

UINT GetDriveTypeA(LPCSTR root_path) {
    char letter = root_path_letter(root_path);
    if (letter == 'C' || letter == 'c')
        return DRIVE_FIXED;
    char node[16];
    struct stat st;
    if (!linux_drive_node(letter, node, sizeof node) || linux_calls.stat(node, &st) != 0)
        return DRIVE_NO_ROOT_DIR;
    return linux_is_optical_drive(&st) ? DRIVE_CDROM : DRIVE_NO_ROOT_DIR;
}

HANDLE CreateFileA(LPCSTR file_name, DWORD desired_access, DWORD share_mode,
                   LPSECURITY_ATTRIBUTES security_attributes, DWORD creation_disposition,
                   DWORD flags_and_attributes, HANDLE template_file) {
    char node[16];
    if (!is_drive_open(desired_access, share_mode, security_attributes, creation_disposition,
                       flags_and_attributes, template_file) ||
        !linux_drive_node(device_path_letter(file_name), node, sizeof node))
        return INVALID_HANDLE_VALUE;
    int fd = open_node(node);
    return fd < 0 ? INVALID_HANDLE_VALUE : (HANDLE)(intptr_t)fd;
}

BOOL DeviceIoControl(HANDLE device, DWORD io_control_code, LPVOID in_buffer, DWORD in_buffer_size,
                     LPVOID out_buffer, DWORD out_buffer_size, LPDWORD bytes_returned,
                     LPOVERLAPPED overlapped) {
    const DWORD size = sizeof(SCSI_PASS_THROUGH_DIRECT);
    if (device == INVALID_HANDLE_VALUE || io_control_code != IOCTL_SCSI_PASS_THROUGH_DIRECT ||
        in_buffer == NULL || in_buffer_size < size || out_buffer == NULL || out_buffer_size < size ||
        bytes_returned == NULL || overlapped != NULL)
        return FALSE;
    if (in_buffer != out_buffer)
        memmove(out_buffer, in_buffer, size);
    SCSI_PASS_THROUGH_DIRECT* request = (SCSI_PASS_THROUGH_DIRECT*)out_buffer;
    if (request->Length != size || request->CdbLength == 0 || request->CdbLength > sizeof request->Cdb)
        return FALSE;
    UCHAR* sense = NULL;
    if (request->SenseInfoLength) {  // the sense area must lie in the output buffer, after the record
        if (request->SenseInfoOffset < size ||
            (uint64_t)request->SenseInfoOffset + request->SenseInfoLength > out_buffer_size)
            return FALSE;
        sense = (UCHAR*)out_buffer + request->SenseInfoOffset;
    }
    sg_io_hdr_t hdr;
    if (!linux_sg_from_request(request, sense, &hdr))
        return FALSE;
    int result = linux_calls.sg_io((int)(intptr_t)device, &hdr);
    return linux_request_from_sg(result, &hdr, request, bytes_returned);
}

BOOL CloseHandle(HANDLE object) {
    return object != INVALID_HANDLE_VALUE && linux_calls.close((int)(intptr_t)object) == 0;
}

bool platform_open_path(const char* path, void** device) {
    failed_errno = 0;
    struct stat named, opened;
    if (path == NULL || path[0] == '\0' || linux_calls.stat(path, &named) != 0 || !linux_is_drive_path_node(&named))
        return false;
    int fd = open_node(path);
    if (fd < 0)
        return false;
    // The node opened must be the one looked at: a link or node replaced in
    // between could be any device, which no command may reach.
    if (linux_calls.fstat(fd, &opened) != 0 || (opened.st_mode & S_IFMT) != (named.st_mode & S_IFMT) ||
        opened.st_rdev != named.st_rdev) {
        linux_calls.close(fd);
        return false;
    }
    *device = (void*)(intptr_t)fd;
    return true;
}

bool platform_is_device(const char* path) {
    struct stat st;
    return path != NULL && path[0] != '\0' && linux_calls.stat(path, &st) == 0 &&
           (S_ISBLK(st.st_mode) || S_ISCHR(st.st_mode));
}

bool open_failure_reason(char* text, unsigned size) {
    if (failed_errno == 0)
        return false;
    if (failed_errno == EACCES || failed_errno == EPERM)
        snprintf(text, size, "%s: %s: reading a CD needs read access to it, usually by membership of the group cdrom",
                 failed_node, strerror(failed_errno));
    else
        snprintf(text, size, "%s: %s", failed_node, strerror(failed_errno));
    return true;
}

void Sleep(DWORD milliseconds) {
    linux_calls.sleep_ms(milliseconds);
}

DWORD GetTickCount(void) {
    return (DWORD)linux_calls.clock_ms();
}
