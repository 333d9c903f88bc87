// The program qscan-sheet, whatever drive it is linked with.
#ifndef QSCAN_SHEET_QSCAN_SHEET_H
#define QSCAN_SHEET_QSCAN_SHEET_H

// The whole program: returns the process exit status. 0 when the sheet was
// made from every block it needed; 1 when some could not be read (the sheet
// is still printed), or with a message: a drive that cannot be opened or
// read, input that is not qscan's report or cannot be read, output that
// cannot be written; 2 for a malformed command line.
int qscan_sheet_main(int argc, char** argv);

#endif
