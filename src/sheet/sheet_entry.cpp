// Entry point of qscan-sheet: hands over to qscan_sheet_main.
#include "sheet/qscan_sheet.h"

int main(int argc, char** argv) {
    return qscan_sheet_main(argc, argv);
}
