// A drive's answer checked against its own length field before anything of
// it is used: drives answer shorter than they say, say less than their own
// header, or name a length that is no whole number of descriptors.
#ifndef QSCAN_DISC_ANSWER_H
#define QSCAN_DISC_ANSWER_H

#include <stdint.h>

// Room for the words of why an answer is malformed, which follow "the
// drive's CD-Text is malformed: " ("its length field says 0 bytes").
enum { ANSWER_WHY_SIZE = 128 };

// Where an answer's length field lies and what it counts.
struct answer_shape {
    unsigned field_at;      // the length field's first byte
    unsigned field_size;    // 1 or 2 bytes, most significant first
    unsigned counted_from;  // it counts the bytes after this many: 2 (READ TOC), 4 (READ SUB-CHANNEL), 5 (INQUIRY)
    unsigned header;        // the bytes before the first descriptor, the length field's own included
    unsigned descriptor;    // bytes a descriptor; 0 when the answer has none
    const char* descriptors;  // their name in the words: "8-byte descriptors", "18-byte packs"
};

// The bytes of `answer` (`arrived` of them arrived) that its length field
// says it holds, in *usable, when they make a whole answer: the header at
// least, no more than arrived, a whole number of descriptors after the
// header. With `cut` (the request asked for less than the drive said it
// has, on purpose) what arrived is used instead, in whole descriptors.
// False for a malformed answer, with why in `why`. The words give the
// field's own value, and what arrived counted as the field counts: a READ
// TOC answer of 406 bytes whose field says 812 is "its length field says
// 812 bytes, but 404 arrived"; one whose field says 1 is "its length field
// says 1 byte"; 2 bytes of a 4-byte header are "only 2 bytes arrived".
bool answer_bytes(const uint8_t* answer, uint32_t arrived, const answer_shape* shape, bool cut, uint32_t* usable,
                  char why[ANSWER_WHY_SIZE]);

// The words for an answer whose length field, whole and within what
// arrived, still says too little for what the answer must hold (a session
// report without its descriptor): "its length field says 2 bytes". The
// field must have arrived, as answer_bytes has made sure.
void answer_says_too_little(const uint8_t* answer, const answer_shape* shape, char why[ANSWER_WHY_SIZE]);

#endif
