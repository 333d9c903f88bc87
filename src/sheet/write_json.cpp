// The sheet as one JSON object for scripts, written with nlohmann's JSON
// library; keys may be added in later versions, never renamed.
#include "sheet/sheet_writers.h"

#include <string>

#include <nlohmann/json.hpp>

namespace {

typedef nlohmann::ordered_json json;

json code_object(const sheet_code* c, int length) {
    return {{"code", std::string(c->code, (size_t)length)},
            {"frames", c->frames},
            {"first_block", c->first_block},
            {"last_block", c->last_block}};
}

// The majority code, or null; and every other code, in order of first block.
void codes(const sheet_codes* codes, int majority, int length, json* chosen, json* others) {
    *chosen = majority >= 0 ? code_object(&codes->code[majority], length) : json(nullptr);
    *others = json::array();
    for (unsigned i = 0; i < codes->count; ++i)
        if ((int)i != majority)
            others->push_back(code_object(&codes->code[i], length));
}

json track_object(int n, const sheet_track* t) {
    const char* words[3];
    int count = track_flags(t, words);
    json flags = json::array();
    for (int i = 0; i < count; ++i)
        flags.push_back(words[i]);
    json indexes = json::array();
    for (int i = 0; i < SHEET_INDEXES; ++i)
        if (t->index[i].seen)
            indexes.push_back({{"number", i},
                               {"block", t->index[i].block},
                               {"exact", t->index[i].exact},
                               {"earliest_block", t->index[i].earliest}});
    json isrc, others;
    codes(&t->isrcs, t->isrc, ISRC_LENGTH, &isrc, &others);
    json length = nullptr;
    if (t->index[1].seen && t->end >= t->index[1].block)
        length = t->end - t->index[1].block;
    return {{"number", n},
            {"control", t->control},
            {"flags", flags},
            {"data", (t->control & CONTROL_DATA) != 0},
            {"indexes", indexes},
            {"isrc", isrc},
            {"other_isrcs", others},
            {"crc_errors", t->crc_errors},
            {"length", length},
            {"isrc_frames_uncounted", t->isrcs.uncounted}};
}

}  // namespace

void write_json(const sheet* s, FILE* out) {
    json tracks = json::array();
    for (int n = s->first_track; n <= s->last_track && n > 0; ++n)
        if (s->track[n].seen)
            tracks.push_back(track_object(n, &s->track[n]));
    json mcn, mcn_others;
    codes(&s->mcns, s->mcn, MCN_LENGTH, &mcn, &mcn_others);
    json sheet_object = {{"sectors", s->sectors},
                         {"lead_out", s->lead_out_seen ? json(s->lead_out) : json(nullptr)},
                         {"crc_errors", s->crc_errors},
                         {"frames_out_of_place", s->out_of_place},
                         {"mcn", mcn},
                         {"mcn_others", mcn_others},
                         {"tracks", tracks},
                         {"mcn_frames_uncounted", s->mcns.uncounted},
                         {"isrc_frames_outside_tracks", s->isrc_outside}};
    // Codes are what the disc carries, any byte: never let one stop the output.
    std::string text = sheet_object.dump(2, ' ', true, json::error_handler_t::replace);
    fprintf(out, "%s\n", text.c_str());
}
