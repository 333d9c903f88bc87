// A drive's answer checked against its own length field: the one place that
// reads a length field, so that no parser reads past what arrived.
#include "disc/answer.h"

#include <stdio.h>

namespace {

uint32_t length_field(const uint8_t* answer, const answer_shape* shape) {
    uint32_t value = 0;
    for (unsigned i = 0; i < shape->field_size; ++i)
        value = value << 8 | answer[shape->field_at + i];
    return value;
}

const char* bytes_word(uint32_t n) {
    return n == 1 ? "byte" : "bytes";
}

}  // namespace

bool answer_bytes(const uint8_t* answer, uint32_t arrived, const answer_shape* shape, bool cut, uint32_t* usable,
                  char why[ANSWER_WHY_SIZE]) {
    *usable = 0;
    why[0] = '\0';
    if (arrived < shape->field_at + shape->field_size) {
        snprintf(why, ANSWER_WHY_SIZE, "only %lu %s arrived", (unsigned long)arrived, bytes_word(arrived));
        return false;
    }
    uint32_t field = length_field(answer, shape);
    uint32_t said = shape->counted_from + field;  // the whole answer, by its own word
    if (said < shape->header) {
        answer_says_too_little(answer, shape, why);
        return false;
    }
    if (shape->descriptor > 0 && (said - shape->header) % shape->descriptor != 0) {
        snprintf(why, ANSWER_WHY_SIZE, "its length field says %lu %s, which is no whole number of %s",
                 (unsigned long)field, bytes_word(field), shape->descriptors);
        return false;
    }
    if (said <= arrived) {
        *usable = said;
        return true;
    }
    if (!cut || arrived < shape->header) {
        if (cut) {
            snprintf(why, ANSWER_WHY_SIZE, "only %lu %s arrived", (unsigned long)arrived, bytes_word(arrived));
        } else {
            uint32_t came = arrived > shape->counted_from ? arrived - shape->counted_from : 0;
            snprintf(why, ANSWER_WHY_SIZE, "its length field says %lu %s, but %lu arrived", (unsigned long)field,
                     bytes_word(field), (unsigned long)came);
        }
        return false;
    }
    uint32_t body = arrived - shape->header;
    *usable = shape->header + (shape->descriptor > 0 ? body - body % shape->descriptor : body);
    return true;
}

void answer_says_too_little(const uint8_t* answer, const answer_shape* shape, char why[ANSWER_WHY_SIZE]) {
    uint32_t field = length_field(answer, shape);
    snprintf(why, ANSWER_WHY_SIZE, "its length field says %lu %s", (unsigned long)field, bytes_word(field));
}
