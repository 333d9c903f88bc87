// The drive's CD-Text as the sheet shows it: decoded from what the drive
// gave, and its codes set against the Q frames'.
#include "sheet/sheet_writers.h"

bool sheet_cd_text(const disc_sheet* d, cd_text* text, std::string* why) {
    const disc_reading* r = &d->reading;
    if (r->method == SHEET_FROM_REPORT) {
        *why = "a saved scan holds none (the Q subchannel does not carry it)";
        return false;
    }
    if (!r->cd_text_asked) {
        *why = "the drive gave no table of contents, and so was not asked for it";
        return false;
    }
    if (r->cd_text_malformed[0] != '\0') {
        *why = std::string("the drive's CD-Text is malformed: ") + r->cd_text_malformed;
        return false;
    }
    decode_cd_text(r->cd_text, r->cd_text_packs, text);
    if (text->packs == 0) {
        *why = "the disc has none";
        return false;
    }
    return true;
}

std::vector<code_difference> cd_text_against_q(const sheet* s, const cd_text* text) {
    std::vector<code_difference> differences;
    const cd_text_block* codes = NULL;
    for (const cd_text_block& b : text->blocks)
        for (unsigned t = 0; t <= DISC_TRACKS && codes == NULL; ++t)
            if (!b.text[t][TEXT_CODE].empty() || b.lost[t][TEXT_CODE])
                codes = &b;
    if (codes == NULL)
        return differences;
    for (unsigned t = 0; t <= DISC_TRACKS; ++t) {
        // The Q frames' code (or the drive's report of them), not one taken from CD-Text itself.
        const sheet_code* c = t == 0 ? (s->mcn >= 0 ? &s->mcns.code[s->mcn] : NULL)
                                     : s->track[t].seen ? track_isrc(&s->track[t]) : NULL;
        unsigned length = t == 0 ? MCN_LENGTH : ISRC_LENGTH;
        std::string q = c != NULL && c->source != SOURCE_CD_TEXT ? std::string(c->code, length) : "";
        const std::string& given = codes->text[t][TEXT_CODE];
        if (codes->lost[t][TEXT_CODE]) {  // lost is neither empty nor agreeing
            if (t == 0 || s->track[t].seen)
                differences.push_back({t, "", q, true});
            continue;
        }
        if (given.empty() && (t == 0 || !s->track[t].seen))
            continue;
        char as_q[MCN_LENGTH];  // compared as the numbers they are, not by their separators
        if (cd_text_code_as_q(given, length, as_q) && q == std::string(as_q, length))
            continue;
        differences.push_back({t, given, q, false});
    }
    return differences;
}

void sheet_use_cd_text_codes(disc_sheet* d) {
    cd_text text;
    std::string why;
    if (!sheet_cd_text(d, &text, &why))
        return;
    for (const cd_text_block& b : text.blocks) {
        bool codes = false;
        for (int n = 1; n <= DISC_TRACKS && !codes; ++n)
            codes = !b.text[n][TEXT_CODE].empty();
        if (!codes)
            continue;  // the first block that gives codes gives them all
        for (int n = 1; n <= DISC_TRACKS; ++n) {
            char code[MCN_LENGTH];
            if (cd_text_code_as_q(b.text[n][TEXT_CODE], ISRC_LENGTH, code))
                sheet_add_cd_text_code(&d->s, n, code);
        }
        return;
    }
}
