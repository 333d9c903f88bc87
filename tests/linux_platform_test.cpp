// The Linux platform layer over a scripted fake kernel: drive letters and
// nodes, the open, the SG_IO header built from a request and the outcome
// written back, and the whole scanner reading a disc through it.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>

#include <algorithm>
#include <functional>
#include <map>

#include "drive/drive.h"
#include "platform/linux.h"
#include "sheet/qscan_sheet.h"
#include "support.h"

namespace {

const int FAKE_FD = 42;

// What the fake kernel knows and what it was asked.
struct fake_kernel {
    std::map<std::string, struct stat> nodes;
    std::map<std::string, std::string> links;  // symbolic links: their targets
    std::string opened;                        // the node the last open reached
    bool replaced = false;                     // fstat finds another node than stat did
    std::vector<std::string> stats;
    std::vector<std::pair<std::string, int>> opens;
    int open_result = FAKE_FD;
    int open_errno = EACCES;
    std::vector<std::pair<int, int>> dups;
    int dup_result = FAKE_FD;
    uint64_t now_ms = 1000;
    std::vector<int> closes;
    std::vector<sg_io_hdr_t> sg_calls;
    std::vector<std::vector<uint8_t>> cdbs;
    std::function<int(sg_io_hdr_t*)> sg_answer;
};
fake_kernel* kernel;

struct stat block_node(unsigned maj, unsigned min) {
    struct stat st = {};
    st.st_mode = S_IFBLK | 0660;
    st.st_rdev = makedev(maj, min);
    return st;
}

// The node a path reaches, its links followed.
std::string resolved(std::string path) {
    for (int hops = 0; hops < 8 && kernel->links.count(path); ++hops)
        path = kernel->links[path];
    return path;
}

struct stat node_of_kind(mode_t kind, unsigned maj, unsigned min) {
    struct stat st = block_node(maj, min);
    st.st_mode = kind | 0660;
    return st;
}

int fake_stat(const char* path, struct stat* st) {
    kernel->stats.push_back(path);
    auto it = kernel->nodes.find(resolved(path));
    if (it == kernel->nodes.end()) {
        errno = ENOENT;
        return -1;
    }
    *st = it->second;
    return 0;
}

int fake_open(const char* path, int flags) {
    kernel->opens.push_back({path, flags});
    kernel->opened = resolved(path);
    if (kernel->open_result < 0)
        errno = kernel->open_errno;
    return kernel->open_result;
}

int fake_fstat(int, struct stat* st) {
    *st = kernel->nodes.at(kernel->opened);
    if (kernel->replaced)
        st->st_rdev = makedev(8, 0);
    return 0;
}

int fake_dup_above(int fd, int lowest) {
    kernel->dups.push_back({fd, lowest});
    return kernel->dup_result;
}

int fake_close(int fd) {
    kernel->closes.push_back(fd);
    return 0;
}

// Time passes only when the program sleeps.
void fake_sleep_ms(unsigned milliseconds) {
    kernel->now_ms += milliseconds;
}

uint64_t fake_clock_ms() {
    return kernel->now_ms;
}

int fake_sg_io(int fd, sg_io_hdr_t* hdr) {
    EXPECT_EQ(FAKE_FD, fd);
    kernel->sg_calls.push_back(*hdr);
    kernel->cdbs.push_back(std::vector<uint8_t>(hdr->cmdp, hdr->cmdp + hdr->cmd_len));
    return kernel->sg_answer(hdr);
}

// CHECK CONDITION as the kernel reports it: the driver byte says it fetched
// sense data, which lands in the caller's sense buffer (fixed format).
int check_condition(sg_io_hdr_t* hdr, uint8_t key, uint8_t asc, uint8_t ascq) {
    hdr->status = 0x02;
    hdr->driver_status = 0x08;
    hdr->resid = (int)hdr->dxfer_len;
    const uint8_t sense[18] = {0x70, 0, key, 0, 0, 0, 0, 10, 0, 0, 0, 0, asc, ascq};
    hdr->sb_len_wr = (unsigned char)std::min<unsigned>(hdr->mx_sb_len, sizeof sense);
    memcpy(hdr->sbp, sense, hdr->sb_len_wr);
    return 0;
}

// A drive with a synthesized disc: READ CD of blocks on it transfers the
// sectors; at a block past its end it stops, the blocks before it
// transferred, with CHECK CONDITION, ILLEGAL REQUEST, LOGICAL BLOCK ADDRESS
// OUT OF RANGE, which any other command gets too.
std::function<int(sg_io_hdr_t*)> drive_with(const synth_disc& disc) {
    return [disc](sg_io_hdr_t* hdr) {
        const uint8_t* c = hdr->cmdp;
        uint32_t lba = (uint32_t)c[2] << 24 | (uint32_t)c[3] << 16 | (uint32_t)c[4] << 8 | c[5];
        uint32_t count = (uint32_t)c[6] << 16 | (uint32_t)c[7] << 8 | c[8];
        if (c[0] != 0xBE || hdr->dxfer_len != count * SECTOR_BUFFER_SIZE)
            return check_condition(hdr, 0x05, 0x21, 0x00);
        uint32_t i = 0;
        for (; i < count && lba + i < synth_sector_count(disc); ++i)
            synth_sector(disc, lba + i, (uint8_t*)hdr->dxferp + i * SECTOR_BUFFER_SIZE);
        if (i < count) {
            check_condition(hdr, 0x05, 0x21, 0x00);
            hdr->resid = (int)((count - i) * SECTOR_BUFFER_SIZE);
            return 0;
        }
        hdr->status = 0;
        hdr->resid = 0;
        return 0;
    };
}

class LinuxTest : public ::testing::Test {
protected:
    fake_kernel fake;
    linux_kernel saved;

