// Plain main that feeds every file named on the command line (or found in the directories
// named) to LLVMFuzzerTestOneInput once, so the saved corpus runs under every compiler and
// sanitizer as part of the test suite.
#include <dirent.h>
#include <stdint.h>
#include <stdio.h>
#include <sys/stat.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

static int replay_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return 1;
    std::vector<char> buf((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(buf.data()), buf.size());
    return 0;
}

int main(int argc, char **argv) {
    int files = 0, failures = 0;
    for (int i = 1; i < argc; ++i) {
        struct stat st;
        if (stat(argv[i], &st) != 0) continue;
        if (S_ISDIR(st.st_mode)) {
            DIR *d = opendir(argv[i]);
            if (!d) continue;
            while (struct dirent *e = readdir(d)) {
                if (e->d_name[0] == '.') continue;
                failures += replay_file(std::string(argv[i]) + "/" + e->d_name);
                ++files;
            }
            closedir(d);
        } else {
            failures += replay_file(argv[i]);
            ++files;
        }
    }
    // Also the empty input, which every target must accept.
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(""), 0);
    printf("replayed %d inputs\n", files + 1);
    return failures ? 1 : 0;
}
