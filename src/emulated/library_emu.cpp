// libqscan-emu's own part: drive D: of the emulated drive loaded as the
// QSCAN_EMULATED_* variables say (emulated_environment.h) when the library
// is loaded, and again whenever a test that changed them asks.
#include "emulated/emulated_drive.h"
#include "emulated/emulated_environment.h"
#include "sheet/qscan.h"

// Empties the drive, then loads it anew; 0, or 1 after a message on
// standard error.
extern "C" QSCAN_API int qscan_emulated_reload(void) {
    emulated_reset();
    return emulated_environment("libqscan-emu");
}

namespace {

__attribute__((constructor)) void load_on_start() {
    qscan_emulated_reload();
}

}  // namespace
