// Entry point of qscan-sheet-emu: qscan-sheet on the emulated drive, whose D:
// holds the disc the QSCAN_EMULATED_* variables describe (emulated_environment.h).
#include "emulated/emulated_environment.h"
#include "sheet/qscan_sheet.h"

int main(int argc, char** argv) {
    int status = emulated_environment("qscan-sheet-emu");
    return status != 0 ? status : qscan_sheet_main(argc, argv);
}
