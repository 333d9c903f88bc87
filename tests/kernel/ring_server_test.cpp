// The kernel rig's command ring, on a ring laid out in memory as the kernel
// lays it out: entries with several data vectors, a short transfer told or
// not, padding and wrap, and entries whose offsets cannot be right.
#include <gtest/gtest.h>
#include <string.h>

#include <vector>

#include "emulated/emulated_drive.h"
#include "tests/kernel/ring_server.h"
#include "tests/kernel/tcmu_ring.h"

namespace {

const uint32_t RING_AT = 128, RING_SIZE = 1024, DATA_AT = 4096, REGION_SIZE = 16384;
const uint32_t ENTRY = 128;  // a command entry with room for two vectors and the response

struct fake_kernel {
    std::vector<uint8_t> region = std::vector<uint8_t>(REGION_SIZE);
    uint32_t head = 0;

    explicit fake_kernel(bool read_len_offered = true) {
        put16(TCMU_MAILBOX_VERSION_AT, TCMU_MAILBOX_VERSION_2);
        put16(TCMU_MAILBOX_FLAGS_AT, read_len_offered ? TCMU_MAILBOX_FLAG_READ_LEN : 0);
        put32(TCMU_MAILBOX_CMDR_OFF_AT, RING_AT);
        put32(TCMU_MAILBOX_CMDR_SIZE_AT, RING_SIZE);
    }
    void put16(size_t at, uint16_t v) { memcpy(&region[at], &v, 2); }
    void put32(size_t at, uint32_t v) { memcpy(&region[at], &v, 4); }
    void put64(size_t at, uint64_t v) { memcpy(&region[at], &v, 8); }
    uint32_t get32(size_t at) const {
        uint32_t v;
        memcpy(&v, &region[at], 4);
        return v;
    }
    uint8_t* entry(uint32_t at) { return &region[RING_AT + at]; }

    // Queues READ CD of one block, its data in vectors of the given lengths.
    uint32_t read_cd(uint32_t lba, std::vector<uint64_t> vectors, uint64_t cdb_off = DATA_AT - 16) {
        uint32_t at = head;
        const uint8_t cdb[12] = {0xBE, 0, (uint8_t)(lba >> 24), (uint8_t)(lba >> 16), (uint8_t)(lba >> 8),
                                 (uint8_t)lba, 0, 0, 1, 0xF8, 0x01, 0};
        if (cdb_off <= REGION_SIZE - sizeof cdb)
            memcpy(&region[cdb_off], cdb, sizeof cdb);
        put32(RING_AT + at + TCMU_ENTRY_LEN_OP_AT, ENTRY | TCMU_ENTRY_OP_CMD);
        put32(RING_AT + at + TCMU_REQ_IOV_CNT_AT, (uint32_t)vectors.size());
        put64(RING_AT + at + TCMU_REQ_CDB_OFF_AT, cdb_off);
        uint64_t offset = DATA_AT;
        for (size_t i = 0; i < vectors.size(); ++i) {
            put64(RING_AT + at + TCMU_REQ_IOV_AT + i * TCMU_IOV_SIZE, offset);
            put64(RING_AT + at + TCMU_REQ_IOV_AT + i * TCMU_IOV_SIZE + 8, vectors[i]);
            offset += vectors[i] + 512;  // apart, as the kernel's data pages may be
        }
        publish(ENTRY);
        return at;
    }
    void padding_to_the_end() {
        put32(RING_AT + head + TCMU_ENTRY_LEN_OP_AT, RING_SIZE - head);  // operation 0: padding
        publish(RING_SIZE - head);
    }
    void publish(uint32_t length) {
        head = (head + length) % RING_SIZE;
        put32(TCMU_MAILBOX_CMD_HEAD_AT, head);
    }
};

class RingServerTest : public ::testing::Test {
protected:
    synth_disc disc = synth_sample_disc();
    ring_server server;
    std::string error;
    void SetUp() override {
        emulated_reset();
        emulated_insert_synth_disc(disc);
    }
    void TearDown() override { emulated_reset(); }

