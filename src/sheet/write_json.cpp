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
            {"last_block", c->last_block},
            {"well_formed", length == ISRC_LENGTH ? isrc_well_formed(c) : mcn_well_formed(c)}};
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
    uint32_t blocks;
    json length = track_length(t, &blocks) ? json(blocks) : json(nullptr);
    return {{"number", n},
            {"control", t->control},
            {"flags", flags},
            {"data", (t->control & CONTROL_DATA) != 0},
            {"indexes", indexes},
            {"isrc", isrc},
            {"other_isrcs", others},
            {"crc_errors", t->crc_errors},
            {"length", length},
            {"isrc_frames_uncounted", t->isrcs.uncounted},
            {"frames_out_of_place", t->out_of_place}};
}

}  // namespace

void write_json(const sheet* s, FILE* out) {
    json tracks = json::array();
    for (int n = s->first_track; n <= s->last_track && n > 0; ++n)
        if (s->track[n].seen)
            tracks.push_back(track_object(n, &s->track[n]));
    json mcn, mcn_others;
    codes(&s->mcns, s->mcn, MCN_LENGTH, &mcn, &mcn_others);
    json missing = json::array();
    for (int n = s->first_track; n <= s->last_track && n > 0; ++n)
        if (!s->track[n].seen)
            missing.push_back(n);
    json strays = json::array();
    for (uint32_t i = 0; i < s->stray && i < SHEET_STRAYS_LISTED; ++i)
        strays.push_back(s->stray_block[i]);
    json sheet_object = {{"sectors", s->sectors},
                         {"lead_out", s->lead_out_seen ? json(s->lead_out) : json(nullptr)},
                         {"crc_errors", s->crc_errors},
                         {"frames_out_of_place", s->out_of_place},
                         {"mcn", mcn},
                         {"mcn_others", mcn_others},
                         {"tracks", tracks},
                         {"mcn_frames_uncounted", s->mcns.uncounted},
                         {"isrc_frames_outside_tracks", s->isrc_outside},
                         {"complete", s->lead_out_seen},
                         {"q_offset", s->q_offset},
                         {"missing_tracks", missing},
                         {"stray_frames", {{"count", s->stray}, {"blocks", strays}}},
                         {"malformed_position_frames", s->malformed},
                         {"crc_errors_before_first_track", s->crc_errors_before}};
    // Codes are what the disc carries, any byte: never let one stop the output.
    std::string text = sheet_object.dump(2, ' ', true, json::error_handler_t::replace);
    fprintf(out, "%s\n", text.c_str());
}
