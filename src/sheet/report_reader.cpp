// Reads qscan's report line by line through a fixed buffer: the raw Q lines
// are parsed on a fast path, every other line is matched against the
// formats qscan prints its reports with.
#include "sheet/report_reader.h"

#include <errno.h>
#include <string.h>

#include "report_lines.h"

namespace {

// The lines of the reports other than -r, which the sheet passes over.
const char* const OTHER_REPORT_LINES[] = {
    CRC_ERROR_LINE, FRAME_POSITION_LINE, FRAME_MCN_LINE, FRAME_ISRC_LINE, FRAME_UNKNOWN_LINE,
    POSITION_LINE,  CATALOGUE_LINE,      ISRC_LINE,
};

const int RAW_LINE_LENGTH = 3 * Q_SIZE;  // "41 01 ... 32 ": two digits and a blank per byte

int hex_digit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The 12 bytes of a raw Q line, as RAW_LINE prints them, or without the
// last blank.
bool parse_raw(const char* text, size_t n, uint8_t q[Q_SIZE]) {
    if (n != (size_t)RAW_LINE_LENGTH && n != (size_t)RAW_LINE_LENGTH - 1)
        return false;
    for (int i = 0; i < Q_SIZE; ++i, text += 3) {
        int high = hex_digit(text[0]), low = hex_digit(text[1]);
        bool separator = (size_t)(3 * i + 2) < n;
        if (high < 0 || low < 0 || (separator && text[2] != ' '))
            return false;
        q[i] = (uint8_t)(high << 4 | low);
    }
    return true;
}

bool is_blank(const char* text, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (text[i] != ' ' && text[i] != '\t')
            return false;
    return true;
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// One %[0][width][ll]d/u/x conversion at *text; moves *text past it. With
// `partial`, text that ends inside the number may be its start.
bool printed_number(const char** text, const char* end, bool zero_flag, int width, int max_digits,
                    bool hex, bool partial) {
    const char* p = *text;
    int blanks = 0;
    while (!zero_flag && p < end && *p == ' ') {
        ++p;
        ++blanks;
    }
    const char* digits = p;
    while (p < end && (hex ? hex_digit(*p) >= 0 : is_digit(*p)))
        ++p;
    int count = (int)(p - digits);
    if (partial && p == end && count <= max_digits && blanks < (width > 0 ? width : 1)) {
        *text = p;
        return true;
    }
    if (count == 0 || count > max_digits)
        return false;
    // Padding only up to the width; a zero of its own only where padding is.
    if (zero_flag ? count < width || (count > width && digits[0] == '0')
                  : blanks != (count < width ? width - count : 0) || (count > 1 && digits[0] == '0'))
        return false;
    *text = p;
    return true;
}

bool is_other_report_line(const char* text, size_t n, bool partial = false) {
    for (const char* format : OTHER_REPORT_LINES)
        if (printed_by(text, n, format, partial))
            return true;
    return false;
}

// Keeps the start of a refused line for the message, anything but printable
// ASCII shown as '?'.
int refuse(report_reader* r, const char* text, size_t n) {
    size_t shown = n < (size_t)REFUSED_LINE_SHOWN ? n : (size_t)REFUSED_LINE_SHOWN;
    for (size_t i = 0; i < shown; ++i)
        r->refused[i] = text[i] >= ' ' && text[i] <= '~' ? text[i] : '?';
    r->refused[shown] = '\0';
    r->refused_cut = shown < n;
    return READER_NOT_REPORT;
}

}  // namespace

bool printed_by(const char* text, size_t n, const char* format, bool partial) {
    const char* end = text + n;
    for (const char* f = format; *f != '\0'; ++f) {
        if (*f == '\n' && f[1] == '\0')
            break;
        if (partial && text == end)
            return true;
        if (*f != '%') {
            if (text == end || *text != *f)
                return false;
            ++text;
            continue;
        }
        ++f;
        bool zero_flag = *f == '0';
        if (zero_flag)
            ++f;
        int width = 0;
        while (is_digit(*f))
            width = width * 10 + (*f++ - '0');
        int max_digits = 3;
        if (f[0] == 'l' && f[1] == 'l') {
            f += 2;
            max_digits = 20;
        }
        if (*f == 'c') {
            if (text == end || *text < '0' || *text > 'o')
                return false;
            ++text;
        } else if (!printed_number(&text, end, zero_flag, width, max_digits, *f == 'x', partial)) {
            return false;
        }
    }
    return text == end;
}

void reader_start_memory(report_reader* r, const void* bytes, size_t size) {
    reader_start(r, NULL);
    r->bytes = (const char*)bytes;
    r->bytes_left = size;
}

void reader_start(report_reader* r, FILE* in) {
    r->in = in;
    r->bytes = NULL;
    r->bytes_left = 0;
    r->start = r->end = 0;
    r->at_end = false;
    r->line = 0;
    r->refused[0] = '\0';
    r->refused_cut = false;
    r->blank_from = 0;
}

int reader_next(report_reader* r, uint8_t q[Q_SIZE]) {
    // A whole line with its CR LF, or the proof that a line is too long.
    const size_t window = REPORT_LINE_LIMIT + 2;
    for (;;) {
        size_t available = r->end - r->start;
        char* text = r->buffer + r->start;
        char* newline = (char*)memchr(text, '\n', available < window ? available : window);
        if (newline == NULL && available < window && !r->at_end) {
            memmove(r->buffer, text, available);
            r->start = 0;
            r->end = available;
            size_t got;
            if (r->in != NULL) {
                got = fread(r->buffer + available, 1, sizeof r->buffer - available, r->in);
            } else {
                got = r->bytes_left < sizeof r->buffer - available ? r->bytes_left : sizeof r->buffer - available;
                if (got > 0)
                    memcpy(r->buffer + available, r->bytes, got);
                r->bytes += got;
                r->bytes_left -= got;
            }
            r->end += got;
            if (got == 0) {
                if (r->in != NULL && ferror(r->in)) {
                    if (errno == 0)
                        errno = EIO;
                    return READER_FAILED;
                }
                r->at_end = true;
            }
            continue;
        }
        if (available == 0)
            return READER_END;  // blank lines at the end are an editor's
        ++r->line;
        if (newline == NULL && available >= window)
            return refuse(r, text, window);  // longer than any report line
        size_t length = newline ? (size_t)(newline - text) : available;
        r->start += newline ? length + 1 : length;
        if (newline != NULL && length > 0 && text[length - 1] == '\r')
            --length;
        if (is_blank(text, length)) {
            if (r->blank_from == 0)
                r->blank_from = r->line;
            continue;
        }
        if (r->blank_from != 0) {  // a line after blank lines: the blank lines were no editor's end
            r->line = r->blank_from;
            return refuse(r, "", 0);
        }
        if (parse_raw(text, length, q))
            return READER_SECTOR;
        if (is_other_report_line(text, length))
            continue;
        if (newline == NULL && (printed_by(text, length, RAW_LINE, true) || is_other_report_line(text, length, true)))
            return READER_CUT;
        return refuse(r, text, length);
    }
}
