// The hooks each platform layer (Linux, Windows, the emulated drive) defines
// for the drive code and the programs, beside the Win32 kernel services.
#ifndef QSCAN_PLATFORM_PLATFORM_H
#define QSCAN_PLATFORM_PLATFORM_H

// The platform's own words for why the last open failed where the device
// exists ("/dev/sr0: Permission denied: ..."), into text; false when it
// has none.
bool open_failure_reason(char* text, unsigned size);

// Opens `path`, given where a drive letter could be, into *device: on Linux
// a path to a block device of the SCSI CD-ROM driver or a character device
// of the SCSI generic driver, symbolic links followed ("/dev/sr0",
// "/dev/cdrom"). False for any other node, a path that names none, or an
// open the system refused (open_failure_reason then says why); always
// false where drives are named by letters alone (Windows, the emulated
// drive).
bool platform_open_path(const char* path, void** device);

// Whether `path` names a block or character device, symbolic links
// followed: qscan-sheet reads a drive through such a path, and a saved scan
// from any other. False where drives are named by letters alone.
bool platform_is_device(const char* path);

#endif
