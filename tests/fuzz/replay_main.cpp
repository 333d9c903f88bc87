// Runs a fuzz target's inputs without libFuzzer: every file in the
// directories (or the files) named on the command line, once each, so that
// the normal test suite replays the seed and regression corpora.
#include <dirent.h>
#include <stdint.h>
#include <stdio.h>
#include <sys/stat.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

int replay_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        fprintf(stderr, "cannot read %s\n", path.c_str());
        return 1;
    }
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (LLVMFuzzerInitialize(&argc, &argv) != 0)
        return 1;
    int failures = 0, inputs = 0;
    for (int i = 1; i < argc; ++i) {
        struct stat st;
        if (stat(argv[i], &st) != 0) {
            fprintf(stderr, "cannot find %s\n", argv[i]);
            return 1;
        }
        if (!S_ISDIR(st.st_mode)) {
            failures += replay_file(argv[i]);
            ++inputs;
            continue;
        }
        DIR* dir = opendir(argv[i]);
        while (struct dirent* entry = dir ? readdir(dir) : nullptr) {
            std::string name = entry->d_name;
            if (name[0] == '.' || name == "README")
                continue;
            failures += replay_file(std::string(argv[i]) + "/" + name);
            ++inputs;
        }
        if (dir)
            closedir(dir);
    }
    fprintf(stderr, "replayed %d inputs\n", inputs);
    return failures != 0 || inputs == 0;
}
