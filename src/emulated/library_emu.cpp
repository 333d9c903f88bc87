// libqscan-emu's own part: drive D: of the emulated drive loaded as the
// QSCAN_EMULATED_* variables say (emulated_environment.h) when the library
// is loaded, and again whenever a test that changed them asks.
#include "emulated/emulated_drive.h"
#include "emulated/emulated_environment.h"
#include "sheet/qscan.h"

// Empties the drive, then loads it anew; 0, or 1 after a message on
// standard error, and then there is no drive D: to read (a test whose
// settings are wrong must not read the sample disc in their place).
extern "C" QSCAN_API int qscan_emulated_reload(void) {
    emulated_reset();
    if (emulated_environment("libqscan-emu") == 0)
        return 0;
    emulated_refuse_drive("libqscan-emu: the QSCAN_EMULATED_* variables were refused (standard error says why)");
    return 1;
}

namespace {

__attribute__((constructor)) void load_on_start() {
    qscan_emulated_reload();
}

}  // namespace
