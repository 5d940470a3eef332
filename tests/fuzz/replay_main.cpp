// Runs a fuzz target's entry point over files and folders of inputs, without libFuzzer: the seed corpora and
// every input that once crashed are replayed as ordinary tests in the normal and the sanitizer builds.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace {
int replay(const std::filesystem::path &file)
{
    std::ifstream in(file, std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    return LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
}
} // namespace

int main(int argc, char **argv)
{
    LLVMFuzzerInitialize(&argc, &argv);
    int inputs = 0;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path path(argv[i]);
        if (std::filesystem::is_directory(path)) {
            for (const auto &entry : std::filesystem::directory_iterator(path)) {
                if (entry.is_regular_file() && entry.path().filename() != ".gitkeep") {
                    replay(entry.path());
                    ++inputs;
                }
            }
        } else if (std::filesystem::is_regular_file(path)) {
            replay(path);
            ++inputs;
        }
    }
    std::printf("replayed %d inputs\n", inputs);
    return 0;
}
