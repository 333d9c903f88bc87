// Process entry point of qscan: hands over to the main routine.
#include "main.h"

int main(int argc, char** argv) {
    return qscan_main(argc, argv);
}
