// Standard input byte for byte, on Windows: out of the C runtime's text mode.
#include "platform/binary_input.h"

#include <fcntl.h>
#include <io.h>
#include <stdio.h>

void binary_standard_input() {
    _setmode(_fileno(stdin), _O_BINARY);
}
