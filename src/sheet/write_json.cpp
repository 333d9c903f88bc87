// The sheet as one JSON object for scripts, written with nlohmann's JSON
// library; keys may be added in later versions, never renamed.
#include "sheet/sheet_writers.h"

#include <string>

#include <nlohmann/json.hpp>

#include "sheet/disc_ids.h"

namespace {

typedef nlohmann::ordered_json json;

const char* const SOURCES[] = {"q", "drive", "cd-text", "toc"};  // by sheet_source
const char* const SUBCHANNELS[] = {"raw", "formatted", "formatted-unchecked", "none"};  // by sheet_subchannel

json code_object(const sheet_code* c, int length) {
    bool framed = c->frames > 0;  // a code the drive reports or CD-Text gives was in no frame read
    return {{"code", std::string(c->code, (size_t)length)},
            {"frames", c->frames},
            {"first_block", framed ? json(c->first_block) : json(nullptr)},
            {"last_block", framed ? json(c->last_block) : json(nullptr)},
            {"well_formed", length == ISRC_LENGTH ? isrc_well_formed(c) : mcn_well_formed(c)},
            {"source", SOURCES[c->source]}};
}

// Whether any Q frame was read: not from a drive that returns none.
bool frames_read(const sheet* s) {
    return !s->no_frames;
}

// A count the drive's CRCs give, or null where it gives none.
json crc_count(const sheet* s, uint32_t n) {
    return sheet_crc_known(s) ? json(n) : json(nullptr);
}

// The majority code, or null; and every other code, in order of first block.
void codes(const sheet_codes* codes, int majority, int length, json* chosen, json* others) {
    *chosen = majority >= 0 ? code_object(&codes->code[majority], length) : json(nullptr);
    *others = json::array();
    for (unsigned i = 0; i < codes->count; ++i)
        if ((int)i != majority)
            others->push_back(code_object(&codes->code[i], length));
}

// A track's ISRCs as codes() gives them, with where the disc looks wrong:
// its ISRC on other tracks too (also_on_tracks), another code in it that is
// another track's (also_track).
void track_codes(const sheet* s, int n, const sheet_track* t, json* chosen, json* others) {
    codes(&t->isrcs, t->isrc, ISRC_LENGTH, chosen, others);
    int tracks[DISC_TRACKS];
    if (!chosen->is_null()) {
        unsigned count = tracks_carrying(s, t->isrcs.code[t->isrc].code, n, tracks, DISC_TRACKS);
        (*chosen)["also_on_tracks"] = std::vector<int>(tracks, tracks + count);
    }
    size_t k = 0;
    for (unsigned i = 0; i < t->isrcs.count; ++i) {
        if ((int)i == t->isrc)
            continue;
        json& other = (*others)[k++];
        other["also_track"] = tracks_carrying(s, t->isrcs.code[i].code, n, tracks, 1) ? json(tracks[0]) : json(nullptr);
    }
}

json track_object(const sheet* s, int n, const sheet_track* t) {
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
                               {"earliest_block", t->index[i].earliest},
                               {"may_not_exist", t->index[i].may_not_exist},
                               {"source", SOURCES[t->index[i].from_toc ? SOURCE_TOC : SOURCE_Q]}});
    json isrc, others;
    track_codes(s, n, t, &isrc, &others);
    uint32_t blocks;
    json length = track_length(t, &blocks) ? json(blocks) : json(nullptr);
    return {{"number", n},
            {"control", t->control},
            {"flags", flags},
            {"data", (t->control & CONTROL_DATA) != 0},
            {"mode", t->mode != 0 ? json(t->mode) : json(nullptr)},
            {"indexes", indexes},
            {"isrc", isrc},
            {"other_isrcs", others},
            {"crc_errors", t->later_session ? json(nullptr) : crc_count(s, t->crc_errors)},
            {"length", length},
            {"isrc_frames_uncounted", t->isrcs.uncounted},
            {"frames_out_of_place", frames_read(s) && !t->later_session ? json(t->out_of_place) : json(nullptr)},
            {"from_toc", t->later_session}};
}

const char* const METHODS[] = {"report", "targeted", "full"};

const char* const TEXT_KEYS[CD_TEXT_KINDS] = {"title",    "performer", "songwriter", "composer", "arranger",
                                               "message",  "disc_id",   "genre",      "code"};

