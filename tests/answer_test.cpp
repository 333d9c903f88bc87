// The parsers of the drive's answers: every kind of malformed answer with the
// line it gives, a table no disc can have, and well-formed answers read whole,
// cut, or as far as they go.
#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "disc/cd_text.h"
#include "disc/toc.h"
#include "drive/answers.h"
#include "drive/drive.h"

namespace {

typedef std::vector<uint8_t> bytes;

// An answer with its 2-byte length field (READ TOC's) set to what follows it.
bytes toc_answer(uint8_t byte2, uint8_t byte3, const bytes& body) {
    bytes a = {0, 0, byte2, byte3};
    a.insert(a.end(), body.begin(), body.end());
    a[0] = (uint8_t)((a.size() - 2) >> 8);
    a[1] = (uint8_t)(a.size() - 2);
    return a;
}

// One 8-byte descriptor of format 0000b or 0001b.
bytes descriptor(uint8_t number, int32_t start) {
    uint32_t s = (uint32_t)start;
    return {0, 0x10, number, 0, (uint8_t)(s >> 24), (uint8_t)(s >> 16), (uint8_t)(s >> 8), (uint8_t)s};
}

bytes operator+(bytes a, const bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// One 11-byte descriptor of format 0010b at a block (ADR 1, binary times).
bytes point(uint8_t session, uint8_t number, int32_t block, uint8_t adr = 1) {
    int32_t f = block + 150;
    return {session, (uint8_t)(adr << 4), 0, number, 0, 0, 0, 0, (uint8_t)(f / 4500), (uint8_t)(f / 75 % 60),
            (uint8_t)(f % 75)};
}

bytes point_at(uint8_t session, uint8_t number, uint8_t m, uint8_t s, uint8_t f) {
    return {session, 0x10, 0, number, 0, 0, 0, 0, m, s, f};
}

// A disc of three tracks, the third a second session's data track.
const int32_t T2 = 5000, T3 = 30000, LEAD_OUT = 40000, FIRST_END = T3 - SESSION_GAP_BLOCKS;
bytes three_tracks() {
    return toc_answer(1, 3, descriptor(1, 0) + descriptor(2, T2) + descriptor(3, T3) + descriptor(0xAA, LEAD_OUT));
}
bytes two_sessions() {
    return toc_answer(1, 2, descriptor(3, T3));
}
bytes full_toc(const bytes& descriptors) {
    return toc_answer(1, 2, descriptors);
}
bytes good_full() {
    return full_toc(point(1, 1, 0) + point(1, 2, T2) + point(1, 0xA2, FIRST_END) + point(2, 3, T3) +
                    point(2, 0xA2, LEAD_OUT));
}

// A CD-Text answer of `packs` packs whose length field says `said`.
bytes cd_text_answer(unsigned packs, uint32_t said) {
    bytes a(4 + packs * CD_TEXT_PACK, 0x80);
    a[0] = (uint8_t)(said >> 8);
    a[1] = (uint8_t)said;
    return a;
}

// INQUIRY's standard answer: a CD drive's type, then its names.
bytes inquiry_answer(uint8_t additional, const char* names, size_t arrived = INQUIRY_SIZE) {
    bytes a = {0x05, 0x80, 0x05, 0x32, additional, 0, 0, 0};
    a.insert(a.end(), names, names + strlen(names));
    a.resize(arrived, ' ');
    return a;
}

// READ SUB-CHANNEL's report of `format`, its data length `said`, the valid
// bit set or not, the code's characters from byte 9.
bytes subq_answer(uint8_t format, uint16_t said, bool valid, const char* code, size_t arrived = SUBQ_ANSWER_SIZE) {
    bytes a = {0, 0x15, (uint8_t)(said >> 8), (uint8_t)said, format, 0x10, 3, 0, (uint8_t)(valid ? 0x80 : 0)};
    a.insert(a.end(), code, code + strlen(code));
    a.resize(arrived, 0);
    return a;
}

enum parser { TRACKS, SESSIONS, FULL, CD_TEXT, INQUIRY, CATALOGUE, ISRC };
const char* const WHAT[] = {"table of contents", "session information", "full table of contents", "CD-Text",
                            "INQUIRY answer", "catalogue-number report", "ISRC report for track 3"};

// The line a parser gives an answer, "" for one it takes: each of format
// 0001b and 0010b on the table that the formats before it gave.
std::string line_of(parser p, const bytes& a, bool cut = false, uint32_t arrived = UINT32_MAX) {
    uint32_t n = arrived == UINT32_MAX ? (uint32_t)a.size() : arrived;
    char why[ANSWER_WHY_SIZE] = "";
    disc_toc toc;
    unsigned packs = 0;
    bool ok = false;
    drive_identity id;
    bool valid = false;
    char code[MCN_LENGTH];
    if (p == CD_TEXT) {
        ok = cd_text_answer_packs(a.data(), n, cut, &packs, why);
    } else if (p == INQUIRY) {
        ok = inquiry_parse(a.data(), n, cut, &id, why);
    } else if (p == CATALOGUE) {
        ok = subq_parse_catalogue_number(a.data(), n, &valid, code, why);
    } else if (p == ISRC) {
        ok = subq_parse_isrc(a.data(), n, &valid, code, why);
    } else if (p == TRACKS) {
        ok = toc_parse_tracks(a.data(), n, cut, &toc, why) && !toc_impossible(&toc, why);
    } else {
        bytes tracks = three_tracks(), sessions = two_sessions();
        EXPECT_TRUE(toc_parse_tracks(tracks.data(), (uint32_t)tracks.size(), false, &toc, why));
        if (p == FULL) {
            EXPECT_TRUE(toc_parse_sessions(sessions.data(), (uint32_t)sessions.size(), false, &toc, why));
        }
        ok = (p == SESSIONS ? toc_parse_sessions : toc_parse_full)(a.data(), n, cut, &toc, why) &&
             !toc_impossible(&toc, why);
    }
    EXPECT_EQ(ok, why[0] == '\0') << why;
    return ok ? "" : std::string("the drive's ") + WHAT[p] + " is malformed: " + why;
}

// Every kind of fault, one answer each.
TEST(MalformedAnswers, EachSaysWhatIsWrongInOneLine) {
    bytes big(4 + (CD_TEXT_PACKS + 1) * CD_TEXT_PACK, 0);
    big[0] = (uint8_t)((big.size() - 2) >> 8);
    big[1] = (uint8_t)(big.size() - 2);
    const struct {
        const char* fault;
        parser p;
        bytes answer;
        bool cut;
        uint32_t arrived;  // UINT32_MAX: all of it
        const char* line;
    } cases[] = {
        {"a length field of 0", CD_TEXT, cd_text_answer(0, 0), false, UINT32_MAX,
         "the drive's CD-Text is malformed: its length field says 0 bytes"},
        {"a length field of 1", CD_TEXT, cd_text_answer(0, 1), false, UINT32_MAX,
         "the drive's CD-Text is malformed: its length field says 1 byte"},
        {"less arrived than the field says", CD_TEXT, cd_text_answer(45, 812), false, 406,
         "the drive's CD-Text is malformed: its length field says 812 bytes, but 404 arrived"},
        {"cut, less than the header arrived", CD_TEXT, cd_text_answer(45, 812), true, 3,
         "the drive's CD-Text is malformed: only 3 bytes arrived"},
        {"more packs than 8 blocks hold", CD_TEXT, big, false, UINT32_MAX,
         "the drive's CD-Text is malformed: it holds 2049 packs, more than the 2048 of 8 blocks"},
        {"less than the length field", TRACKS, three_tracks(), false, 1,
         "the drive's table of contents is malformed: only 1 byte arrived"},
        {"no whole number of descriptors", TRACKS, toc_answer(1, 1, descriptor(1, 0) + bytes(21, 0)), false,
         UINT32_MAX,
         "the drive's table of contents is malformed: its length field says 31 bytes, which is no whole number of "
         "8-byte descriptors"},
        {"no track", TRACKS, toc_answer(1, 1, descriptor(0xAA, 100)), false, UINT32_MAX,
         "the drive's table of contents is malformed: it lists no track"},
        {"no lead-out", TRACKS, toc_answer(1, 2, descriptor(1, 0) + descriptor(2, 100)), false, UINT32_MAX,
         "the drive's table of contents is malformed: it has no lead-out"},
        {"a lead-out before a track", TRACKS,
         toc_answer(1, 2, descriptor(1, 0) + descriptor(0xAA, 900) + descriptor(2, 100)), false, UINT32_MAX,
         "the drive's table of contents is malformed: its lead-out is not its last descriptor"},
        {"track 0", TRACKS, toc_answer(0, 0, descriptor(0, 0) + descriptor(0xAA, 100)), false, UINT32_MAX,
         "the drive's table of contents is malformed: it lists track 0, outside 1-99"},
        {"track 100", TRACKS, toc_answer(1, 100, descriptor(1, 0) + descriptor(100, 50) + descriptor(0xAA, 100)),
         false, UINT32_MAX, "the drive's table of contents is malformed: it lists track 100, outside 1-99"},
        {"track numbers out of order", TRACKS,
         toc_answer(1, 2, descriptor(1, 0) + descriptor(3, 50) + descriptor(2, 70) + descriptor(0xAA, 100)), false,
         UINT32_MAX, "the drive's table of contents is malformed: track 2 follows track 3"},
        {"a header that names other tracks", TRACKS,
         toc_answer(1, 3, descriptor(1, 0) + descriptor(2, 50) + descriptor(0xAA, 100)), false, UINT32_MAX,
         "the drive's table of contents is malformed: its header names tracks 1 to 3, but it lists tracks 1 to 2"},
        {"starts that go back", TRACKS,
         toc_answer(1, 2, descriptor(1, 4000) + descriptor(2, 2000) + descriptor(0xAA, 9000)), false, UINT32_MAX,
         "the drive's table of contents is malformed: track 2 starts at block 2000, before track 1 at block 4000"},
        {"two tracks at one block", TRACKS,
         toc_answer(1, 2, descriptor(1, 0) + descriptor(2, 0) + descriptor(0xAA, 9000)), false, UINT32_MAX,
         "the drive's table of contents is malformed: track 2 starts at block 0, where track 1 does"},
        {"a lead-out before the last track", TRACKS,
         toc_answer(1, 2, descriptor(1, 0) + descriptor(2, 4000) + descriptor(0xAA, 100)), false, UINT32_MAX,
         "the drive's table of contents is malformed: the lead-out starts at block 100, not after track 2 at block "
         "4000"},
        {"a negative address", TRACKS, toc_answer(1, 1, descriptor(1, -5) + descriptor(0xAA, 100)), false,
         UINT32_MAX,
         "the drive's table of contents is malformed: track 1 starts at block -5, before the disc's first block"},
        {"a header alone", SESSIONS, toc_answer(1, 2, {}), false, UINT32_MAX,
         "the drive's session information is malformed: its length field says 2 bytes"},
        {"two descriptors", SESSIONS, toc_answer(1, 2, descriptor(3, T3) + descriptor(3, T3)), false, UINT32_MAX,
         "the drive's session information is malformed: its length field says 18 bytes, more than its one "
         "descriptor"},
        {"sessions that do not begin at 1", SESSIONS, toc_answer(2, 2, descriptor(3, T3)), false, UINT32_MAX,
         "the drive's session information is malformed: it names sessions 2 to 2"},
        {"a track the table does not list", SESSIONS, toc_answer(1, 2, descriptor(7, T3)), false, UINT32_MAX,
         "the drive's session information is malformed: its last session begins with track 7, which the table of "
         "contents does not list"},
        {"a track where the table does not put it", SESSIONS, toc_answer(1, 2, descriptor(3, 20000)), false,
         UINT32_MAX,
         "the drive's session information is malformed: it puts track 3 at block 20000, the table of contents at "
         "block 30000"},
        {"one session that begins after the first track", SESSIONS, toc_answer(1, 1, descriptor(2, T2)), false,
         UINT32_MAX,
         "the drive's session information is malformed: it names one session, which begins with track 2, not with "
         "track 1"},
        {"a last session that begins with the first track", SESSIONS, toc_answer(1, 2, descriptor(1, 0)), false,
         UINT32_MAX,
         "the drive's session information is malformed: its last session, 2, begins with the disc's first track, 1"},
        {"a first session that ends before its last track", SESSIONS, toc_answer(1, 2, descriptor(2, T2)), false,
         UINT32_MAX,
         "the drive's session information is malformed: the first session's lead-out starts at block -6400, not "
         "after its last track at block 0"},
        {"a header of other sessions", FULL, toc_answer(1, 3, point(1, 1, 0)), false, UINT32_MAX,
         "the drive's full table of contents is malformed: its header names sessions 1 to 3, the session "
         "information 1 to 2"},
        {"no whole number of 11-byte descriptors", FULL, full_toc(point(1, 1, 0) + bytes(9, 0)), false, UINT32_MAX,
         "the drive's full table of contents is malformed: its length field says 22 bytes, which is no whole number "
         "of 11-byte descriptors"},
        {"a session outside the header's", FULL, full_toc(point(3, 1, 0)), false, UINT32_MAX,
         "the drive's full table of contents is malformed: its point 01h lies in session 3, outside sessions 1 to "
         "2"},
        {"a time that is none", FULL, full_toc(point(1, 1, 0) + point_at(1, 0xA2, 0, 61, 0)), false, UINT32_MAX,
         "the drive's full table of contents is malformed: its point A2h of session 1 is at 00:61:00, no time"},
        {"a track the table does not list", FULL, full_toc(point(1, 9, 100)), false, UINT32_MAX,
         "the drive's full table of contents is malformed: it lists track 9, which the table of contents does not"},
        {"a track twice", FULL, full_toc(point(1, 1, 0) + point(1, 1, 0)), false, UINT32_MAX,
         "the drive's full table of contents is malformed: it lists track 1 twice"},
        {"a track elsewhere", FULL, full_toc(point(1, 2, 6000)), false, UINT32_MAX,
         "the drive's full table of contents is malformed: it puts track 2 at block 6000, the table of contents at "
         "block 5000"},
        {"no first lead-out", FULL, full_toc(point(1, 1, 0) + point(2, 0xA2, LEAD_OUT)), false, UINT32_MAX,
         "the drive's full table of contents is malformed: it has no lead-out for session 1"},
        {"the first lead-out twice", FULL, full_toc(point(1, 0xA2, FIRST_END) + point(1, 0xA2, FIRST_END)), false,
         UINT32_MAX, "the drive's full table of contents is malformed: it gives the first session's lead-out twice"},
        {"a session that begins before the first lead-out", FULL, full_toc(point(1, 0xA2, T3 + 100)), false,
         UINT32_MAX,
         "the drive's full table of contents is malformed: session 2 begins with track 3 at block 30000, not after "
         "the first session's lead-out at block 30100"},
        {"sessions out of order", FULL, full_toc(point(1, 0xA2, 4000) + point(2, 2, T2) + point(1, 3, T3)), false,
         UINT32_MAX,
         "the drive's full table of contents is malformed: track 3 lies in session 1, after track 2 of session 2"},
        {"a first track of a later session", FULL, full_toc(point(1, 0xA2, FIRST_END) + point(2, 1, 0)), false,
         UINT32_MAX,
         "the drive's full table of contents is malformed: track 1 lies in session 2: the first session has no "
         "track"},
        {"an additional length short of the vendor", INQUIRY, inquiry_answer(10, "VENDOR"), false, UINT32_MAX,
         "the drive's INQUIRY answer is malformed: its length field says 10 bytes"},
        {"an additional length beyond what arrived", INQUIRY, inquiry_answer(31, "VENDOR", 20), false, UINT32_MAX,
         "the drive's INQUIRY answer is malformed: its length field says 31 bytes, but 15 arrived"},
        {"no additional length", INQUIRY, inquiry_answer(31, "", 4), true, UINT32_MAX,
         "the drive's INQUIRY answer is malformed: only 4 bytes arrived"},
        {"a data length short of the format's", CATALOGUE, subq_answer(2, 16, true, "1234567890128"), false,
         UINT32_MAX, "the drive's catalogue-number report is malformed: its length field says 16 bytes"},
        {"a data length beyond what arrived", CATALOGUE, subq_answer(2, 20, true, "1234567890128", 12), false,
         UINT32_MAX, "the drive's catalogue-number report is malformed: its length field says 20 bytes, but 8 arrived"},
        {"another format", CATALOGUE, subq_answer(3, 20, true, "ZZQSC2600001"), false, UINT32_MAX,
         "the drive's catalogue-number report is malformed: it is of format 03h, not 02h"},
        {"a digit that is none", CATALOGUE, subq_answer(2, 20, true, "1234A67890128"), false, UINT32_MAX,
         "the drive's catalogue-number report is malformed: its character 5 is 41h, which no such code holds"},
        {"a character no ISRC holds", ISRC, subq_answer(3, 20, true, "ZZqSC2600001"), false, UINT32_MAX,
         "the drive's ISRC report for track 3 is malformed: its character 3 is 71h, which no such code holds"},
        {"another format", ISRC, subq_answer(1, 20, true, "ZZQSC2600001"), false, UINT32_MAX,
         "the drive's ISRC report for track 3 is malformed: it is of format 01h, not 03h"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.line, line_of(c.p, c.answer, c.cut, c.arrived)) << c.fault;
}

// The drive's names: blanks after them removed, a byte no one can read as
// '?', a name the answer ends in or before empty; a drive that has more to
// say than was asked for is not at fault.
TEST(WellFormedAnswers, DriveNames) {
    const struct {
        const char* what;
        bytes answer;
        bool cut;
        const char *vendor, *product, *revision;
    } cases[] = {
        {"36 bytes", inquiry_answer(31, "PLEXTOR CD-R   PX-W4824A1.07"), false, "PLEXTOR", "CD-R   PX-W4824A", "1.07"},
        {"96 bytes, 36 asked for", inquiry_answer(91, "ASUS    DRW-24B1ST   a  1.02"), true, "ASUS", "DRW-24B1ST   a",
         "1.02"},
        {"blanks and control bytes", inquiry_answer(31, "  HL\x01" "DT \x7f"), false, "  HL?DT", "?", ""},
        {"the vendor alone", inquiry_answer(11, "MATSHITA"), false, "MATSHITA", "", ""},
        {"the vendor and the product", inquiry_answer(27, "TSSTcorpCDDVDW SH-224DB"), false, "TSSTcorp",
         "CDDVDW SH-224DB", ""},
    };
    for (const auto& c : cases) {
        drive_identity id;
        char why[ANSWER_WHY_SIZE] = "";
        ASSERT_TRUE(inquiry_parse(c.answer.data(), (uint32_t)c.answer.size(), c.cut, &id, why)) << c.what << why;
        EXPECT_STREQ(c.vendor, id.vendor) << c.what;
        EXPECT_STREQ(c.product, id.product) << c.what;
        EXPECT_STREQ(c.revision, id.revision) << c.what;
    }
}

// The codes a drive reports: valid or not, and when not, whatever follows
// counts for nothing.
TEST(WellFormedAnswers, CodesTheDriveReports) {
    char why[ANSWER_WHY_SIZE];
    bool valid = false;
    char mcn[MCN_LENGTH], isrc[ISRC_LENGTH];
    bytes a = subq_answer(2, 20, true, "0724354027126");
    ASSERT_TRUE(subq_parse_catalogue_number(a.data(), (uint32_t)a.size(), &valid, mcn, why)) << why;
    EXPECT_TRUE(valid);
    EXPECT_EQ("0724354027126", std::string(mcn, MCN_LENGTH));
    a = subq_answer(2, 20, false, "\xff\xff\xff");
    ASSERT_TRUE(subq_parse_catalogue_number(a.data(), (uint32_t)a.size(), &valid, mcn, why)) << why;
    EXPECT_FALSE(valid);
    a = subq_answer(3, 20, true, "GBAYE6800011");
    ASSERT_TRUE(subq_parse_isrc(a.data(), (uint32_t)a.size(), &valid, isrc, why)) << why;
    EXPECT_TRUE(valid);
    EXPECT_EQ("GBAYE6800011", std::string(isrc, ISRC_LENGTH));
    a = subq_answer(3, 20, false, "");
    ASSERT_TRUE(subq_parse_isrc(a.data(), (uint32_t)a.size(), &valid, isrc, why)) << why;
    EXPECT_FALSE(valid);
}

// Answers read as the drive gave them: the tracks in order, then the
// sessions and the full table; points of other kinds passed over.
TEST(WellFormedAnswers, TablesOfContents) {
    bytes tracks = three_tracks(), sessions = two_sessions();
    bytes full = good_full() + point(1, 0xA0, 1 * 4500 - 150) + point(1, 0xB0, 9000, 5) + point(1, 0x05, 100, 5);
    full[0] = (uint8_t)((full.size() - 2) >> 8);
    full[1] = (uint8_t)(full.size() - 2);
    char why[ANSWER_WHY_SIZE];
    disc_toc toc;
    ASSERT_TRUE(toc_parse_tracks(tracks.data(), (uint32_t)tracks.size(), false, &toc, why)) << why;
    EXPECT_EQ(3u, toc.track_count);
    EXPECT_EQ(1, toc.first_track);
    EXPECT_EQ(3, toc.last_track);
    EXPECT_EQ(T2, toc.track[1].start);
    EXPECT_EQ(LEAD_OUT, toc.lead_out);
    EXPECT_EQ(LEAD_OUT, toc.first_session_end);  // one session, until format 0001b says more
    ASSERT_TRUE(toc_parse_sessions(sessions.data(), (uint32_t)sessions.size(), false, &toc, why)) << why;
    EXPECT_EQ(2, toc.sessions);
    EXPECT_EQ(FIRST_END, toc.first_session_end);
    EXPECT_EQ((std::vector<int>{1, 1, 2}), (std::vector<int>{toc.track[0].session, toc.track[1].session,
                                                             toc.track[2].session}));
    toc.first_session_end = 0;
    ASSERT_TRUE(toc_parse_full(full.data(), (uint32_t)full.size(), false, &toc, why)) << why;
    EXPECT_EQ(FIRST_END, toc.first_session_end);
    EXPECT_FALSE(toc_impossible(&toc, why)) << why;

    // A malformed answer leaves the table as it was.
    disc_toc before = toc;
    bytes bad = full_toc(point(1, 0xA2, FIRST_END) + point(1, 2, 6000));
    EXPECT_FALSE(toc_parse_full(bad.data(), (uint32_t)bad.size(), false, &toc, why));
    EXPECT_EQ(0, memcmp(&before, &toc, sizeof toc));
    // One session: nothing changes.
    bytes one = toc_answer(1, 1, descriptor(1, 0));
    ASSERT_TRUE(toc_parse_sessions(one.data(), (uint32_t)one.size(), false, &toc, why)) << why;
    EXPECT_EQ(0, memcmp(&before, &toc, sizeof toc));
}

// CD-Text: a header alone is a disc without; a cut answer gives its whole
// packs; bytes after the length field's end are not the answer's.
TEST(WellFormedAnswers, CdTextPacks) {
    const struct {
        const char* what;
        bytes answer;
        uint32_t arrived;
        bool cut;
        unsigned packs;
    } cases[] = {
        {"a header alone", cd_text_answer(0, 2), 4, false, 0},
        {"three packs", cd_text_answer(3, 2 + 54), 58, false, 3},
        {"three packs and bytes after them", cd_text_answer(4, 2 + 54), 76, false, 3},
        {"cut inside the third pack", cd_text_answer(45, 812), 4 + 2 * 18 + 7, true, 2},
        {"cut, all of it there", cd_text_answer(45, 812), 814, true, 45},
    };
    for (const auto& c : cases) {
        char why[ANSWER_WHY_SIZE];
        unsigned packs = 99;
        EXPECT_TRUE(cd_text_answer_packs(c.answer.data(), c.arrived, c.cut, &packs, why)) << c.what << ": " << why;
        EXPECT_EQ(c.packs, packs) << c.what;
    }
}

}  // namespace
