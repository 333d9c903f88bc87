// The shared ring of the kernel's target_core_user, as its uapi header
// (linux/target_core_user.h) lays it out, in byte offsets: the header
// itself is C, not C++. ring_layout_check.c proves the numbers against it.
#ifndef QSCAN_TESTS_KERNEL_TCMU_RING_H
#define QSCAN_TESTS_KERNEL_TCMU_RING_H

enum {
    // The mailbox, at the start of the mapped region.
    TCMU_MAILBOX_VERSION_AT = 0,   // u16, 2
    TCMU_MAILBOX_FLAGS_AT = 2,     // u16: what the kernel offers
    TCMU_MAILBOX_FLAG_READ_LEN = 0x2,  // it takes rsp read_len: the bytes actually read
    TCMU_MAILBOX_CMDR_OFF_AT = 4,  // u32: the command ring's offset in the region
    TCMU_MAILBOX_CMDR_SIZE_AT = 8, // u32: its size
    TCMU_MAILBOX_CMD_HEAD_AT = 12, // u32, written by the kernel
    TCMU_MAILBOX_CMD_TAIL_AT = 64, // u32, written by us, on a cache line of its own
    TCMU_MAILBOX_VERSION_2 = 2,

    // A command entry in the ring: an 8-byte header, then the request,
    // which the response overwrites in place.
    TCMU_ENTRY_LEN_OP_AT = 0,        // u32: length in the high bits, operation in the low 3
    TCMU_ENTRY_UFLAGS_AT = 7,        // u8
    TCMU_ENTRY_OP_MASK = 0x7,
    TCMU_ENTRY_OP_CMD = 1,           // the others: 0 padding, 2 task management
    TCMU_UFLAG_READ_LEN_SET = 0x2,   // rsp read_len holds the bytes actually read
    TCMU_REQ_IOV_CNT_AT = 8,         // u32
    TCMU_REQ_CDB_OFF_AT = 24,        // u64: the command block's offset in the region
    TCMU_REQ_IOV_AT = 48,            // struct iovec[]: base (an offset in the region), length
    TCMU_IOV_SIZE = 16,
    TCMU_RSP_SCSI_STATUS_AT = 8,     // u8
    TCMU_RSP_READ_LEN_AT = 12,       // u32
    TCMU_RSP_SENSE_AT = 16,          // 96 bytes
    TCMU_RSP_SENSE_SIZE = 96,
    TCMU_ENTRY_MIN_SIZE = TCMU_RSP_SENSE_AT + TCMU_RSP_SENSE_SIZE  // room for the response
};

#endif
