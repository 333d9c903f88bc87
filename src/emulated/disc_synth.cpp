// Disc synthesizer: turns a disc description into sectors as a pressed disc
// carries them. The Q encoding here is deliberately written apart from the
// decoder (bitwise CRC, a bit writer, its own BCD and character codes).
#include "emulated/disc_synth.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>

namespace {

// Appends bit fields MSB first to the 80 data bits of a Q frame.
struct bit_writer {
    std::array<uint8_t, 10> bytes{};
    unsigned position = 0;

    void put(unsigned value, unsigned width) {
        for (unsigned i = width; i-- > 0;) {
            if ((value >> i) & 1u)
                bytes[position / 8] |= (uint8_t)(0x80u >> (position % 8));
            ++position;
        }
    }
};

unsigned to_bcd(unsigned value) {
    return (value / 10) * 16 + value % 10;
}

// The 6-bit code of an ISRC character: digits 0-9, letters 17-42.
unsigned isrc_code(char c) {
    if (c >= '0' && c <= '9')
        return (unsigned)(c - '0');
    return (unsigned)(c - 'A') + 17;
}

// splitmix64: a small, fast, well-mixed generator for reproducible noise.
uint64_t mix(uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

void fill_noise(uint64_t seed, uint8_t* out, size_t n) {
    for (size_t i = 0; i < n; i += 8) {
        uint64_t r = mix(seed + i);
        size_t chunk = n - i < 8 ? n - i : 8;
        memcpy(out + i, &r, chunk);
    }
}

void put_msf(bit_writer* w, uint32_t frames) {
    msf t = msf_of_frames(frames);
    w->put(to_bcd(t.m), 8);
    w->put(to_bcd(t.s), 8);
    w->put(to_bcd(t.f), 8);
}

}  // namespace

uint32_t synth_lead_out_start(const synth_disc& disc) {
    uint32_t n = 0;
    for (const synth_track& t : disc.tracks)
        n += t.pregap + t.length;
    return n;
}

uint32_t synth_sector_count(const synth_disc& disc) {
    if (disc.second_session == 0)
        return synth_lead_out_start(disc) + disc.lead_out;
    return synth_lead_out_start(disc) + SESSION_GAP_BLOCKS + disc.second_session;
}

void synth_session_gap(const synth_disc& disc, uint32_t* first, uint32_t* count) {
    *first = synth_lead_out_start(disc) + disc.lead_out;
    *count = disc.second_session == 0 ? 0 : synth_lead_out_start(disc) + SESSION_GAP_BLOCKS - *first;
}

disc_toc synth_toc(const synth_disc& disc) {
    disc_toc toc = {};
    uint32_t start = 0;
    for (const synth_track& t : disc.tracks) {
        toc.track[toc.track_count] = {(uint8_t)(toc.track_count + 1), t.control, 1, (int32_t)(start + t.pregap)};
        ++toc.track_count;
        start += t.pregap + t.length;
    }
    toc.sessions = 1;
    toc.first_session_end = toc.lead_out = (int32_t)start;
    if (disc.second_session > 0) {
        uint32_t second = start + SESSION_GAP_BLOCKS;
        toc.track[toc.track_count] = {(uint8_t)(toc.track_count + 1), 0x4, 2, (int32_t)second};
        ++toc.track_count;
        toc.sessions = 2;
        toc.lead_out = (int32_t)(second + disc.second_session);
    }
    toc.first_track = 1;
    toc.last_track = (uint8_t)toc.track_count;
    return toc;
}

synth_sector_info synth_describe(const synth_disc& disc, uint32_t lba) {
    synth_sector_info info;
    info.abs_frames = lba + BLOCK_0_FRAMES;
    uint32_t start = 0;
    const synth_track* track = nullptr;
    const synth_track* previous = nullptr;
    for (size_t i = 0; i < disc.tracks.size(); ++i) {
        const synth_track& t = disc.tracks[i];
        if (lba < start + t.pregap + t.length) {
            track = &t;
            info.track = (unsigned)i + 1;
            info.control = t.control;
            info.mode = t.mode;
            if (lba < start + t.pregap) {
                info.index = 0;
                info.rel_frames = start + t.pregap - lba - (disc.countdown_to_one ? 0 : 1);
            } else {
                info.rel_frames = lba - start - t.pregap;
                info.index = 1;
                for (uint32_t from : t.indexes)
                    if (info.rel_frames >= from)
                        ++info.index;
            }
            break;
        }
        previous = &t;
        start += t.pregap + t.length;
    }
    uint32_t second = start + SESSION_GAP_BLOCKS;
    if (track == nullptr && disc.second_session > 0 && lba >= second) {
        info.track = (unsigned)disc.tracks.size() + 1;  // the second session's data track
        info.index = 1;
        info.control = 0x4;
        info.rel_frames = lba - second;
    } else if (track == nullptr) {
        info.track = Q_LEAD_OUT_TRACK;
        info.index = 1;
        info.rel_frames = lba - start;
    }

    info.damaged = disc.damaged.count(lba) != 0;
    if (disc.raw_q.count(lba)) {
        info.kind = SYNTH_RAW;
    } else if (track && !disc.mcn.empty() && disc.mcn_period && lba % disc.mcn_period == disc.mcn_phase) {
        info.kind = SYNTH_MCN;
        info.code = disc.mcn;
    } else if (track && info.index >= 1 && !track->isrc.empty() && disc.isrc_period &&
               lba % disc.isrc_period == disc.isrc_phase) {
        info.kind = SYNTH_ISRC;
        info.code = track->isrc;
        if (previous && !previous->isrc.empty() && info.rel_frames < disc.isrc_latch)
            info.code = previous->isrc;
        else if (!track->second_isrc.empty() && info.rel_frames >= track->second_isrc_from)
            info.code = track->second_isrc;
    }
    return info;
}

std::array<uint8_t, 12> synth_with_crc(const std::array<uint8_t, 10>& q) {
    uint16_t crc = 0;
    for (uint8_t byte : q) {
        crc ^= (uint16_t)(byte << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? (uint16_t)((crc << 1) ^ 0x1021) : (uint16_t)(crc << 1);
    }
    crc = (uint16_t)~crc;
    std::array<uint8_t, 12> out{};
    memcpy(out.data(), q.data(), 10);
    out[10] = (uint8_t)(crc >> 8);
    out[11] = (uint8_t)(crc & 0xFF);
    return out;
}

std::array<uint8_t, 12> synth_q(const synth_disc& disc, uint32_t lba) {
    bool shifted = lba - disc.shift_first < disc.shift_count && lba > 0;
    synth_sector_info info = synth_describe(disc, shifted ? lba - 1 : lba);
    info.damaged = disc.damaged.count(lba) != 0;
    bit_writer w;
    switch (info.kind) {
    case SYNTH_RAW:
        w.bytes = disc.raw_q.at(shifted ? lba - 1 : lba);
        break;
    case SYNTH_POSITION:
        w.put(info.control, 4);
        w.put(1, 4);
        w.put(info.track == Q_LEAD_OUT_TRACK ? Q_LEAD_OUT_TRACK : to_bcd(info.track), 8);
        w.put(to_bcd(info.index), 8);
        put_msf(&w, info.rel_frames);
        w.put(0, 8);
        put_msf(&w, info.abs_frames);
        break;
    case SYNTH_MCN:
        w.put(info.control, 4);
        w.put(2, 4);
        for (char c : info.code)
            w.put((unsigned)(c - '0'), 4);
        w.put(0, 4 + 8);
        w.put(to_bcd(info.abs_frames % 75), 8);
        break;
    case SYNTH_ISRC:
        w.put(info.control, 4);
        w.put(3, 4);
        for (int i = 0; i < 5; ++i)
            w.put(isrc_code(info.code[i]), 6);
        w.put(0, 2);
        for (int i = 5; i < 12; ++i)
            w.put((unsigned)(info.code[i] - '0'), 4);
        w.put(0, 4);
        w.put(to_bcd(info.abs_frames % 75), 8);
        break;
    }
    std::array<uint8_t, 12> q = synth_with_crc(w.bytes);
    if (info.damaged) {
        unsigned bit = (lba * 37u) % 96u;  // any single flipped bit breaks the CRC
        q[bit / 8] ^= (uint8_t)(0x80u >> (bit % 8));
    }
    return q;
}

void synth_sector(const synth_disc& disc, uint32_t lba, uint8_t sector[SECTOR_BUFFER_SIZE]) {
    uint64_t seed = mix(disc.noise_seed) ^ ((uint64_t)lba << 20);
    synth_sector_info info = synth_describe(disc, lba);

    uint8_t* main_channel = sector;
    fill_noise(seed, main_channel, SECTOR_MAIN_SIZE);
    if (info.control & 4) {  // a data track: sync pattern and header
        memset(main_channel, 0xFF, 12);
        main_channel[0] = main_channel[11] = 0x00;
        msf address = msf_of_frames(info.abs_frames);
        main_channel[12] = (uint8_t)to_bcd(address.m);
        main_channel[13] = (uint8_t)to_bcd(address.s);
        main_channel[14] = (uint8_t)to_bcd(address.f);
        main_channel[15] = info.mode;
    }

    uint8_t* sub = sector + SECTOR_MAIN_SIZE;
    if (disc.noise)
        fill_noise(~seed, sub, SUBCHANNEL_SIZE);
    else
        memset(sub, 0xFF, SUBCHANNEL_SIZE);
    if (disc.noise) {
        uint8_t p_bit = info.index == 0 ? 0x80 : 0x00;  // P marks the pause between tracks
        for (unsigned i = 0; i < SUBCHANNEL_SIZE; ++i)
            sub[i] = (uint8_t)((sub[i] & 0x3F) | p_bit);
    }
    synth_lay_down_q(synth_q(disc, lba), sub);
}

void synth_lay_down_q(const std::array<uint8_t, 12>& q, uint8_t subchannel[SUBCHANNEL_SIZE]) {
    for (unsigned i = 0; i < SUBCHANNEL_SIZE; ++i) {
        uint8_t q_bit = (q[i / 8] & (0x80u >> (i % 8))) ? 0x40 : 0x00;
        subchannel[i] = (uint8_t)((subchannel[i] & ~0x40) | q_bit);
    }
}

std::vector<uint8_t> synth_image(const synth_disc& disc) {
    uint32_t n = synth_sector_count(disc);
    std::vector<uint8_t> image((size_t)n * SECTOR_BUFFER_SIZE);
    for (uint32_t lba = 0; lba < n; ++lba)
        synth_sector(disc, lba, image.data() + (size_t)lba * SECTOR_BUFFER_SIZE);
    return image;
}

std::vector<std::array<uint8_t, 16>> synth_cd_text(const synth_disc& disc) {
    std::vector<std::array<uint8_t, 16>> packs;
    unsigned tracks = (unsigned)disc.tracks.size();
    uint8_t last_sequence[8] = {}, languages[8] = {};
    for (size_t block = 0; block < disc.text.size() && block < 8; ++block) {
        const synth_text& t = disc.text[block];
        bool double_byte = t.character_code >= 0x80;
        const std::string end(double_byte ? 2 : 1, '\0');
        unsigned counts[16] = {};
        // Each type's texts, the disc's then each track's, ended, back to
        // back, twelve bytes a pack; a pack names the track its first byte
        // is of, and how far into that track's text it is (15: that or more).
        auto lay_down = [&](uint8_t type, const std::string& disc_text, const std::vector<std::string>& texts) {
            std::string bytes;
            std::vector<unsigned> owner, offset;
            for (unsigned n = 0; n <= tracks; ++n) {
                std::string text = (n == 0 ? disc_text : n <= texts.size() ? texts[n - 1] : "") + end;
                for (size_t i = 0; i < text.size(); ++i) {
                    owner.push_back(n);
                    offset.push_back((unsigned)(double_byte ? i / 2 : i));
                }
                bytes += text;
            }
            for (size_t at = 0; at < bytes.size(); at += 12) {
                std::array<uint8_t, 16> pack{};
                pack[0] = type;
                pack[1] = (uint8_t)owner[at];
                pack[2] = (uint8_t)packs.size();
                pack[3] = (uint8_t)((double_byte ? 0x80 : 0) | block << 4 | std::min(offset[at], 15u));
                for (size_t i = 0; i < 12 && at + i < bytes.size(); ++i)
                    pack[4 + i] = (uint8_t)bytes[at + i];
                packs.push_back(pack);
                ++counts[type - 0x80];
            }
        };
        lay_down(0x80, t.title, t.titles);
        lay_down(0x81, t.performer, t.performers);
        for (const auto& more : t.more)
            lay_down(more.first, more.second.first, more.second.second);
        if (!t.upc.empty() || !t.isrcs.empty())
            lay_down(0x8E, t.upc, t.isrcs);
        counts[0xF] = 3;
        last_sequence[block] = (uint8_t)(packs.size() + 2);
        languages[block] = t.language;
        // The size information: character code, tracks, packs of each type,
        // each block's last sequence number and language.
        uint8_t info[36] = {t.character_code, 1, (uint8_t)tracks, 0};
        for (int i = 0; i < 16; ++i)
            info[4 + i] = (uint8_t)counts[i];
        memcpy(info + 20, last_sequence, 8);
        memcpy(info + 28, languages, 8);
        for (uint8_t k = 0; k < 3; ++k) {
            std::array<uint8_t, 16> pack{0x8F, k, (uint8_t)packs.size(), (uint8_t)(block << 4)};
            memcpy(&pack[4], info + 12 * k, 12);
            packs.push_back(pack);
        }
    }
    return packs;
}

synth_disc synth_sample_disc() {
    synth_disc disc;
    disc.mcn = "1234567890128";
    synth_text english;
    english.title = "A Sample Disc";
    english.performer = "The Emulated Drive";
    english.titles = {"First Light", "Second \"Best\"", "Third", "Fourth and Last"};
    disc.text = {english};
    disc.tracks = {
        {0, 40 * 75, 0x0, "ZZQSC2600001"},
        {150, 45 * 75, 0x0, "ZZQSC2600002"},
        {150, 20 * 75, 0x0, "ZZQSC2600003"},
        {150, 8 * 75, 0x2, "ZZQSC2600004"},
    };
    disc.damaged = {7, 1234, 4321, 8000};
    return disc;
}

synth_disc synth_sheet_disc() {
    synth_disc disc;
    disc.mcn = "4006381333931";
    disc.tracks = {
        {300, 3000, 0x1, "ZZQSC2600001"},
        {150, 2400, 0x0, "ZZQSC2600002"},
        {1, 1800, 0x2, ""},
        {87, 2000, 0x0, "ZZQSC2600004"},
        {165, 1500, 0x4, ""},
    };
    disc.tracks[0].indexes = {1500, 2250};
    disc.tracks[3].second_isrc = "ZZQSC2600094";
    disc.tracks[3].second_isrc_from = 1200;
    disc.isrc_period = 50;
    disc.isrc_phase = 10;
    disc.isrc_latch = 40;
    disc.countdown_to_one = true;
    disc.damaged = {100, 2000, 5000, 9000};
    disc.lead_out = 150;
    return disc;
}

synth_disc synth_mixed_mode_disc() {
    synth_disc disc;
    disc.mcn = "0724384960254";
    disc.tracks = {
        {0, 1200, 0x4, "", 2},
        {150, 1500, 0x0, "ZZQSC2600102"},
        {150, 900, 0x2, ""},
        {150, 1100, 0x0, "ZZQSC2600104"},
    };
    disc.damaged = {40, 1475, 2990, 4350};
    disc.lead_out = 100;
    return disc;
}

synth_disc synth_album_disc(uint32_t frames) {
    const uint32_t track_frames = 4 * 60 * 75;
    synth_disc disc;
    disc.mcn = "2001234567893";
    for (uint32_t start = 0, n = 1; start < frames; ++n) {
        synth_track t;
        t.pregap = n == 1 ? 0 : std::min<uint32_t>(2 * FRAMES_PER_SECOND, frames - start);  // two seconds
        t.length = std::min(track_frames, frames - start - t.pregap);
        t.control = n % 2 ? 0x0 : 0x2;
        char isrc[13];
        snprintf(isrc, sizeof isrc, "ZZQSC26%05u", n);
        t.isrc = isrc;
        disc.tracks.push_back(t);
        start += t.pregap + t.length;
    }
    for (uint32_t lba = 500; lba < frames; lba += 1000)
        disc.damaged.insert(lba);
    return disc;
}