    void SetUp() override {
        saved = linux_calls;
        kernel = &fake;
        linux_calls = {fake_stat,      fake_open,  fake_fstat,    fake_sg_io,
                       fake_dup_above, fake_close, fake_sleep_ms, fake_clock_ms};
        fake.nodes["/dev/sr0"] = block_node(11, 0);
        fake.sg_answer = drive_with(synth_sample_disc());
    }
    void TearDown() override {
        linux_calls = saved;
        kernel = nullptr;
    }

    drive_handle open_d() {
        drive_handle h = nullptr;
        EXPECT_EQ(0, open_drive("D:", &h));
        return h;
    }
};

TEST(LinuxDriveNode, LettersMapToOpticalNodes) {
    struct {
        char letter;
        const char* node;
    } cases[] = {{'D', "/dev/sr0"}, {'d', "/dev/sr0"}, {'E', "/dev/sr1"}, {'e', "/dev/sr1"},
                 {'M', "/dev/sr9"}, {'N', "/dev/sr10"}, {'Z', "/dev/sr22"}, {'z', "/dev/sr22"},
                 {'A', nullptr},    {'B', nullptr},    {'C', nullptr},    {'c', nullptr},
                 {'1', nullptr},    {'@', nullptr},    {'[', nullptr},    {'`', nullptr},
                 {'{', nullptr},    {'\xC4', nullptr}, {'\0', nullptr}};
    for (auto c : cases) {
        char path[16] = "";
        bool ok = linux_drive_node(c.letter, path, sizeof path);
        EXPECT_EQ(c.node != nullptr, ok) << int(c.letter);
        if (c.node) {
            EXPECT_STREQ(c.node, path) << c.letter;
        }
    }
    char small[8];
    EXPECT_FALSE(linux_drive_node('N', small, sizeof small));  // "/dev/sr10" does not fit
}

TEST_F(LinuxTest, DriveTypes) {
    fake.nodes["/dev/sr1"] = block_node(8, 16);  // a disk, not an optical drive
    struct stat chr = block_node(11, 2);
    chr.st_mode = S_IFCHR | 0660;
    fake.nodes["/dev/sr2"] = chr;
    struct {
        const char* root;
        UINT type;
    } cases[] = {{"D:\\", DRIVE_CDROM},       {"d:\\", DRIVE_CDROM},       {"E:\\", DRIVE_NO_ROOT_DIR},
                 {"F:\\", DRIVE_NO_ROOT_DIR}, {"G:\\", DRIVE_NO_ROOT_DIR}, {"C:\\", DRIVE_FIXED},
                 {"1:\\", DRIVE_NO_ROOT_DIR}, {"D:", DRIVE_NO_ROOT_DIR},   {"D:\\x", DRIVE_NO_ROOT_DIR}};
    for (auto c : cases)
        EXPECT_EQ(c.type, GetDriveTypeA(c.root)) << c.root;
    EXPECT_EQ((std::vector<std::string>{"/dev/sr0", "/dev/sr0", "/dev/sr1", "/dev/sr2", "/dev/sr3"}),
              fake.stats);
}

// Read-only: READ CD needs no more through SG_IO. Non-blocking: the only
// way an empty tray or an audio disc opens at all.
TEST_F(LinuxTest, OpensTheNodeReadOnlyNonBlockingCloseOnExec) {
    drive_handle h = nullptr;
    ASSERT_EQ(0, open_drive("d:", &h));
    EXPECT_EQ((HANDLE)(intptr_t)FAKE_FD, h);
    ASSERT_EQ(1u, fake.opens.size());
    EXPECT_EQ("/dev/sr0", fake.opens[0].first);
    EXPECT_EQ(O_RDONLY | O_NONBLOCK | O_CLOEXEC, fake.opens[0].second);
}

// With standard output closed, the drive must not take its descriptor, or
// the report lines would be written to the drive.
TEST_F(LinuxTest, DriveNeverTakesAStandardStreamsDescriptor) {
    for (int low : {0, 1, 2}) {
        fake.opens.clear();
        fake.dups.clear();
        fake.closes.clear();
        fake.open_result = low;
        drive_handle h = nullptr;
        ASSERT_EQ(0, open_drive("D:", &h)) << low;
        EXPECT_EQ((HANDLE)(intptr_t)FAKE_FD, h) << low;
        EXPECT_EQ((std::vector<std::pair<int, int>>{{low, 3}}), fake.dups) << low;
        EXPECT_EQ(std::vector<int>{low}, fake.closes) << low;
    }
    fake.open_result = 3;
    fake.dups.clear();
    drive_handle h = nullptr;
    ASSERT_EQ(0, open_drive("D:", &h));
    EXPECT_EQ((HANDLE)(intptr_t)3, h);
    EXPECT_TRUE(fake.dups.empty());

    fake.open_result = 1;
    fake.dup_result = -1;  // EMFILE
    EXPECT_EQ(EINVAL, open_drive("D:", &h));
}

TEST_F(LinuxTest, RefusedOpens) {
    const DWORD rw = GENERIC_READ | GENERIC_WRITE, share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    struct {
        const char* path;
        DWORD access, share, disposition, attributes;
    } cases[] = {
        {"\\\\.\\D:", GENERIC_READ, share, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL},
        {"\\\\.\\D:", rw, 0, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL},
        {"\\\\.\\D:", rw, share, 2, FILE_ATTRIBUTE_NORMAL},
        {"\\\\.\\D:", rw, share, OPEN_EXISTING, 0x40000000},
        {"\\\\.\\C:", rw, share, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL},
        {"\\\\.\\D", rw, share, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL},
        {"\\\\.\\D:x", rw, share, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL},
        {"/dev/sr0", rw, share, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL},
        {"D:", rw, share, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL},
    };
    for (auto c : cases)
        EXPECT_EQ(INVALID_HANDLE_VALUE, CreateFileA(c.path, c.access, c.share, NULL, c.disposition, c.attributes, NULL))
            << c.path;
    EXPECT_TRUE(fake.opens.empty());

    fake.open_result = -1;  // EACCES: not in the cdrom group
    drive_handle h = (drive_handle)0x77;
    EXPECT_EQ(EINVAL, open_drive("D:", &h));
    EXPECT_EQ((drive_handle)0x77, h);

    // The program's message stays the same; a line after it says why.
    struct {
        int error;
        const char* reason;
    } reasons[] = {
        {EACCES, "/dev/sr0: Permission denied: reading a CD needs read access to it, usually by membership of the "
                 "group cdrom\n"},
        {EBUSY, "/dev/sr0: Device or resource busy\n"},
    };
    for (auto c : reasons) {
        fake.open_errno = c.error;
        run_result r = run_qscan({"D:"});
        EXPECT_EQ(1, r.status);
        EXPECT_EQ(std::string("failed to open device: Invalid argument\n") + c.reason, r.err);
    }
}

// Where D: could be, a path to a drive's node: a block device of the
// CD-ROM driver or a character device of the SCSI generic driver, through
// any symbolic link. Anything else is refused before it is opened, with
// the message D: gets.
TEST_F(LinuxTest, PathsToADrivesNode) {
    fake.nodes["/dev/sg3"] = node_of_kind(S_IFCHR, 21, 3);
    fake.nodes["/dev/sda"] = block_node(8, 0);
    fake.nodes["/dev/null"] = node_of_kind(S_IFCHR, 1, 3);
    fake.nodes["/dev/odd"] = node_of_kind(S_IFCHR, 11, 0);  // the CD-ROM driver's number, but no block device
    fake.nodes["/dev/sg-block"] = block_node(21, 0);
    fake.nodes["/home/u/album.q"] = node_of_kind(S_IFREG, 0, 0);
    fake.links["/dev/cdrom"] = "/dev/sr0";
    fake.links["/dev/dvd"] = "/dev/cdrom";
    fake.links["/dev/disk"] = "/dev/sda";
    fake.links["/dev/dangling"] = "/dev/sr9";
    const synth_disc sample = synth_sample_disc();
    const struct {
        const char* path;
        bool drive;
    } cases[] = {
        {"/dev/sr0", true},         {"/dev/cdrom", true},    {"/dev/dvd", true},       {"/dev/sg3", true},
        {"/dev/sda", false},        {"/dev/disk", false},    {"/dev/null", false},     {"/dev/odd", false},
        {"/dev/sg-block", false},   {"/home/u/album.q", false}, {"/dev/dangling", false}, {"/dev/sr9", false},
        {"sr0", false},
    };
    for (const auto& c : cases) {
        fake.opens.clear();
        fake.stats.clear();
        run_result r = run_qscan({"-c", c.path});
        EXPECT_EQ(c.drive ? 0 : 1, r.status) << c.path;
        EXPECT_EQ(c.drive ? "" : OPEN_FAILED, r.err) << c.path;
        EXPECT_EQ(c.drive ? expected_output(sample, options_from("c")) : "", r.out) << c.path;
        // The path itself is looked at (its links followed) and opened.
        EXPECT_EQ(std::vector<std::string>{c.path}, fake.stats) << c.path;
        EXPECT_EQ(c.drive ? 1u : 0u, fake.opens.size()) << c.path;
        if (c.drive) {
            EXPECT_EQ(c.path, fake.opens[0].first);
            EXPECT_EQ(O_RDONLY | O_NONBLOCK | O_CLOEXEC, fake.opens[0].second) << c.path;
        }
    }
}

// An open refused for rights says why on the next line, naming the path as
// given; a node replaced between the look and the open is closed again.
TEST_F(LinuxTest, PathsWhoseOpenFails) {
    fake.links["/dev/cdrom"] = "/dev/sr0";
    fake.open_result = -1;
    run_result r = run_qscan({"/dev/cdrom"});
    EXPECT_EQ(1, r.status);
    EXPECT_EQ(std::string(OPEN_FAILED) +
                  "/dev/cdrom: Permission denied: reading a CD needs read access to it, usually by membership of the "
                  "group cdrom\n",
              r.err);
    fake.open_result = FAKE_FD;
    fake.replaced = true;
    r = run_qscan({"/dev/cdrom"});
    EXPECT_EQ(1, r.status);
    EXPECT_EQ(OPEN_FAILED, r.err);
    EXPECT_EQ(std::vector<int>{FAKE_FD}, fake.closes);
    EXPECT_TRUE(fake.sg_calls.empty());
}

// qscan-sheet reads a drive when its input is a block or character device,
// a saved scan otherwise; --full goes with either kind of drive name.
TEST_F(LinuxTest, SheetTakesADeviceForADrive) {
    fake.links["/dev/cdrom"] = "/dev/sr0";
    fake.nodes["/dev/null"] = node_of_kind(S_IFCHR, 1, 3);
    const std::string missing = "/nonexistent-qscan-dir/album.q";
    // The fake kernel's drive answers READ TOC as a drive without a disc's table does.
    const std::string NO_TOC = "qscan-sheet: the drive gave no table of contents (drive reports: illegal request, "
                               "logical block address out of range (05/21/00)), so the whole disc is read";
    const struct {
        std::vector<std::string> args;
        int status;
        std::string err;  // its first line
        bool sheet;
    } cases[] = {
        {{"/dev/cdrom"}, 0, NO_TOC, true},
        {{"--full", "/dev/sr0"}, 0, NO_TOC, true},
        {{"/dev/null"}, 1, "failed to open device: Invalid argument", false},
        {{missing}, 1, "qscan-sheet: " + missing + ": No such file or directory", false},
        {{"--full", missing}, 2, "", false},
    };
    for (const auto& c : cases) {
        run_result r = run_main(qscan_sheet_main, "qscan-sheet", c.args);
        EXPECT_EQ(c.status, r.status) << c.args.back();
        if (!c.err.empty()) {
            EXPECT_EQ(c.err, r.err.substr(0, r.err.find('\n'))) << c.args.back();
        }
        EXPECT_EQ(c.sheet, r.out.find("Catalogue number: 1234567890128\n") != std::string::npos)
            << c.args.back() << r.out;
    }
}

TEST_F(LinuxTest, ReadCarriesTheRequestIntoSgIo) {
    drive_handle h = open_d();
    alignas(16) uint8_t buffer[SECTOR_BUFFER_SIZE];
    read_failure failure;
    EXPECT_EQ(READ_NO_SUCH_BLOCK, read_sector(h, 0x00010203, buffer, &failure));  // past the end of the disc
    EXPECT_EQ(0x052100, failure.sense.key << 16 | failure.sense.asc << 8 | failure.sense.ascq);
    ASSERT_EQ(1u, fake.sg_calls.size());
    const sg_io_hdr_t& hdr = fake.sg_calls[0];
    EXPECT_EQ('S', hdr.interface_id);
    EXPECT_EQ(SG_DXFER_FROM_DEV, hdr.dxfer_direction);
    EXPECT_EQ(12, hdr.cmd_len);
    EXPECT_EQ((std::vector<uint8_t>{0xBE, 0x00, 0x00, 0x01, 0x02, 0x03, 0x00, 0x00, 0x01, 0xF8, 0x01, 0x00}),
              fake.cdbs[0]);
    EXPECT_EQ(2448u, hdr.dxfer_len);
    EXPECT_EQ((void*)buffer, hdr.dxferp);
    EXPECT_EQ(60000u, hdr.timeout);  // milliseconds
    EXPECT_EQ(32, hdr.mx_sb_len);  // the request's own sense area
    EXPECT_NE(nullptr, hdr.sbp);
    EXPECT_EQ(0, hdr.iovec_count);
}

TEST(LinuxSgTranslation, DirectionsAndSense) {
    SCSI_PASS_THROUGH_DIRECT r = {};
    UCHAR sense[32];
    uint8_t data[16];
    r.Length = sizeof r;
    r.CdbLength = 6;
    r.DataBuffer = data;
    r.TimeOutValue = 5;
    struct {
        UCHAR data_in;
        ULONG length;
        bool ok;
        int direction;
    } cases[] = {{SCSI_IOCTL_DATA_IN, 16, true, SG_DXFER_FROM_DEV},
                 {SCSI_IOCTL_DATA_OUT, 16, true, SG_DXFER_TO_DEV},
                 {SCSI_IOCTL_DATA_IN, 0, true, SG_DXFER_NONE},
                 {SCSI_IOCTL_DATA_UNSPECIFIED, 0, true, SG_DXFER_NONE},
                 {SCSI_IOCTL_DATA_UNSPECIFIED, 16, false, 0},
                 {7, 16, false, 0}};
    for (auto c : cases) {
        r.DataIn = c.data_in;
        r.DataTransferLength = c.length;
        sg_io_hdr_t hdr;
        ASSERT_EQ(c.ok, linux_sg_from_request(&r, sense, &hdr)) << int(c.data_in) << " " << c.length;
        if (c.ok) {
            EXPECT_EQ(c.direction, hdr.dxfer_direction);
            EXPECT_EQ(c.length, hdr.dxfer_len);
            EXPECT_EQ(6, hdr.cmd_len);
            EXPECT_EQ(5000u, hdr.timeout);
        }
    }
    r.DataIn = SCSI_IOCTL_DATA_IN;
    r.SenseInfoLength = 18;
    r.TimeOutValue = 0xFFFFFFFF;
    sg_io_hdr_t hdr;
    ASSERT_TRUE(linux_sg_from_request(&r, sense, &hdr));
    EXPECT_EQ(18, hdr.mx_sb_len);
    EXPECT_EQ(sense, hdr.sbp);
    EXPECT_EQ(0xFFFFFFFFu, hdr.timeout);  // saturates instead of wrapping
}

// How each SG_IO outcome is reported, as Windows would report it.
TEST(LinuxSgTranslation, OutcomesAsWindowsReportsThem) {
    struct {
        const char* what;
        int ioctl_result;
        unsigned short host, driver;
        unsigned char status;
        int resid;
        BOOL result;
        ULONG transferred;
    } cases[] = {
        {"good", 0, 0, 0, 0x00, 0, TRUE, 2448},
        {"check condition", 0, 0, 0x08, 0x02, 2448, TRUE, 0},
        {"check condition, no sense", 0, 0, 0, 0x02, 2448, TRUE, 0},
        {"busy", 0, 0, 0, 0x08, 2448, TRUE, 0},
        {"short", 0, 0, 0, 0x00, 96, TRUE, 2352},
        {"nonsense resid", 0, 0, 0, 0x00, -5, TRUE, 0},
        {"resid above length", 0, 0, 0, 0x00, 5000, TRUE, 0},
        {"ioctl failed", -1, 0, 0, 0x00, 0, FALSE, 0},
        {"no connection", 0, 0x01, 0, 0x00, 0, FALSE, 0},
        {"host time-out", 0, 0x03, 0, 0x00, 0, FALSE, 0},
        {"driver time-out", 0, 0, 0x06, 0x00, 0, FALSE, 0},
        {"driver error with sense suggestion", 0, 0, 0x24, 0x00, 0, FALSE, 0},
    };
    for (auto c : cases) {
        SCSI_PASS_THROUGH_DIRECT r = {};
        r.Length = sizeof r;
        r.ScsiStatus = 0x55;
        r.DataTransferLength = 0x1234;
        sg_io_hdr_t hdr = {};
        hdr.dxfer_len = 2448;
        hdr.host_status = c.host;
        hdr.driver_status = c.driver;
        hdr.status = c.status;
        hdr.resid = c.resid;
        DWORD returned = 0;
        EXPECT_EQ(c.result, linux_request_from_sg(c.ioctl_result, &hdr, &r, &returned)) << c.what;
        if (c.result) {
            EXPECT_EQ(c.status, r.ScsiStatus) << c.what;
            EXPECT_EQ(c.transferred, r.DataTransferLength) << c.what;
            EXPECT_EQ(sizeof r, returned) << c.what;
        }
    }
}

TEST_F(LinuxTest, ReadResults) {
    struct {
        const char* what;
        std::function<int(sg_io_hdr_t*)> answer;
        int result;
    } cases[] = {
        {"good", [](sg_io_hdr_t* h) { h->status = 0; return 0; }, 0},
        {"medium error", [](sg_io_hdr_t* h) { return check_condition(h, 0x03, 0x11, 0x05); }, EIO},
        {"past the end", [](sg_io_hdr_t* h) { return check_condition(h, 0x05, 0x21, 0x00); }, READ_NO_SUCH_BLOCK},
        {"check condition, no sense", [](sg_io_hdr_t* h) { h->status = 2; h->driver_status = 8; return 0; }, READ_NO_SUCH_BLOCK},
        {"short transfer", [](sg_io_hdr_t* h) { h->status = 0; h->resid = 96; return 0; }, EIO},
        {"ioctl fails", [](sg_io_hdr_t*) { errno = EIO; return -1; }, EIO},
        {"host error", [](sg_io_hdr_t* h) { h->host_status = 7; return 0; }, EIO},
    };
    drive_handle h = open_d();
    for (auto& c : cases) {
        fake.sg_answer = c.answer;
        uint8_t buffer[SECTOR_BUFFER_SIZE];
        read_failure failure;
        EXPECT_EQ(c.result, read_sector(h, 0, buffer, &failure)) << c.what;
    }
}

TEST_F(LinuxTest, RequestsTheLayerCannotCarryAreRefused) {
    HANDLE h = (HANDLE)(intptr_t)FAKE_FD;
    struct request_with_sense {
        SCSI_PASS_THROUGH_DIRECT r;
        UCHAR sense[32];
    } req = {};
    req.r.Length = sizeof req.r;
    req.r.CdbLength = 12;
    req.r.DataIn = SCSI_IOCTL_DATA_IN;
    DWORD returned;
    const DWORD size = sizeof req.r;
    EXPECT_FALSE(DeviceIoControl(h, 0x4D004, &req, size, &req, size, &returned, NULL));
    EXPECT_FALSE(DeviceIoControl(h, IOCTL_SCSI_PASS_THROUGH_DIRECT, &req, size - 1, &req, size, &returned, NULL));
    EXPECT_FALSE(DeviceIoControl(h, IOCTL_SCSI_PASS_THROUGH_DIRECT, &req, size, &req, size, NULL, NULL));
    EXPECT_FALSE(DeviceIoControl(INVALID_HANDLE_VALUE, IOCTL_SCSI_PASS_THROUGH_DIRECT, &req, size, &req, size, &returned, NULL));
    req.r.Length = 44 + 56 - size;
    EXPECT_FALSE(DeviceIoControl(h, IOCTL_SCSI_PASS_THROUGH_DIRECT, &req, size, &req, size, &returned, NULL));
    req.r.Length = sizeof req.r;
    req.r.CdbLength = 17;
    EXPECT_FALSE(DeviceIoControl(h, IOCTL_SCSI_PASS_THROUGH_DIRECT, &req, size, &req, size, &returned, NULL));
    req.r.CdbLength = 12;
    req.r.SenseInfoLength = 32;
    req.r.SenseInfoOffset = size + 1;  // one byte past the end of the output buffer
    EXPECT_FALSE(DeviceIoControl(h, IOCTL_SCSI_PASS_THROUGH_DIRECT, &req, sizeof req, &req, sizeof req, &returned, NULL));
    req.r.SenseInfoOffset = 8;  // inside the record itself
    EXPECT_FALSE(DeviceIoControl(h, IOCTL_SCSI_PASS_THROUGH_DIRECT, &req, sizeof req, &req, sizeof req, &returned, NULL));
    EXPECT_TRUE(fake.sg_calls.empty());

    // Sense data asked for lands after the record and is counted in the bytes returned.
    req.r.SenseInfoOffset = offsetof(request_with_sense, sense);
    fake.sg_answer = [](sg_io_hdr_t* hdr) {
        hdr->status = 2;
        hdr->driver_status = 8;
        memset(hdr->sbp, 0x70, 18);
        hdr->sb_len_wr = 18;
        return 0;
    };
    ASSERT_TRUE(DeviceIoControl(h, IOCTL_SCSI_PASS_THROUGH_DIRECT, &req, sizeof req, &req, sizeof req, &returned, NULL));
    EXPECT_EQ(2, req.r.ScsiStatus);
    EXPECT_EQ(18, req.r.SenseInfoLength);
    EXPECT_EQ(0x70, req.sense[17]);
    EXPECT_EQ(offsetof(request_with_sense, sense) + 18, returned);
}

TEST_F(LinuxTest, WholeScanThroughSgIo) {
    synth_disc d;
    d.mcn = "0000000000017";
    d.tracks = {{0, 400, 0, "DEXYZ0500001"}, {150, 300, 0, "DEXYZ0500002"}};
    d.damaged = {3, 500};
    fake.sg_answer = drive_with(d);
    run_result r = run_qscan({"-c", "-i", "-e", "D:"});
    EXPECT_EQ(0, r.status);
    EXPECT_EQ("", r.err);
    EXPECT_EQ(expected_output(d, options_from("cie")), r.out);
    // The table of contents (this drive refuses it), every block, and the one that finds the end.
    EXPECT_EQ(synth_sector_count(d) + 2, fake.sg_calls.size());
}

// A drive whose READ TOC gives these answers by format (none: CHECK
// CONDITION), each cut to the command's allocation length, and reads the
// disc's blocks as drive_with does.
std::function<int(sg_io_hdr_t*)> drive_answering(const synth_disc& disc, std::map<int, std::vector<uint8_t>> toc) {
    std::function<int(sg_io_hdr_t*)> reads = drive_with(disc);
    return [reads, toc](sg_io_hdr_t* hdr) {
        const uint8_t* c = hdr->cmdp;
        if (c[0] != 0x43)
            return reads(hdr);
        auto it = toc.find(c[2] & 0x0F);
        if (it == toc.end())
            return check_condition(hdr, 0x05, 0x24, 0x00);
        unsigned n = std::min<unsigned>((unsigned)it->second.size(), (unsigned)c[7] << 8 | c[8]);
        memcpy(hdr->dxferp, it->second.data(), n);
        hdr->status = 0;
        hdr->resid = (int)(hdr->dxfer_len - n);
        return 0;
    };
}

// A table of contents that cannot be used is said in a line of its own,
// and the disc is scanned as without it; a session report that cannot be
// is said too, and the disc is one of one session.
TEST_F(LinuxTest, TableOfContentsThatCannotBeUsed) {
    synth_disc d;
    d.tracks = {{0, 300, 0, "DEXYZ0500001"}, {150, 200, 0, "DEXYZ0500002"}};
    const std::vector<uint8_t> tracks = {0, 26, 1, 2, 0, 0x10, 1, 0, 0, 0, 0, 0, 0, 0x10, 2, 0, 0, 0, 0x01, 0xC2,
                                         0, 0x10, 0xAA, 0, 0, 0, 0x02, 0x8A};  // 0, 450, 650
    ASSERT_EQ(650u, synth_sector_count(d));
    const struct {
        const char* what;
        std::map<int, std::vector<uint8_t>> toc;
        std::string err;
    } cases[] = {
        {"a length field of 0", {{0, {0, 0, 1, 2}}},
         "the drive's table of contents is malformed: its length field says 0 bytes\n"},
        {"tracks out of order", {{0, {0, 18, 1, 2, 0, 0x10, 2, 0, 0, 0, 0, 0, 0, 0x10, 1, 0, 0, 0, 1, 0}}},
         "the drive's table of contents is malformed: track 1 follows track 2\n"},
        {"a session report of a header alone", {{0, tracks}, {1, {0, 2, 1, 2}}},
         "the drive's session information is malformed: its length field says 2 bytes\n"},
        {"no session report", {{0, tracks}}, ""},
        {"a lead-out before the last track", {{0, {0, 26, 1, 2, 0, 0x10, 1, 0, 0, 0, 0, 0, 0, 0x10, 2, 0, 0, 0, 0x01,
                                                   0xC2, 0, 0x10, 0xAA, 0, 0, 0, 0x01, 0x00}}},  // 0, 450, 256
         "the drive's table of contents cannot be right: the lead-out starts at block 256, not after track 2 at block "
         "450\n"},
    };
    for (const auto& c : cases) {
        fake.sg_answer = drive_answering(d, c.toc);
        run_result r = run_qscan({"-c", "-i", "D:"});
        EXPECT_EQ(0, r.status) << c.what;
        EXPECT_EQ(c.err, r.err) << c.what;
        EXPECT_EQ(expected_output(d, options_from("ci")), r.out) << c.what;
    }
}

// An empty tray that the drive never said was loading is empty: the first
// read fails at once, with no wait.
TEST_F(LinuxTest, EmptyTray) {
    fake.sg_answer = [](sg_io_hdr_t* h) { return check_condition(h, 0x02, 0x3A, 0x00); };
    run_result r = run_qscan({"D:"});
    EXPECT_EQ(1, r.status);
    EXPECT_EQ("", r.out);
    EXPECT_EQ("failed to read device: Input/output error\n"
              "drive reports: not ready, medium not present (02/3a/00)\n",
              r.err);
    EXPECT_EQ(1000u, fake.now_ms);
}

// The real program on this machine's real kernel.
TEST(LinuxProgram, WithoutAnOpticalDrive) {
    struct stat st;
    if (stat("/dev/sr0", &st) == 0 && linux_is_optical_drive(&st))
        GTEST_SKIP() << "this machine has an optical drive";
    int status = system("'" QSCAN_PROGRAM "' D: >/dev/null 2>qscan-linux-err.txt");
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(1, WEXITSTATUS(status));
    FILE* f = fopen("qscan-linux-err.txt", "r");
    ASSERT_NE(nullptr, f);
    char line[128] = "";
    EXPECT_NE(nullptr, fgets(line, sizeof line, f));
    fclose(f);
    remove("qscan-linux-err.txt");
    EXPECT_STREQ("failed to open device: Invalid argument\n", line);
}

}  // namespace
