// The databases' disc identifiers, each as its database defines it; SHA-1
// from libgcrypt.
#include "sheet/disc_ids.h"

#include <stdio.h>

#include <gcrypt.h>

namespace {

const int32_t ID_OFFSET = BLOCK_0_FRAMES;  // the identifiers count from 00:00.00, not from block 0
const char MUSICBRAINZ_ATTACH[] = "https://musicbrainz.org/cdtoc/attach?toc=";

// Base64 with the three characters a URL cannot carry replaced: + / = as . _ -.
std::string musicbrainz_base64(const uint8_t* bytes, size_t n) {
    const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789._";
    std::string text;
    for (size_t i = 0; i < n; i += 3) {
        uint32_t group = (uint32_t)bytes[i] << 16 | (i + 1 < n ? (uint32_t)bytes[i + 1] << 8 : 0) |
                         (i + 2 < n ? bytes[i + 2] : 0);
        for (size_t k = 0; k < 4; ++k)
            text += k <= (n - i) ? alphabet[group >> (18 - 6 * k) & 0x3F] : '-';
    }
    return text;
}

unsigned digit_sum(uint32_t n) {
    unsigned sum = 0;
    for (; n > 0; n /= 10)
        sum += n % 10;
    return sum;
}

bool sha1(const std::string& text, uint8_t digest[20]) {
    if (gcry_check_version(NULL) == NULL)
        return false;
    gcry_md_hash_buffer(GCRY_MD_SHA1, digest, text.data(), text.size());
    return true;
}

}  // namespace

bool compute_disc_ids(const id_layout* d, disc_ids* ids) {
    // MusicBrainz: the audio tracks; an enhanced CD's audio session ends
    // SESSION_GAP_BLOCKS before its data track.
    int last_audio = d->last;
    while (d->enhanced && last_audio > d->first && d->data[last_audio])
        --last_audio;
    int32_t audio_end = d->enhanced ? d->start[last_audio + 1] - SESSION_GAP_BLOCKS : d->lead_out;
    char text[16];
    snprintf(text, sizeof text, "%02X%02X", d->first, last_audio);
    std::string hashed = text;
    snprintf(text, sizeof text, "%08X", (unsigned)(audio_end + ID_OFFSET));
    hashed += text;
    ids->musicbrainz_toc = std::to_string(d->first) + "+" + std::to_string(last_audio) + "+" +
                           std::to_string(audio_end + ID_OFFSET);
    for (int n = 1; n <= DISC_TRACKS; ++n) {
        bool listed = n >= d->first && n <= last_audio;
        snprintf(text, sizeof text, "%08X", listed ? (unsigned)(d->start[n] + ID_OFFSET) : 0u);
        hashed += text;
        if (listed)
            ids->musicbrainz_toc += "+" + std::to_string(d->start[n] + ID_OFFSET);
    }
    uint8_t digest[20];
    if (!sha1(hashed, digest))
        return false;
    ids->musicbrainz = musicbrainz_base64(digest, sizeof digest);
    ids->musicbrainz_url = MUSICBRAINZ_ATTACH + ids->musicbrainz_toc + "&tracks=" +
                           std::to_string(last_audio - d->first + 1) + "&id=" + ids->musicbrainz;

    // freedb: every track, data included, and the real lead-out, in seconds.
    unsigned n = 0, tracks = (unsigned)(d->last - d->first + 1);
    for (int t = d->first; t <= d->last; ++t)
        n += digit_sum((uint32_t)(d->start[t] + ID_OFFSET) / FRAMES_PER_SECOND);
    uint32_t seconds = (uint32_t)(d->lead_out + ID_OFFSET) / FRAMES_PER_SECOND -
                       (uint32_t)(d->start[d->first] + ID_OFFSET) / FRAMES_PER_SECOND;
    snprintf(text, sizeof text, "%08x", (unsigned)((n % 255) << 24 | seconds << 8 | tracks));
    ids->freedb = text;

    // AccurateRip: the audio tracks, in blocks, and the real lead-out.
    uint32_t id1 = 0, id2 = 0, audio = 0;
    for (int t = d->first; t <= d->last; ++t) {
        if (d->data[t])
            continue;
        uint32_t start = (uint32_t)d->start[t];
        id1 += start;
        id2 += (start > 1 ? start : 1) * (uint32_t)t;
        ++audio;
    }
    id1 += (uint32_t)d->lead_out;
    id2 += (uint32_t)d->lead_out * (audio + 1);
    ids->accuraterip_id1 = id1;
    ids->accuraterip_id2 = id2;
    char file[64];
    snprintf(file, sizeof file, "dBAR-%03u-%08x-%08x-%s.bin", audio, id1, id2, ids->freedb.c_str());
    ids->accuraterip_file = file;
    return true;
}

bool sheet_layout(const disc_sheet* disc, id_layout* d, std::string* why) {
    const sheet* s = &disc->s;
    *d = {};
    if (s->toc_known && !sheet_toc_trusted(s)) {
        *why = std::string("the drive's table of contents cannot be right: ") + s->toc_impossible;
        return false;
    }
    if (s->toc_known) {
        const disc_toc* toc = &s->toc;
        d->first = toc->track[0].number;
        d->last = toc->track[toc->track_count - 1].number;
        for (unsigned i = 0; i < toc->track_count; ++i) {
            d->start[toc->track[i].number] = toc->track[i].start;
            d->data[toc->track[i].number] = toc->track[i].control & CONTROL_DATA;
        }
        d->lead_out = toc->lead_out;
        d->enhanced = toc->sessions > 1 && d->data[d->last] && !d->data[d->first];
        return true;
    }
    if (s->first_track == 0) {
        *why = std::string("the ") + read_word(disc) + " shows no track";
        return false;
    }
    if (!s->lead_out_seen) {
        *why = std::string("the ") + read_word(disc) + " did not reach the lead-out";
        return false;
    }
    d->first = s->first_track;
    d->last = s->last_track;
    for (int n = d->first; n <= d->last; ++n) {
        const sheet_track* t = &s->track[n];
        if (!t->seen || !t->index[1].seen) {
            *why = std::string("the ") + read_word(disc) + " did not see every track's index 01";
            return false;
        }
        d->start[n] = (int32_t)t->index[1].block;
        d->data[n] = t->control & CONTROL_DATA;
    }
    d->lead_out = (int32_t)s->lead_out;
    return true;
}

bool sheet_ids(const disc_sheet* d, disc_ids* ids, std::string* why) {
    id_layout layout;
    if (!sheet_layout(d, &layout, why))
        return false;
    *why = "SHA-1 is not to be had";
    return compute_disc_ids(&layout, ids);
}
