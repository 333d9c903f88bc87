// Standard input read byte for byte: one implementation per platform,
// chosen when the program is built.
#ifndef QSCAN_PLATFORM_BINARY_INPUT_H
#define QSCAN_PLATFORM_BINARY_INPUT_H

// Makes standard input deliver its bytes as they are, before anything is
// read from it: no line ends rewritten, no byte taken for the end of the
// input (Windows' text mode ends a stream at its first Ctrl-Z).
void binary_standard_input();

#endif
