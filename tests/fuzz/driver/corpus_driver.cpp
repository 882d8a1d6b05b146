// Runs a fuzz target once over every file of the folders (or files) named on the command line,
// so stored corpora act as regression tests in builds without libFuzzer.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

static void runOne(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // Copy into an exactly sized heap block so the sanitizer sees any read past the end.
    std::vector<uint8_t> data(bytes.begin(), bytes.end());
    // libFuzzer never passes a null pointer, even for an empty input; neither do we.
    static const uint8_t none = 0;
    LLVMFuzzerTestOneInput(data.empty() ? &none : data.data(), data.size());
}

int main(int argc, char** argv) {
    size_t n = 0;
    for (int i = 1; i < argc; ++i) {
        std::filesystem::path p(argv[i]);
        if (std::filesystem::is_directory(p)) {
            for (auto& e : std::filesystem::recursive_directory_iterator(p))
                if (e.is_regular_file()) {
                    runOne(e.path());
                    ++n;
                }
        } else if (std::filesystem::is_regular_file(p)) {
            runOne(p);
            ++n;
        }
    }
    // An empty input always runs, so a target with no stored corpus still executes once.
    static const uint8_t none = 0;
    LLVMFuzzerTestOneInput(&none, 0);
    std::printf("ran %zu stored inputs\n", n);
    return 0;
}
