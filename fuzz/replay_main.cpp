// Runs a fuzz target over saved inputs (files or folders of files), so the
// seed corpus and every past crash input stay regression tests in builds
// without libFuzzer.
#include <dirent.h>
#include <sys/stat.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

int run_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return 1;
    }
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    return 0;
}

int run_path(const std::string& path, int* count) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        std::fprintf(stderr, "missing %s\n", path.c_str());
        return 1;
    }
    if (!S_ISDIR(st.st_mode)) {
        ++*count;
        return run_file(path);
    }
    int failures = 0;
    DIR* dir = opendir(path.c_str());
    while (dirent* entry = dir ? readdir(dir) : nullptr) {
        if (entry->d_name[0] == '.') continue;
        failures += run_path(path + "/" + entry->d_name, count);
    }
    if (dir) closedir(dir);
    return failures;
}

}  // namespace

int main(int argc, char** argv) {
    if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
    // The targets' own messages are noise here; keep one stream for the summary.
    FILE* report = fdopen(dup(1), "w");
    std::freopen("/dev/null", "w", stdout);
    if (!std::getenv("ORVI_FUZZ_VERBOSE")) std::freopen("/dev/null", "w", stderr);
    int failures = 0, count = 0;
    for (int i = 1; i < argc; ++i) failures += run_path(argv[i], &count);
    std::fprintf(report, "replayed %d inputs, %d unreadable\n", count, failures);
    return failures == 0 && count > 0 ? 0 : 1;
}
