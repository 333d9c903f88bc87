// The hooks each platform layer (Linux, Windows, the emulated drive) defines
// for the drive code and the programs, beside the Win32 kernel services.
#ifndef QSCAN_PLATFORM_PLATFORM_H
#define QSCAN_PLATFORM_PLATFORM_H

// The platform's own words for why the last open failed where the device
// exists ("/dev/sr0: Permission denied: ..."), into text; false when it
// has none.
bool open_failure_reason(char* text, unsigned size);

#endif
