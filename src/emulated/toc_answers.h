// What the emulated drive answers READ TOC/PMA/ATIP with, from the disc it
// holds: its table of contents as a CloneCD control file lists it, as a
// synthesized disc describes it, or else as the disc's own Q frames show it.
// Written apart from the programs' reading of these answers, so that each
// is checked against the other.
#ifndef QSCAN_EMULATED_TOC_ANSWERS_H
#define QSCAN_EMULATED_TOC_ANSWERS_H

#include <stdint.h>

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "disc/toc.h"

// The answer to READ TOC of `format` (0 tracks, 1 sessions, 2 the full TOC),
// addresses as blocks or (`msf`) as minutes, seconds and frames, from track
// or session `number` on. False for a format or number the drive refuses.
bool toc_answer(const disc_toc& toc, uint8_t format, bool msf, uint8_t number, std::vector<uint8_t>* answer);

// A disc's table of contents found from its Q frames, the way a drive that
// read only the program area would: each track's index 01 and CONTROL from
// its first position frames of index 01 and above, the lead-out from its
// frames or the end of the disc. A few hundred blocks are read, found by
// halving, not the whole disc. False when no position frame gives a track.
bool toc_from_frames(uint32_t sector_count, const std::function<bool(uint32_t, uint8_t*)>& fetch, disc_toc* toc);

// The table of contents a CloneCD control file lists in its [Entry N]
// sections (Session, Point, ADR, Control, PLBA). False, with the reason,
// for a file that lists no track or no first session's lead-out.
bool toc_from_clonecd(const std::string& text, disc_toc* toc, std::string* error);

// The CD-Text packs a CloneCD control file lists in its [CDText] section
// (Entries=N; Entry K= sixteen hex bytes: a pack without its CRC). False,
// with the reason, for an entry that is not sixteen hex bytes or a count
// that disagrees; none for a file without the section.
bool cd_text_from_clonecd(const std::string& text, std::vector<std::array<uint8_t, 16>>* packs,
                          std::string* error);

#endif
