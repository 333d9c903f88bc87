// Serving the command ring of the kernel's target_core_user: each entry the
// kernel queued, checked against the mapped region before anything in it
// is trusted, answered in place through cd_target, and the tail moved on.
#ifndef QSCAN_TESTS_KERNEL_RING_SERVER_H
#define QSCAN_TESTS_KERNEL_RING_SERVER_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include <string>

struct ring_server {
    uint8_t* region;        // the mapped region: mailbox, command ring, data area
    size_t size;            // its size in bytes
    uint8_t* ring;
    uint32_t ring_size;
    uint32_t tail;          // the next entry to answer, from the ring's start
    bool read_len_offered;  // the kernel takes the bytes actually read (a short transfer)
    FILE* log;              // a line per command, or NULL
};

// Reads the mailbox at the start of the region. Returns false with *error
// for a mailbox version other than 2 or a ring that does not lie within the
// region.
bool ring_server_start(ring_server* s, uint8_t* region, size_t size, FILE* log, std::string* error);

// Answers every entry from the tail to the kernel's head, moving the tail
// past each. Returns the number of commands answered; -1 with *error for an
// entry the ring's rules cannot hold (a length of 0 or one past the ring's
// end), after which nothing more can be read. A command whose block or data
// vectors lie outside the region is answered with a hardware error.
int ring_server_serve(ring_server* s, std::string* error);

#endif