    int serve(fake_kernel* k) {
        EXPECT_TRUE(ring_server_start(&server, k->region.data(), k->region.size(), NULL, &error)) << error;
        server.tail = k->get32(TCMU_MAILBOX_CMD_TAIL_AT);
        return ring_server_serve(&server, &error);
    }
};

TEST_F(RingServerTest, DataAcrossVectorsAndShortTransfers) {
    uint8_t want[SECTOR_BUFFER_SIZE];
    synth_sector(disc, 7, want);
    fake_kernel k;
    uint32_t at = k.read_cd(7, {1000, 1448});
    ASSERT_EQ(1, serve(&k));
    EXPECT_EQ(0x00, k.entry(at)[TCMU_RSP_SCSI_STATUS_AT]);
    EXPECT_EQ(0, memcmp(&k.region[DATA_AT], want, 1000));
    EXPECT_EQ(0, memcmp(&k.region[DATA_AT + 1000 + 512], want + 1000, 1448));
    EXPECT_EQ(0, k.entry(at)[TCMU_ENTRY_UFLAGS_AT] & TCMU_UFLAG_READ_LEN_SET);  // all of it: nothing to tell
    EXPECT_EQ(ENTRY, k.get32(TCMU_MAILBOX_CMD_TAIL_AT));

    // A short transfer and a recovered error's data with CHECK CONDITION
    // reach the kernel through the length read; without it, the rest of
    // the room reads as zeros.
    struct {
        emulated_fault fault;
        bool offered;
        uint8_t status;
        uint32_t told;  // 0: not told
    } cases[] = {
        {FAULT_SHORT_TRANSFER, true, 0x00, 2352},
        {FAULT_RECOVERED, true, 0x02, 2448},
        {FAULT_SHORT_TRANSFER, false, 0x00, 0},
    };
    for (auto& c : cases) {
        fake_kernel kernel(c.offered);
        memset(&kernel.region[DATA_AT], 0xEE, 2448);
        emulated_inject_fault(7, c.fault);
        at = kernel.read_cd(7, {2448});
        ASSERT_EQ(1, serve(&kernel)) << error;
        uint8_t* e = kernel.entry(at);
        EXPECT_EQ(c.status, e[TCMU_RSP_SCSI_STATUS_AT]) << c.fault;
        EXPECT_EQ(c.told != 0, (e[TCMU_ENTRY_UFLAGS_AT] & TCMU_UFLAG_READ_LEN_SET) != 0) << c.fault;
        if (c.told) {
            EXPECT_EQ(c.told, kernel.get32(RING_AT + at + TCMU_RSP_READ_LEN_AT)) << c.fault;
        }
        EXPECT_EQ(0, memcmp(&kernel.region[DATA_AT], want, 2352)) << c.fault;
        EXPECT_EQ(c.fault == FAULT_RECOVERED ? want[2352] : c.offered ? 0xEE : 0x00, kernel.region[DATA_AT + 2352])
            << c.fault;
    }
}

TEST_F(RingServerTest, PaddingAndWrap) {
    fake_kernel k;
    k.head = RING_SIZE - 2 * ENTRY - 64;  // where the kernel's last entries ended
    k.put32(TCMU_MAILBOX_CMD_TAIL_AT, k.head);
    k.read_cd(1, {2448});
    k.read_cd(2, {2448});
    k.padding_to_the_end();
    uint32_t last = k.read_cd(3, {2448});
    EXPECT_EQ(3, serve(&k)) << error;
    EXPECT_EQ(0u, last);
    EXPECT_EQ(ENTRY, server.tail);
    EXPECT_EQ(ENTRY, k.get32(TCMU_MAILBOX_CMD_TAIL_AT));
    EXPECT_EQ(0x00, k.entry(last)[TCMU_RSP_SCSI_STATUS_AT]);
}

TEST_F(RingServerTest, OffsetsThatCannotBeRight) {
    for (uint64_t cdb_off : {(uint64_t)REGION_SIZE, (uint64_t)REGION_SIZE - 4, ~(uint64_t)0}) {
        fake_kernel k;
        uint32_t at = k.read_cd(7, {2448}, cdb_off);
        ASSERT_EQ(1, serve(&k)) << cdb_off;
        EXPECT_EQ(0x02, k.entry(at)[TCMU_RSP_SCSI_STATUS_AT]) << cdb_off;
        EXPECT_EQ(0x04, k.entry(at)[TCMU_RSP_SENSE_AT + 2]) << cdb_off;  // hardware error
    }
    fake_kernel k;
    uint32_t at = k.read_cd(7, {(uint64_t)REGION_SIZE});  // a vector past the region's end
    ASSERT_EQ(1, serve(&k));
    EXPECT_EQ(0x02, k.entry(at)[TCMU_RSP_SCSI_STATUS_AT]);

    fake_kernel zero_length;
    zero_length.publish(ENTRY);  // an entry of length 0 at the tail
    EXPECT_EQ(-1, serve(&zero_length));
    EXPECT_NE(std::string::npos, error.find("0 bytes"));

    fake_kernel bad_ring;
    bad_ring.put32(TCMU_MAILBOX_CMDR_SIZE_AT, REGION_SIZE);  // a ring past the region's end
    EXPECT_FALSE(ring_server_start(&server, bad_ring.region.data(), bad_ring.region.size(), NULL, &error));
}

}  // namespace
