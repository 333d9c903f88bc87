// The Q frame decoder on its own: bit gathering, CRC, the three modes, and
// real frames quoted from discs.
#include <gtest/gtest.h>
#include <string.h>

#include <fstream>
#include <random>
#include <sstream>

#include "emulated/disc_synth.h"
#include "subchannel.h"

namespace {

typedef std::array<uint8_t, 12> q_bytes;

q_bytes with_crc(std::array<uint8_t, 10> data) {
    return synth_with_crc(data);
}

q_bytes parse_q(const std::string& hex) {
    q_bytes q{};
    for (size_t i = 0; i < 12; ++i)
        q[i] = (uint8_t)std::stoi(hex.substr(2 * i, 2), nullptr, 16);
    return q;
}

// A subchannel whose Q bits spell q, with every other bit set or cleared.
void lay_down(const q_bytes& q, uint8_t others, uint8_t sub[SUBCHANNEL_SIZE]) {
    memset(sub, others, SUBCHANNEL_SIZE);
    synth_lay_down_q(q, sub);
}

TEST(ExtractQ, GathersBitSixMostSignificantFirst) {
    const q_bytes q = {0x01, 0x80, 0x7F, 0xA5, 0x5A, 0xC3, 0x3C, 0x00, 0xFF, 0x12, 0x34, 0x56};
    uint8_t sub[SUBCHANNEL_SIZE];
    uint8_t out[Q_SIZE];
    for (uint8_t others : {0x00, 0xBF}) {  // the other channels must be masked off
        lay_down(q, others, sub);
        extract_q(sub, out);
        EXPECT_EQ(0, memcmp(out, q.data(), Q_SIZE)) << "other bits " << int(others);
    }
}

TEST(ExtractQ, SingleBitLandsInItsByteAndPosition) {
    uint8_t sub[SUBCHANNEL_SIZE];
    uint8_t out[Q_SIZE];
    for (int i = 0; i < SUBCHANNEL_SIZE; ++i) {
        memset(sub, 0xBF, sizeof sub);  // every bit but Q
        sub[i] |= 0x40;
        extract_q(sub, out);
        for (int k = 0; k < Q_SIZE; ++k)
            ASSERT_EQ(k == i / 8 ? (0x80 >> (i % 8)) : 0, out[k]) << "bit " << i << " byte " << k;
    }
}

TEST(ExtractQ, AllQBitsSetGivesFFsThatFailTheCrc) {
    uint8_t sub[SUBCHANNEL_SIZE];
    memset(sub, 0x40, sizeof sub);
    uint8_t q[Q_SIZE];
    extract_q(sub, q);
    for (uint8_t b : q)
        EXPECT_EQ(0xFF, b);
    q_frame f{};
    EXPECT_EQ(Q_CRC_ERROR, decode_q(q, &f));
}

TEST(DecodeQ, CrcAcceptsOnlyTheMatchingField) {
    q_bytes q = parse_q("010101000000000002005a28");
    q_frame f{};
    EXPECT_EQ(0, decode_q(q.data(), &f));
    for (int v = 0; v < 0x10000; ++v) {
        if (v == 0x5A28)
            continue;
        q[10] = (uint8_t)(v >> 8);
        q[11] = (uint8_t)v;
        ASSERT_EQ(Q_CRC_ERROR, decode_q(q.data(), &f)) << "CRC field " << v;
    }
}

TEST(DecodeQ, ZeroFrameFails) {
    const uint8_t q[Q_SIZE] = {};
    q_frame f{};
    EXPECT_EQ(Q_CRC_ERROR, decode_q(q, &f));
}

TEST(DecodeQ, CrcCoversExactlyBytesZeroToNine) {
    q_bytes good = with_crc({0x41, 0x02, 0x01, 0x03, 0x12, 0x40, 0x00, 0x05, 0x33, 0x07});
    q_frame f{};
    ASSERT_EQ(0, decode_q(good.data(), &f));
    for (int bit = 0; bit < 96; ++bit) {
        q_bytes bad = good;
        bad[bit / 8] ^= (uint8_t)(0x80 >> (bit % 8));
        EXPECT_EQ(Q_CRC_ERROR, decode_q(bad.data(), &f)) << "flipped bit " << bit;
    }
}

// Agrees with an independent bitwise CRC on many random frames (catches a
// wrong table entry anywhere, not just those the fixed frames touch).
TEST(DecodeQ, AgreesWithBitwiseCrcOnRandomFrames) {
    std::mt19937 rng(2026);
    q_frame f{};
    for (int i = 0; i < 20000; ++i) {
        std::array<uint8_t, 10> data;
        for (uint8_t& b : data)
            b = (uint8_t)rng();
        q_bytes q = with_crc(data);
        ASSERT_EQ(0, decode_q(q.data(), &f)) << "frame " << i;
        q[11] ^= 1;
        ASSERT_EQ(Q_CRC_ERROR, decode_q(q.data(), &f)) << "frame " << i;
    }
}

TEST(DecodeQ, FailedFrameLeavesTheRecordUntouched) {
    q_frame f;
    memset(&f, 0xEE, sizeof f);
    q_bytes q = with_crc({0x01, 0x01, 0x01, 0, 0, 0, 0, 0, 0x02, 0});
    q[3] ^= 0x10;
    EXPECT_EQ(Q_CRC_ERROR, decode_q(q.data(), &f));
    const uint8_t* bytes = (const uint8_t*)&f;
    for (size_t i = 0; i < sizeof f; ++i)
        EXPECT_EQ(0xEE, bytes[i]) << "byte " << i;
}

TEST(DecodeQ, PositionFrame) {
    q_bytes q = with_crc({0x01, 0x12, 0x03, 0x04, 0x59, 0x74, 0x00, 0x61, 0x23, 0x45});
    q_frame f{};
    ASSERT_EQ(0, decode_q(q.data(), &f));
    EXPECT_EQ(0x10, f.adr_control);
    const timing& p = f.position;
    EXPECT_EQ(12, p.track);
    EXPECT_EQ(3, p.index);
    EXPECT_EQ(4, p.rel.m);
    EXPECT_EQ(59, p.rel.s);
    EXPECT_EQ(74, p.rel.f);
    EXPECT_EQ(61, p.abs.m);
    EXPECT_EQ(23, p.abs.s);
    EXPECT_EQ(45, p.abs.f);
}

TEST(DecodeQ, BcdIsNotValidated) {
    struct {
        uint8_t byte9;
        uint8_t value;
    } cases[] = {{0x99, 99}, {0xAA, 110}, {0x0F, 15}, {0xF0, 150}, {0xFF, 165}};
    for (auto c : cases) {
        q_bytes q = with_crc({0x01, 0x01, 0x01, 0, 0, 0, 0, 0, 0x02, c.byte9});
        q_frame f{};
        ASSERT_EQ(0, decode_q(q.data(), &f));
        EXPECT_EQ(c.value, f.position.abs.f) << "byte " << int(c.byte9);
    }
}

TEST(DecodeQ, CatalogueNumberNibblesInOrder) {
    // Digits 1..9,0,1,2,3; the low nibble of byte 7 and byte 8 carry junk that must be ignored.
    q_bytes q = with_crc({0x42, 0x12, 0x34, 0x56, 0x78, 0x90, 0x12, 0x3F, 0xFF, 0x47});
    q_frame f{};
    ASSERT_EQ(0, decode_q(q.data(), &f));
    EXPECT_EQ(0x24, f.adr_control);
    EXPECT_EQ("1234567890123", std::string(f.mcn.mcn_digits, 13));
    EXPECT_EQ(47, f.mcn.abs_f);
}

TEST(DecodeQ, CatalogueDigitsAboveNineBecomePunctuation) {
    q_bytes q = with_crc({0x02, 0xAB, 0xCD, 0xEF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00});
    q_frame f{};
    ASSERT_EQ(0, decode_q(q.data(), &f));
    EXPECT_EQ(":;<=>?0000000", std::string(f.mcn.mcn_digits, 13));
}

TEST(DecodeQ, IsrcSixBitSplitsAndDigits) {
    // Codes 17 ('A'), 25 ('I'), 42 ('Z'), 0 ('0'), 63 ('o'), then pad bits 11
    // that must be ignored; digits 2,6,0,1,2,3,4 and a junk nibble.
    uint32_t bits = 17u << 26 | 25u << 20 | 42u << 14 | 0u << 8 | 63u << 2 | 3u;
    q_bytes q = with_crc({0x03, (uint8_t)(bits >> 24), (uint8_t)(bits >> 16), (uint8_t)(bits >> 8),
                          (uint8_t)bits, 0x26, 0x01, 0x23, 0x4F, 0x74});
    q_frame f{};
    ASSERT_EQ(0, decode_q(q.data(), &f));
    EXPECT_EQ(0x30, f.adr_control);
    EXPECT_EQ("AIZ0o2601234", std::string(f.isrc.isrc_chars, 12));
    EXPECT_EQ(74, f.isrc.abs_f);
}

TEST(DecodeQ, EveryIsrcCodeMapsToItsCharacter) {
    for (unsigned code = 0; code < 64; ++code) {
        for (int slot = 0; slot < 5; ++slot) {
            uint32_t bits = code << (26 - 6 * slot);
            q_bytes q = with_crc({0x03, (uint8_t)(bits >> 24), (uint8_t)(bits >> 16),
                                  (uint8_t)(bits >> 8), (uint8_t)bits, 0, 0, 0, 0, 0});
            q_frame f{};
            ASSERT_EQ(0, decode_q(q.data(), &f));
            for (int i = 0; i < 5; ++i)
                ASSERT_EQ(i == slot ? (char)(0x30 + code) : '0', f.isrc.isrc_chars[i])
                    << "code " << code << " slot " << slot << " char " << i;
        }
    }
}

TEST(DecodeQ, OtherModesDecodeOnlyTheirAdrAndControl) {
    for (uint8_t adr : {0, 4, 5, 9, 15}) {
        q_frame f;
        memset(&f, 0xEE, sizeof f);
        q_bytes q = with_crc({(uint8_t)(0x60 | adr), 1, 2, 3, 4, 5, 6, 7, 8, 9});
        ASSERT_EQ(0, decode_q(q.data(), &f)) << "ADR " << int(adr);
        EXPECT_EQ((adr << 4) | 0x6, f.adr_control);
        const uint8_t* body = (const uint8_t*)&f + 1;
        for (size_t i = 0; i + 1 < sizeof f; ++i)
            EXPECT_EQ(0xEE, body[i]) << "ADR " << int(adr) << " body byte " << i;
    }
}

// Frames quoted from real discs and published sources, with their verdicts.
TEST(DecodeQ, RealFrames) {
    std::ifstream file(QSCAN_TEST_DATA "/real_q_frames.tsv");
    ASSERT_TRUE(file) << "missing " QSCAN_TEST_DATA "/real_q_frames.tsv";
    std::string line;
    int checked = 0;
    while (std::getline(file, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream fields(line);
        std::string hex, verdict;
        std::getline(fields, hex, '\t');
        std::getline(fields, verdict, '\t');
        q_bytes q = parse_q(hex);
        q_frame f{};
        EXPECT_EQ(verdict == "ok" ? 0 : Q_CRC_ERROR, decode_q(q.data(), &f)) << hex;
        ++checked;
    }
    EXPECT_EQ(6, checked);
}

}  // namespace
