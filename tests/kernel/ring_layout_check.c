/* Compiles only if tcmu_ring.h agrees with the kernel's own header. */
#include <stddef.h>
#include <linux/target_core_user.h>

#include "tcmu_ring.h"

_Static_assert(offsetof(struct tcmu_mailbox, version) == TCMU_MAILBOX_VERSION_AT, "version");
_Static_assert(offsetof(struct tcmu_mailbox, flags) == TCMU_MAILBOX_FLAGS_AT, "flags");
_Static_assert(TCMU_MAILBOX_FLAG_CAP_READ_LEN == TCMU_MAILBOX_FLAG_READ_LEN, "read_len offered");
_Static_assert(offsetof(struct tcmu_mailbox, cmdr_off) == TCMU_MAILBOX_CMDR_OFF_AT, "cmdr_off");
_Static_assert(offsetof(struct tcmu_mailbox, cmdr_size) == TCMU_MAILBOX_CMDR_SIZE_AT, "cmdr_size");
_Static_assert(offsetof(struct tcmu_mailbox, cmd_head) == TCMU_MAILBOX_CMD_HEAD_AT, "cmd_head");
_Static_assert(offsetof(struct tcmu_mailbox, cmd_tail) == TCMU_MAILBOX_CMD_TAIL_AT, "cmd_tail");
_Static_assert(TCMU_MAILBOX_VERSION == TCMU_MAILBOX_VERSION_2, "mailbox version");
_Static_assert(offsetof(struct tcmu_cmd_entry, hdr.len_op) == TCMU_ENTRY_LEN_OP_AT, "len_op");
_Static_assert(offsetof(struct tcmu_cmd_entry, hdr.uflags) == TCMU_ENTRY_UFLAGS_AT, "uflags");
_Static_assert(TCMU_OP_MASK == TCMU_ENTRY_OP_MASK && (int)TCMU_OP_CMD == (int)TCMU_ENTRY_OP_CMD, "operations");
_Static_assert(TCMU_UFLAG_READ_LEN == TCMU_UFLAG_READ_LEN_SET, "read_len flag");
_Static_assert(offsetof(struct tcmu_cmd_entry, req.iov_cnt) == TCMU_REQ_IOV_CNT_AT, "iov_cnt");
_Static_assert(offsetof(struct tcmu_cmd_entry, req.cdb_off) == TCMU_REQ_CDB_OFF_AT, "cdb_off");
_Static_assert(offsetof(struct tcmu_cmd_entry, req.iov) == TCMU_REQ_IOV_AT, "iov");
_Static_assert(sizeof(struct iovec) == TCMU_IOV_SIZE, "iovec");
_Static_assert(offsetof(struct tcmu_cmd_entry, rsp.scsi_status) == TCMU_RSP_SCSI_STATUS_AT, "scsi_status");
_Static_assert(offsetof(struct tcmu_cmd_entry, rsp.read_len) == TCMU_RSP_READ_LEN_AT, "read_len");
_Static_assert(offsetof(struct tcmu_cmd_entry, rsp.sense_buffer) == TCMU_RSP_SENSE_AT, "sense_buffer");
_Static_assert(TCMU_SENSE_BUFFERSIZE == TCMU_RSP_SENSE_SIZE, "sense size");