// The texts of one track (0: the disc) that the block gives, by kind; the
// disc's code is its UPC/EAN, a track's its ISRC.
json texts_of(const cd_text_block& b, unsigned track) {
    json texts = json::object();
    for (int k = 0; k < CD_TEXT_KINDS; ++k) {
        if (b.text[track][k].empty())
            continue;
        const char* key = k != TEXT_CODE ? TEXT_KEYS[k] : track == 0 ? "upc_ean" : "isrc";
        texts[key] = b.text[track][k];
    }
    if (track == 0 && b.genre != 0)
        texts["genre_code"] = b.genre;
    return texts;
}

// The CD-Text, or null and why.
void cd_text_objects(const disc_sheet* d, json* object, json* why) {
    const sheet* s = &d->s;
    cd_text text;
    std::string reason;
    if (!sheet_cd_text(d, &text, &reason)) {
        *object = nullptr;
        *why = reason;
        return;
    }
    json blocks = json::array();
    for (const cd_text_block& b : text.blocks) {
        json tracks = json::array();
        for (unsigned n = 1; n <= DISC_TRACKS; ++n) {
            json texts = texts_of(b, n);
            if (texts.empty())
                continue;
            json track = {{"number", n}};
            track.update(texts);
            tracks.push_back(track);
        }
        const char* language = cd_text_language(b.language);
        const char* characters = cd_text_characters(b.character_code);
        blocks.push_back({{"block", b.number},
                          {"language", {{"code", b.language}, {"name", language ? json(language) : json(nullptr)}}},
                          {"character_code", {{"code", b.character_code},
                                              {"name", characters ? json(characters) : json(nullptr)}}},
                          {"double_byte_as_hex", b.double_byte},
                          {"first_track", b.first_track},
                          {"last_track", b.last_track},
                          {"disc", texts_of(b, 0)},
                          {"tracks", tracks}});
    }
    json lost = json::array();  // texts a damaged pack lost, which the blocks leave out
    for (const cd_text_block& b : text.blocks)
        for (unsigned t = 0; t <= DISC_TRACKS; ++t)
            for (int k = 0; k < CD_TEXT_KINDS; ++k)
                if (b.lost[t][k])
                    lost.push_back({{"block", b.number},
                                    {"track", t},
                                    {"kind", k != TEXT_CODE ? TEXT_KEYS[k] : t == 0 ? "upc_ean" : "isrc"}});
    json differences = json::array();
    for (const code_difference& d : cd_text_against_q(s, &text))
        differences.push_back({{"track", d.track},
                               {"cd_text", d.lost ? json(nullptr) : json(d.cd_text)},
                               {"q", d.q.empty() ? json(nullptr) : json(d.q)},
                               {"lost", d.lost}});
    *object = {{"blocks", blocks},   {"packs", text.packs},           {"bad_packs", text.bad_packs},
               {"lost", lost}, {"codes_against_q", differences}};
    *why = nullptr;
}

// The identifiers, or null and why.
void ids_objects(const disc_sheet* d, json* ids, json* why) {
    const sheet* s = &d->s;
    disc_ids i;
    std::string reason;
    if (!sheet_ids(d, &i, &reason)) {
        *ids = nullptr;
        *why = reason;
        return;
    }
    *ids = {{"musicbrainz", i.musicbrainz},
            {"musicbrainz_toc", i.musicbrainz_toc},
            {"musicbrainz_url", i.musicbrainz_url},
            {"freedb", i.freedb},
            {"accuraterip", {{"id1", i.accuraterip_id1}, {"id2", i.accuraterip_id2}, {"file", i.accuraterip_file}}},
            {"assume_one_session", !s->toc_known}};
    *why = nullptr;
}

json reading_object(const disc_sheet* d) {
    const sheet* s = &d->s;
    const disc_reading* r = &d->reading;
    json unreadable = json::array(), missing = json::array();
    for (uint32_t i = 0; i < s->unreadable_count && i < SHEET_STRETCHES; ++i)
        unreadable.push_back({s->unreadable[i].first, s->unreadable[i].last});
    for (uint32_t i = 0; i < s->missing_count && i < SHEET_STRETCHES; ++i)
        missing.push_back({{"first_block", s->missing[i].first},
                           {"last_block", s->missing[i].last},
                           {"after_line", s->missing[i].after_line}});
    bool from_drive = r->method != SHEET_FROM_REPORT;
    return {{"method", METHODS[r->method]},
            {"subchannel", SUBCHANNELS[r->subchannel]},
            {"blocks", s->sectors},
            {"unreadable_blocks", s->unreadable_blocks},
            {"commands", from_drive ? json(r->commands) : json(nullptr)},
            {"unreadable", unreadable},
            {"unreadable_stretches", s->unreadable_count},
            {"missing", missing},
            {"missing_blocks", s->missing_blocks},
            {"missing_stretches", s->missing_count},
            {"repeated_lines", from_drive ? json(nullptr)
                                          : json{{"count", r->repeated_lines},
                                                 {"first_line", r->repeated_lines > 0 ? json(r->repeated_first_line)
                                                                                      : json(nullptr)}}}};
}

