// The Win32 names the drive code is written against: the system's own headers
// for the program that runs on Windows, and declarations of the same shapes
// for every other build (the emulated drive, the Linux layer).
//
// Which of the two a target gets is a build setting (QSCAN_WIN32_SYSTEM_HEADERS),
// not the operating system alone: the system headers declare the calls as
// imported from kernel32.dll, which the emulated drive cannot replace.
#ifndef QSCAN_PLATFORM_WIN32_H
#define QSCAN_PLATFORM_WIN32_H

#ifdef QSCAN_WIN32_SYSTEM_HEADERS

#include <windows.h>
#include <ntddscsi.h>

#else

#include <stdint.h>

typedef int BOOL;
typedef unsigned int UINT;
typedef uint8_t UCHAR;
typedef uint16_t USHORT;
typedef uint32_t ULONG;  // 32 bits on every Windows, unlike long on LP64 systems
typedef uint32_t DWORD;
typedef void* HANDLE;
typedef void* PVOID;
typedef void* LPVOID;
typedef const char* LPCSTR;
typedef DWORD* LPDWORD;
typedef struct _OVERLAPPED OVERLAPPED, *LPOVERLAPPED;
typedef struct _SECURITY_ATTRIBUTES SECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

#define TRUE 1
#define FALSE 0

// GetDriveTypeA results.
#define DRIVE_UNKNOWN 0
#define DRIVE_NO_ROOT_DIR 1
#define DRIVE_REMOVABLE 2
#define DRIVE_FIXED 3
#define DRIVE_REMOTE 4
#define DRIVE_CDROM 5
#define DRIVE_RAMDISK 6

// CreateFileA arguments and result.
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x00000001u
#define FILE_SHARE_WRITE 0x00000002u
#define OPEN_EXISTING 3u
#define FILE_ATTRIBUTE_NORMAL 0x00000080u
#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)

// Device type 4 (controller), function 0x405, METHOD_BUFFERED, read and write access.
#define IOCTL_SCSI_PASS_THROUGH_DIRECT 0x0004D014u

#define SCSI_IOCTL_DATA_OUT 0
#define SCSI_IOCTL_DATA_IN 1
#define SCSI_IOCTL_DATA_UNSPECIFIED 2

// Laid out as Windows lays it out with natural alignment: 44 bytes where
// pointers have 4 bytes, 56 where they have 8 (DataBuffer then starts at 24).
typedef struct _SCSI_PASS_THROUGH_DIRECT {
    USHORT Length;
    UCHAR ScsiStatus;
    UCHAR PathId;
    UCHAR TargetId;
    UCHAR Lun;
    UCHAR CdbLength;
    UCHAR SenseInfoLength;
    UCHAR DataIn;
    ULONG DataTransferLength;
    ULONG TimeOutValue;
    PVOID DataBuffer;
    ULONG SenseInfoOffset;
    UCHAR Cdb[16];
} SCSI_PASS_THROUGH_DIRECT, *PSCSI_PASS_THROUGH_DIRECT;

// The kernel services. Each platform layer defines them.
UINT GetDriveTypeA(LPCSTR root_path);
HANDLE CreateFileA(LPCSTR file_name, DWORD desired_access, DWORD share_mode,
                   LPSECURITY_ATTRIBUTES security_attributes, DWORD creation_disposition,
                   DWORD flags_and_attributes, HANDLE template_file);
BOOL DeviceIoControl(HANDLE device, DWORD io_control_code, LPVOID in_buffer, DWORD in_buffer_size,
                     LPVOID out_buffer, DWORD out_buffer_size, LPDWORD bytes_returned,
                     LPOVERLAPPED overlapped);
BOOL CloseHandle(HANDLE object);
// A wait, and a clock in milliseconds that wraps after 49 days (differences
// of two readings are right across the wrap): for a drive becoming ready.
void Sleep(DWORD milliseconds);
DWORD GetTickCount(void);

#endif

#endif
