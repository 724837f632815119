// Writes the fuzzers' seed corpora: the JPEG variants the tests make (as files
// and in the persisted length-prefixed form), the conformance bitmaps, and the
// sample settings stores.
//
//   fuzz_make_seeds OUT_DIR BMPSUITE_DIR REGISTRY_SEED_DIR

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "imaging/JpegTestFiles.h"

namespace fs = std::filesystem;
using vmk::testing::JpegRecipe;
using vmk::testing::Layout;

namespace {

void Write(const fs::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void CopyFiles(const fs::path& from, const fs::path& to, const std::string& extension) {
    for (const auto& entry : fs::recursive_directory_iterator(from)) {
        if (!entry.is_regular_file()) continue;
        const fs::path& p = entry.path();
        if (!extension.empty() && p.extension() != extension) continue;
        // Folder and name: the suite has the same names in its good and bad folders.
        const std::string flat = p.parent_path().filename().string() + "_" + p.filename().string();
        fs::copy_file(p, to / flat, fs::copy_options::overwrite_existing);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s OUT_DIR BMPSUITE_DIR REGISTRY_SEED_DIR\n", argv[0]);
        return 2;
    }
    const fs::path out = argv[1];
    for (const char* sub : {"bmp", "png", "jpeg", "jpeg_data", "registry"}) fs::create_directories(out / sub);

    // Small pictures: the fuzzer mutates them faster and reaches every
    // decoder path through them as well as through big ones.
    const std::vector<std::pair<std::string, JpegRecipe>> recipes = {
        {"baseline", {.width = 16, .height = 16}},
        {"odd", {.width = 17, .height = 9}},
        {"one", {.width = 1, .height = 1}},
        {"s444", {.width = 16, .height = 8, .hSampling = 1, .vSampling = 1}},
        {"s422", {.width = 24, .height = 8, .hSampling = 2, .vSampling = 1}},
        {"progressive", {.width = 16, .height = 16, .layout = Layout::Progressive}},
        {"progressive_gray", {.width = 16, .height = 16, .layout = Layout::Progressive, .gray = true}},
        {"arithmetic", {.width = 16, .height = 16, .layout = Layout::Arithmetic}},
        {"gray", {.width = 16, .height = 16, .gray = true}},
        {"cmyk", {.width = 16, .height = 16, .cmyk = true}},
        {"ycck", {.width = 16, .height = 16, .cmyk = true, .ycck = true}},
        {"restart", {.width = 32, .height = 32, .restartRows = 1}},
        {"two_components", {.width = 8, .height = 8, .twoComponents = true}},
    };
    for (const auto& [name, recipe] : recipes) {
        const auto bytes = vmk::testing::MakeJpeg(recipe);
        Write(out / "jpeg" / (name + ".jpg"), bytes);
        std::vector<uint8_t> persisted(4);
        const auto size = static_cast<uint32_t>(bytes.size());
        for (int i = 0; i < 4; ++i) persisted[static_cast<size_t>(i)] = static_cast<uint8_t>(size >> (8 * i));
        persisted.insert(persisted.end(), bytes.begin(), bytes.end());
        Write(out / "jpeg_data" / (name + ".bin"), persisted);
    }
    CopyFiles(argv[2], out / "bmp", ".bmp");
    CopyFiles(argv[3], out / "registry", "");
    return 0;
}
