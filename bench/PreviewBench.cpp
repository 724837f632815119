// Preview benchmark. Makes one photo-like JPEG (12 MP by default) and a cover,
// then times, side by side in one process:
//   file preview - a click on the line in "Files to Edit" until the preview is
//                  painted, fitted to its box and at 100 %;
//   save preview - a click on the line in "Save Options" (JPEG, quality 85, the
//                  cover at the bottom right) until painted, fitted and at 100 %;
//   floors       - bare libjpeg-turbo: a whole decode of the file; and decode,
//                  a plain copy of the cover into the corner, encode at 85 and
//                  decode again, for the save preview.
// Each pass of a row runs the preview and its floor in turns; the row prints the
// median processor time of each, and the medians of the per-pass ratios of
// processor time and of wall time (the latency a user waits through, which a
// second core may shorten). The window is shown offscreen at 1000 x 700;
// painting is forced by grabbing the preview.
//
// usage: vmk-preview-bench [width=4000] [height=3000] [repeats=7] [rows]
// where rows, when given, keeps the rows whose label starts with it.

#include <QApplication>
#include <QImage>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <unistd.h>

#include "BenchSupport.h"
#include "app/MainForm.h"
#include "app/Program.h"
#include "core/FileUtils.h"
#include "imaging/Jpeg.h"
#include "widgets/Dialogs.h"

namespace {

using bench::Median;

struct Cost {
    double cpu = 0;
    double wall = 0;
};

Cost Measure(const std::function<void()>& work) {
    const double cpu = bench::CpuSeconds();
    const auto wall = bench::Clock::now();
    work();
    return {bench::CpuSeconds() - cpu, bench::Seconds(wall)};
}

// A smooth field with fine noise, so that it compresses and decodes like a photo.
std::vector<uint8_t> MakePhoto(int width, int height) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> noise(-4, 4);
    std::vector<uint8_t> rgb(static_cast<size_t>(width) * static_cast<size_t>(height) * 3);
    size_t i = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const int base[3] = {x * 255 / width, y * 255 / height, (x + y) * 255 / (width + height)};
            for (int c : base) rgb[i++] = static_cast<uint8_t>(std::clamp(c + noise(rng), 0, 255));
        }
    return rgb;
}

std::vector<uint8_t> Encode(const uint8_t* rgb, int width, int height, int quality) {
    jpeg_compress_struct c{};
    jpeg_error_mgr err{};
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = static_cast<JDIMENSION>(width);
    c.image_height = static_cast<JDIMENSION>(height);
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, quality, TRUE);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row =
            const_cast<uint8_t*>(rgb + static_cast<size_t>(c.next_scanline) * static_cast<size_t>(width) * 3);
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    std::vector<uint8_t> bytes(out, out + size);
    jpeg_destroy_compress(&c);
    std::free(out);
    return bytes;
}

void Decode(const std::vector<uint8_t>& bytes, std::vector<uint8_t>& rgb, int& width, int& height, unsigned denom = 1) {
    jpeg_decompress_struct d{};
    jpeg_error_mgr err{};
    d.err = jpeg_std_error(&err);
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&d, TRUE);
    d.scale_num = 1;
    d.scale_denom = denom;
    jpeg_start_decompress(&d);
    width = static_cast<int>(d.output_width);
    height = static_cast<int>(d.output_height);
    rgb.resize(static_cast<size_t>(width) * static_cast<size_t>(height) * 3);
    while (d.output_scanline < d.output_height) {
        JSAMPROW row = rgb.data() + static_cast<size_t>(d.output_scanline) * static_cast<size_t>(width) * 3;
        jpeg_read_scanlines(&d, &row, 1);
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
}

std::vector<uint8_t> ReadWhole(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) std::exit(1);
    std::fseek(f, 0, SEEK_END);
    std::vector<uint8_t> out(static_cast<size_t>(std::ftell(f)));
    std::fseek(f, 0, SEEK_SET);
    if (std::fread(out.data(), 1, out.size(), f) != out.size()) std::exit(1);
    std::fclose(f);
    return out;
}

void WriteWhole(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) std::exit(1);
    std::fclose(f);
}

// A decode, at 1/denom; with a box, then scaled smoothly by Qt into it as the
// fitted preview is.
void FileFloor(const std::string& photo, unsigned denom = 1, int boxW = 0, int boxH = 0) {
    std::vector<uint8_t> rgb;
    int w = 0, h = 0;
    Decode(ReadWhole(photo), rgb, w, h, denom);
    if (boxW > 0) {
        const QImage rows(rgb.data(), w, h, w * 3, QImage::Format_RGB888);
        (void)rows.scaled(boxW, boxH, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    }
}

// Decode, the cover, encode at 85 and decode the result at 1/resultDenom.
void SaveFloor(const std::string& photo, int coverW, int coverH, unsigned resultDenom = 1) {
    std::vector<uint8_t> rgb;
    int w = 0, h = 0;
    Decode(ReadWhole(photo), rgb, w, h);
    for (int y = h - coverH; y < h; ++y)
        std::fill_n(
            rgb.data() + (static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(w - coverW)) * 3,
            static_cast<size_t>(coverW) * 3, uint8_t{200});
    const std::vector<uint8_t> bytes = Encode(rgb.data(), w, h, 85);
    Decode(bytes, rgb, w, h, resultDenom);
}

// A click on the list's line until the preview is painted.
void PreviewPass(vmk::TListBox& list, vmk::TImage& preview) {
    list.SelectByUser(0);
    (void)preview.GetWidget()->grab();
}

}  // namespace

