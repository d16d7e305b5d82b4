// The driver of a fuzz target where the compiler has no libFuzzer: runs the
// target once on each file named, and on each file in each folder named.
// Usage: fuzz_TARGET FILE_OR_FOLDER...
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) __attribute__((weak));

namespace {

bool runFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return false;
    }
    const std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (LLVMFuzzerInitialize != nullptr) LLVMFuzzerInitialize(&argc, &argv);
    bool ok = true;
    size_t runs = 0;
    for (int i = 1; i < argc; ++i) {
        std::error_code error;
        if (std::filesystem::is_directory(argv[i], error)) {
            for (const auto& entry : std::filesystem::directory_iterator(argv[i], error)) {
                if (entry.is_regular_file()) {
                    ok = runFile(entry.path()) && ok;
                    ++runs;
                }
            }
        } else {
            ok = runFile(argv[i]) && ok;
            ++runs;
        }
    }
    std::fprintf(stderr, "%zu inputs run\n", runs);
    return ok ? 0 : 1;
}
