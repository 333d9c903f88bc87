// What every platform layer accepts from the drive code: the drive-type root
// path "X:\", the device path "\\.\X:", and the one set of open arguments.
#ifndef QSCAN_PLATFORM_DRIVE_PATHS_H
#define QSCAN_PLATFORM_DRIVE_PATHS_H

#include <string.h>

#include "platform/win32.h"

// The drive character of "X:\", or 0 when root is not of that form.
inline char root_path_letter(LPCSTR root) {
    if (root == NULL || root[0] == '\0' || root[1] != ':' || root[2] != '\\' || root[3] != '\0')
        return 0;
    return root[0];
}

// The drive character of "\\.\X:", or 0 when path is not of that form.
inline char device_path_letter(LPCSTR path) {
    if (path == NULL || strncmp(path, "\\\\.\\", 4) != 0 || path[4] == '\0' || path[5] != ':' ||
        path[6] != '\0')
        return 0;
    return path[4];
}

// True for exactly the arguments the drive code opens a drive with: read and
// write, shared for both, no security attributes, an existing device, normal
// attributes, no template.
inline bool is_drive_open(DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                          DWORD disposition, DWORD attributes, HANDLE template_file) {
    return access == (GENERIC_READ | GENERIC_WRITE) && share == (FILE_SHARE_READ | FILE_SHARE_WRITE) &&
           security == NULL && disposition == OPEN_EXISTING && attributes == FILE_ATTRIBUTE_NORMAL &&
           template_file == NULL;
}

#endif