int main(int argc, char** argv) {
    const int width = argc > 1 ? std::atoi(argv[1]) : 4000;
    const int height = argc > 2 ? std::atoi(argv[2]) : 3000;
    const int repeats = argc > 3 ? std::atoi(argv[3]) : 7;
    const std::string only = argc > 4 ? argv[4] : "";
    if (width < 400 || height < 300 || repeats < 1) {
        std::fprintf(stderr, "usage: vmk-preview-bench [width>=400] [height>=300] [repeats>=1]\n");
        return 2;
    }
    const std::string dir = bench::ScratchFolder("vmk-preview-bench");

    const std::string photo = dir + "/photo.jpg";
    {
        const std::vector<uint8_t> rgb = MakePhoto(width, height);
        WriteWhole(photo, Encode(rgb.data(), width, height, 92));
    }
    const int coverW = 400, coverH = 200;
    const std::string coverPath = dir + "/cover.bmp";
    {
        vmk::TBitmap cover;
        cover.SetPixelFormat(vmk::TPixelFormat::pf24bit);
        cover.SetSize(coverW, coverH);
        for (int y = 0; y < coverH; ++y) std::fill_n(cover.GetScanline(y), coverW * 3, uint8_t{200});
        cover.SaveToFile(coverPath);
    }

    int qtArgc = 1;
    QApplication platform(qtArgc, argv);
    vmk::InitializeModules();
    auto owned = std::make_unique<vmk::TScriptedModal>();
    vmk::TScriptedModal& modal = *owned;
    vmk::SetModalInterface(std::move(owned));
    vmk::RunProgram([&] {
        using namespace vmk;
        TMainForm& form = *MainForm;
        form.SetClientSize(1000, 700);
        modal.QueuePaths("OpenFiles", {photo});
        form.OpenClick(form.Open);
        form.CoverFile->SetText(coverPath);
        form.RB->SetChecked(true);
        form.CoverTransparent->SetChecked(false);
        form.JPG->SetChecked(true);
        form.JPGQuality->SetValue(85);

        struct Row {
            const char* label;
            std::function<Cost()> pass;
            std::function<Cost()> floor;
        };
        // The page and the toggle are set before each pass, outside its time.
        const auto files = [&](bool fit) {
            return [&form, fit] {
                form.Tabs->SetPageIndex(0);
                form.FitFiles->SetChecked(fit);
                return Measure([&] { PreviewPass(*form.FilesList, *form.PreviewFiles); });
            };
        };
        const auto saves = [&](bool fit) {
            return [&form, fit] {
                form.Tabs->SetPageIndex(2);
                form.FitSave->SetChecked(fit);
                return Measure([&] { PreviewPass(*form.FileListSave, *form.PreviewSave); });
            };
        };
        const auto fileFloor = [&] { return Measure([&] { FileFloor(photo); }); };
        const auto saveFloor = [&] { return Measure([&] { SaveFloor(photo, coverW, coverH); }); };
        const auto scaledFloor = [&](unsigned denom) {
            return [&photo, denom] { return Measure([&] { FileFloor(photo, denom); }); };
        };
        // The least work the fitted previews can do: the decode at the scale
        // that fills the box and Qt's smooth scaling; the whole save with its
        // result decoded at that scale.
        const int boxW = form.PreviewFiles->GetFitBoxWidth(), boxH = form.PreviewFiles->GetFitBoxHeight();
        const unsigned fill = 1u << static_cast<unsigned>(ReductionToFill(width, height, boxW, boxH));
        const auto fittedFloor = [&photo, fill, boxW, boxH] {
            return Measure([&] { FileFloor(photo, fill, boxW, boxH); });
        };
        const auto fittedSaveFloor = [&photo, fill, coverW, coverH] {
            return Measure([&] { SaveFloor(photo, coverW, coverH, fill); });
        };
        const Row rows[] = {
            {"bare decode at 1/2", scaledFloor(2), fileFloor}, {"bare decode at 1/4", scaledFloor(4), fileFloor},
            {"bare decode at 1/8", scaledFloor(8), fileFloor}, {"file preview, fitted", files(true), fileFloor},
            {"file preview, 100 %", files(false), fileFloor},  {"save preview, fitted", saves(true), saveFloor},
            {"save preview, 100 %", saves(false), saveFloor},  {"bare fitted file", fittedFloor, fileFloor},
            {"bare fitted save", fittedSaveFloor, saveFloor},
        };
        std::printf("%d x %d JPEG, window 1000 x 700, median of %d passes\n", width, height, repeats);
        std::printf("the file preview's box: %d x %d\n", form.PreviewFiles->GetFitBoxWidth(),
                    form.PreviewFiles->GetFitBoxHeight());
        std::printf("%-24s %10s %10s %9s %9s\n", "", "cpu", "floor cpu", "cpu ratio", "wall ratio");
        for (const Row& row : rows) {
            if (std::string(row.label).rfind(only, 0) != 0) continue;
            row.pass();  // warm-up: page in the code and the file
            row.floor();
            std::vector<double> p, f, cpuRatio, wallRatio;
            for (int i = 0; i < repeats; ++i) {
                Cost pass, floor;
                bench::InTurns(
                    i, [&] { pass = row.pass(); }, [&] { floor = row.floor(); });
                p.push_back(pass.cpu);
                f.push_back(floor.cpu);
                cpuRatio.push_back(pass.cpu / floor.cpu);
                wallRatio.push_back(pass.wall / floor.wall);
            }
            std::printf("%-24s %7.1f ms %7.1f ms %9.2f %9.2f\n", row.label, Median(p) * 1000, Median(f) * 1000,
                        Median(cpuRatio), Median(wallRatio));
        }
        if (!modal.Boxes().empty()) {
            std::fprintf(stderr, "a box was shown: %s\n", modal.Boxes().front().text.c_str());
            std::exit(1);
        }
    });
    vmk::FinalizeModules();
    std::filesystem::remove_all(dir);
    return 0;
}
