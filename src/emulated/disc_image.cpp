// Disc images in the layouts disc-dumping tools write, played by the emulated
// drive: every READ CD is answered from the files, subchannel re-interleaved
// into the raw layout, so that everything above the drive stays as it is.
#include "emulated/disc_image.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <vector>

#include "drive/drive.h"
#include "emulated/emulated_drive.h"
#include "emulated/toc_answers.h"

#ifndef O_BINARY
#define O_BINARY 0  // only Windows tells binary files from text files
#endif

namespace {

// A .subcode file starts in the lead-in: its first record is block -45150.
const uint64_t SUBCODE_RECORDS_BEFORE_BLOCK_0 = 45150;
const size_t READ_AHEAD = 1 << 20;
const size_t RANDOM_WINDOW = 32;  // records read around one asked for out of order

bool ends_with(const std::string& name, const char* ending) {
    size_t n = strlen(ending);
    if (name.size() < n)
        return false;
    for (size_t i = 0; i < n; ++i) {
        char c = name[name.size() - n + i];
        if (c >= 'A' && c <= 'Z')
            c = (char)(c - 'A' + 'a');
        if (c != ending[i])
            return false;
    }
    return true;
}

// The file of a set with the given stem and ending, in lower or upper case,
// or "" when there is none.
std::string companion(const std::string& stem, const char* ending) {
    std::string upper = ending;
    for (char& c : upper)
        c = (char)(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    for (const std::string& name : {stem + ending, stem + upper}) {
        struct stat st;
        if (stat(name.c_str(), &st) == 0)
            return name;
    }
    return "";
}

// One file of fixed-size records, read through a large buffer: a scan asks
// for block after block, so it reads ahead; a record asked for out of order
// (a seek, a probe) gets a small window read around it.
struct record_file {
    std::string path;
    int fd = -1;
    size_t record_size = 0;
    uint64_t records = 0;
    std::vector<uint8_t> buffer;
    uint64_t buffer_offset = 0;  // the file offset of buffer[0]
    size_t buffered = 0;

    ~record_file() {
        if (fd >= 0)
            close(fd);
    }

    // Opens the file read-only, with a descriptor above the standard
    // streams: with one of them closed, the file must not take its number,
    // or writes meant for that stream would fail silently or worse.
    bool open_file(const std::string& name, size_t size, std::string* error) {
        path = name;
        record_size = size;
        struct stat st;
        if (stat(name.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {  // a pipe would block the open
            *error = "disc image " + name + " is not a regular file";
            return false;
        }
        fd = open(name.c_str(), O_RDONLY | O_BINARY);
        if (fd < 0) {
            *error = "cannot open disc image " + name + ": " + strerror(errno);
            return false;
        }
        std::vector<int> low;
        while (fd >= 0 && fd <= STDERR_FILENO) {
            low.push_back(fd);
            fd = dup(fd);
        }
        for (int f : low)
            close(f);
        if (fd < 0) {
            *error = "cannot open disc image " + name + ": " + strerror(errno);
            return false;
        }
        int64_t bytes = lseek64(fd, 0, SEEK_END);
        if (bytes < 0) {
            *error = "cannot read disc image " + name + ": " + strerror(errno);
            return false;
        }
        if ((uint64_t)bytes % record_size != 0) {
            *error = "disc image " + name + " is " + std::to_string(bytes) +
                     " bytes long, not a whole number of " + std::to_string(record_size) +
                     "-byte " + (record_size == SUBCHANNEL_SIZE ? "subchannel records" : "sectors");
            return false;
        }
        records = (uint64_t)bytes / record_size;
        return true;
    }

    bool read(uint64_t index, uint8_t* out) {
        uint64_t offset = index * record_size;
        if (offset < buffer_offset || offset + record_size > buffer_offset + buffered) {
            bool in_order = offset == buffer_offset + buffered;
            buffer.resize(in_order ? READ_AHEAD - READ_AHEAD % record_size : RANDOM_WINDOW * record_size);
            if (lseek64(fd, (int64_t)offset, SEEK_SET) < 0)
                return false;
            buffer_offset = offset;
            buffered = 0;
            while (buffered < buffer.size()) {
                ssize_t n = ::read(fd, buffer.data() + buffered, (unsigned)(buffer.size() - buffered));
                if (n <= 0)
                    break;
                buffered += (size_t)n;
            }
            if (buffered < record_size)
                return false;
        }
        memcpy(out, buffer.data() + (offset - buffer_offset), record_size);
        return true;
    }
};

uint32_t block_count(uint64_t records) {
    return records > UINT32_MAX ? UINT32_MAX : (uint32_t)records;
}

bool open_raw(const std::string& path, emulated_disc* disc, std::string* error) {
    auto file = std::make_shared<record_file>();
    if (!file->open_file(path, SECTOR_BUFFER_SIZE, error))
        return false;
    disc->sector_count = block_count(file->records);
    disc->fetch = [file](uint32_t lba, uint8_t* sector) { return file->read(lba, sector); };
    return true;
}

// A CloneCD set: main channel from the .img, de-interleaved subchannel from
// the .sub.
bool open_set(const std::string& img_path, const std::string& sub_path, emulated_disc* disc, std::string* error) {
    auto img = std::make_shared<record_file>();
    auto sub = std::make_shared<record_file>();
    if (!img->open_file(img_path, SECTOR_MAIN_SIZE, error) || !sub->open_file(sub_path, SUBCHANNEL_SIZE, error))
        return false;
    if (img->records != sub->records) {
        *error = "disc image set " + img_path + " and " + sub_path + " disagree: " +
                 std::to_string(img->records) + " sectors of main channel, " +
                 std::to_string(sub->records) + " of subchannel";
        return false;
    }
    disc->sector_count = block_count(img->records);
    disc->fetch = [img, sub](uint32_t lba, uint8_t* sector) {
        uint8_t deinterleaved[SUBCHANNEL_SIZE];
        if (!img->read(lba, sector) || !sub->read(lba, deinterleaved))
            return false;
        subchannel_interleave(deinterleaved, sector + SECTOR_MAIN_SIZE);
        return true;
    };
    return true;
}

// Subchannel alone: the main channel reads as zeros, which the scan never
// looks at. `first` is the record of block 0.
bool open_subchannel(const std::string& path, bool deinterleaved, uint64_t first, emulated_disc* disc,
                     std::string* error) {
    auto file = std::make_shared<record_file>();
    if (!file->open_file(path, SUBCHANNEL_SIZE, error))
        return false;
    if (file->records <= first) {
        *error = "subcode file " + path + " holds " + std::to_string(file->records) +
                 " records; block 0 is record " + std::to_string(first) + ", so it never reaches the disc";
        return false;
    }
    disc->sector_count = block_count(file->records - first);
    disc->fetch = [file, deinterleaved, first](uint32_t lba, uint8_t* sector) {
        memset(sector, 0, SECTOR_MAIN_SIZE);
        if (!deinterleaved)
            return file->read(first + lba, sector + SECTOR_MAIN_SIZE);
        uint8_t channels[SUBCHANNEL_SIZE];
        if (!file->read(first + lba, channels))
            return false;
        subchannel_interleave(channels, sector + SECTOR_MAIN_SIZE);
        return true;
    };
    return true;
}

bool starts_with_clonecd_header(const std::string& path, std::string* error) {
    record_file ccd;
    if (!ccd.open_file(path, 1, error))
        return false;
    const char header[] = "[CloneCD]";
    uint8_t first[sizeof header - 1];
    for (size_t i = 0; i < sizeof first; ++i) {
        if (!ccd.read(i, &first[i]) || first[i] != (uint8_t)header[i]) {
            *error = "disc image " + path + " is not a CloneCD control file: it does not begin with [CloneCD]";
            return false;
        }
    }
    return true;
}

// A CloneCD control file's table of contents, when it lists one (a file
// that lists no entry leaves the drive to find it from the Q frames), and
// its CD-Text.
bool read_clonecd(const std::string& path, emulated_disc* disc, std::string* error) {
    record_file ccd;
    if (!ccd.open_file(path, 1, error))
        return false;
    std::string text((size_t)ccd.records, '\0');
    for (uint64_t i = 0; i < ccd.records; ++i)
        if (!ccd.read(i, (uint8_t*)&text[(size_t)i])) {
            *error = "cannot read " + path;
            return false;
        }
    if (!cd_text_from_clonecd(text, &disc->cd_text, error)) {
        *error = "CloneCD control file " + path + ": " + *error;
        return false;
    }
    if (text.find("[Entry ") == std::string::npos)
        return true;
    if (!toc_from_clonecd(text, &disc->toc, error)) {
        *error = "CloneCD control file " + path + " has no table of contents: " + *error;
        return false;
    }
    disc->has_toc = true;
    return true;
}

// A set with its control file beside it takes its table of contents from it.
bool open_set_with_toc(const std::string& stem, const std::string& img, const std::string& sub, emulated_disc* disc,
                       std::string* error) {
    if (!open_set(img, sub, disc, error))
        return false;
    std::string ccd = companion(stem, ".ccd");
    return ccd.empty() || read_clonecd(ccd, disc, error);
}

}  // namespace

bool emulated_open_image_file(const char* path, emulated_disc* disc, std::string* error) {
    const std::string name = path;
    std::string stem = name.substr(0, name.rfind('.'));
    if (ends_with(name, ".ccd")) {
        if (!starts_with_clonecd_header(name, error))
            return false;
        std::string img = companion(stem, ".img"), sub = companion(stem, ".sub");
        if (img.empty() || sub.empty()) {
            *error = "disc image " + name + " names a set whose " + (img.empty() ? stem + ".img" : stem + ".sub") +
                     " is missing";
            return false;
        }
        return open_set_with_toc(stem, img, sub, disc, error);
    }
    if (ends_with(name, ".img")) {
        std::string sub = companion(stem, ".sub");
        return sub.empty() ? open_raw(name, disc, error) : open_set_with_toc(stem, name, sub, disc, error);
    }
    if (ends_with(name, ".sub")) {
        std::string img = companion(stem, ".img");
        return img.empty() ? open_subchannel(name, true, 0, disc, error) : open_set_with_toc(stem, img, name, disc, error);
    }
    if (ends_with(name, ".subcode"))
        return open_subchannel(name, false, SUBCODE_RECORDS_BEFORE_BLOCK_0, disc, error);
    return open_raw(name, disc, error);
}

void subchannel_interleave(const uint8_t deinterleaved[SUBCHANNEL_SIZE], uint8_t raw[SUBCHANNEL_SIZE]) {
    const unsigned CHANNELS = 8, CHANNEL_BYTES = SUBCHANNEL_SIZE / CHANNELS;
    for (unsigned symbol = 0; symbol < SUBCHANNEL_SIZE; ++symbol) {
        uint8_t byte = 0;
        for (unsigned channel = 0; channel < CHANNELS; ++channel) {
            unsigned bit = deinterleaved[channel * CHANNEL_BYTES + symbol / 8] >> (7 - symbol % 8) & 1u;
            byte = (uint8_t)(byte | bit << (7 - channel));
        }
        raw[symbol] = byte;
    }
}
