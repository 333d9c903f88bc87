// The progress line: its adaptive look at the clock, its rate and its width.
#include "progress.h"

#include "platform/terminal.h"

#include <chrono>

namespace {

const double TOP_SPEED = 99.9;  // keeps the speed to four characters
const uint64_t MS = 1000000;
const uint64_t INTERVAL = 250 * MS;
const uint64_t CHECK_AT_LEAST = 30 * MS;
const uint64_t CHECK_AT_MOST = 120 * MS;
const uint32_t CHECK_MASK_LIMIT = 4095;

// Writes text over what is on the screen, blanks where it is shorter.
void show(progress* p, const char* text) {
    int n = fprintf(p->out, "%s", text);
    if (n < p->width)
        fprintf(p->out, "%*s", p->width - n, "");
    fprintf(p->out, "\r");
    p->shown = true;
    p->width = n;
    erase_on_interrupt(n > PROGRESS_WIDTH ? n : PROGRESS_WIDTH);
}

}  // namespace

uint64_t steady_clock_ns(void) {
    return (uint64_t)std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void progress_start(progress* p, bool enabled, progress_clock clock, FILE* out) {
    p->enabled = enabled;
    p->shown = false;
    p->clock = clock;
    p->out = out;
    p->mask = 0;
    p->checked = p->printed = enabled ? clock() : 0;
    p->printed_lba = 0;
    p->width = 0;
}

void progress_update(progress* p, uint32_t lba, const timing* running) {
    if (!p->enabled || (lba & p->mask) != 0)
        return;
    uint64_t now = p->clock();
    if (now - p->checked < CHECK_AT_LEAST && p->mask < CHECK_MASK_LIMIT)
        p->mask = p->mask * 2 + 1;
    else if (now - p->checked > CHECK_AT_MOST && p->mask > 0)
        p->mask /= 2;
    p->checked = now;
    if (now - p->printed < INTERVAL)
        return;
    double seconds = (double)(now - p->printed) / 1e9;
    double speed = (lba - p->printed_lba) / seconds / FRAMES_PER_SECOND;
    if (speed > TOP_SPEED)
        speed = TOP_SPEED;
    fflush(stdout);
    char line[32];
    snprintf(line, sizeof line, "%02u:%02u %4.1fx", running->abs.m, running->abs.s, speed);
    show(p, line);
    p->printed = now;
    p->printed_lba = lba;
}

void progress_note(progress* p, const char* text) {
    if (p->enabled)
        show(p, text);
}

void progress_end(progress* p) {
    if (p->shown)
        fprintf(p->out, "%*s\r", p->width > PROGRESS_WIDTH ? p->width : (int)PROGRESS_WIDTH, "");
    p->shown = false;
    p->width = 0;
    erase_on_interrupt(0);
}
