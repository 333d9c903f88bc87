// Entry point of qscan-emu: the scanner on the emulated drive, whose D: holds
// the disc the QSCAN_EMULATED_* variables describe (emulated_environment.h).
#include "emulated/emulated_environment.h"
#include "main.h"

int main(int argc, char** argv) {
    int status = emulated_environment("qscan-emu");
    return status != 0 ? status : qscan_main(argc, argv);
}