json toc_object(const sheet* s) {
    if (!s->toc_known)
        return nullptr;
    json tracks = json::array();
    for (unsigned i = 0; i < s->toc.track_count; ++i) {
        const toc_track* t = &s->toc.track[i];
        tracks.push_back({{"number", t->number}, {"block", t->start}, {"control", t->control}, {"session", t->session}});
    }
    return {{"first_track", s->toc.first_track},
            {"last_track", s->toc.last_track},
            {"lead_out", s->toc.first_session_end},
            {"last_lead_out", s->toc.lead_out},
            {"sessions", s->toc.sessions},
            {"tracks", tracks},
            {"impossible", s->toc_impossible[0] != '\0' ? json(s->toc_impossible) : json(nullptr)}};
}

}  // namespace

void write_json(const disc_sheet* d, std::string* out) {
    const sheet* s = &d->s;
    json tracks = json::array();
    for (int n = s->first_track; n <= s->last_track && n > 0; ++n)
        if (s->track[n].seen)
            tracks.push_back(track_object(s, n, &s->track[n]));
    json mcn, mcn_others;
    codes(&s->mcns, s->mcn, MCN_LENGTH, &mcn, &mcn_others);
    json missing = json::array();
    for (int n = s->first_track; n <= s->last_track && n > 0; ++n)
        if (!s->track[n].seen)
            missing.push_back(n);
    json strays = json::array();
    for (uint32_t i = 0; i < s->stray && i < SHEET_STRAYS_LISTED; ++i)
        strays.push_back(s->stray_block[i]);
    toc_disagreement found[DISC_TRACKS + 1];
    json disagreements = json::array();
    unsigned count = sheet_toc_disagreements(s, found, DISC_TRACKS + 1);
    for (unsigned i = 0; i < count; ++i)
        disagreements.push_back({{"track", found[i].track},
                                 {"toc_block", found[i].toc_block < 0 ? json(nullptr) : json(found[i].toc_block)},
                                 {"q_block", found[i].q_block < 0 ? json(nullptr) : json(found[i].q_block)}});
    json ids, ids_why, cd_text, cd_text_why;
    ids_objects(d, &ids, &ids_why);
    cd_text_objects(d, &cd_text, &cd_text_why);
    const disc_reading* r = &d->reading;
    json drive = r->drive_known ? json{{"vendor", r->drive.vendor},
                                       {"product", r->drive.product},
                                       {"revision", r->drive.revision}}
                                : json(nullptr);
    json sheet_object = {{"drive", drive},
                         {"sectors", s->sectors},
                         {"lead_out", s->lead_out_seen || s->lead_out_from_toc ? json(s->lead_out) : json(nullptr)},
                         {"crc_errors", crc_count(s, s->crc_errors)},
                         {"frames_out_of_place", frames_read(s) ? json(s->out_of_place) : json(nullptr)},
                         {"mcn", mcn},
                         {"mcn_others", mcn_others},
                         {"tracks", tracks},
                         {"mcn_frames_uncounted", s->mcns.uncounted},
                         {"isrc_frames_outside_tracks", s->isrc_outside},
                         {"complete", s->complete},
                         {"q_offset", frames_read(s) ? json(s->q_offset) : json(nullptr)},
                         {"missing_tracks", missing},
                         {"stray_frames", {{"count", s->stray}, {"blocks", strays}}},
                         {"malformed_position_frames", s->malformed},
                         {"unchecked_frames_disagreeing", s->disagreeing},
                         {"unchecked_code_frames_unconfirmed", s->codes_unconfirmed},
                         {"crc_errors_before_first_track", crc_count(s, s->crc_errors_before)},
                         {"lead_out_from_toc", s->lead_out_from_toc},
                         {"read", reading_object(d)},
                         {"toc", toc_object(s)},
                         {"toc_disagreements", disagreements},
                         {"ids", ids},
                         {"ids_missing_why", ids_why},
                         {"cd_text", cd_text},
                         {"cd_text_missing_why", cd_text_why}};
    // Codes are what the disc carries, any byte: never let one stop the output.
    *out += sheet_object.dump(2, ' ', true, json::error_handler_t::replace) + "\n";
}
