// Standard input byte for byte, on POSIX systems: it always is.
#include "platform/binary_input.h"

void binary_standard_input() {}
