// Folder benchmark: a folder of many small pictures added through the real
// "Add Folder" button of the main window (its dialog answered by the scripted
// user), as a user adds a card's worth of photos. It makes the files itself,
// flat in one folder and spread over subfolders ("Include subfolders" on),
// and prints for each the median time of the click (walk, both list boxes,
// the file-path list), the walk alone, and the peak memory the click took
// above the window before it.
//
// usage: vmk-folder-bench [files=20000] [repeats=3]

#include <QApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <malloc.h>
#include <unistd.h>

#include "BenchSupport.h"
#include "app/MainForm.h"
#include "app/Program.h"
#include "core/FileUtils.h"
#include "core/FolderWalk.h"
#include "widgets/Dialogs.h"

namespace {

using namespace bench;

// A 1 x 1 24-bit bitmap: the walk reads names, not pixels, but the files are real.
void WriteTinyBmp(const std::string& path) {
    static const unsigned char bmp[58] = {'B', 'M', 58, 0, 0, 0, 0, 0, 0,  0, 54, 0, 0, 0, 40, 0, 0,   0, 1, 0,
                                          0,   0,   1,  0, 0, 0, 1, 0, 24, 0, 0,  0, 0, 0, 4,  0, 0,   0, 0, 0,
                                          0,   0,   0,  0, 0, 0, 0, 0, 0,  0, 0,  0, 0, 0, 0,  0, 255, 0};
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bmp), sizeof bmp);
}

// Empties the batch and hands its memory back, so that each add's peak counts from the idle window.
void ClearBatch(vmk::TMainForm& form) {
    vmk::FilePaths().Clear();
    form.FilesList->GetItems().Clear();
    form.FileListSave->GetItems().Clear();
    QCoreApplication::processEvents();
    malloc_trim(0);
}

void Measure(const char* label, const std::string& folder, bool subfolders, int files, int repeats,
             vmk::TScriptedModal& modal) {
    vmk::TMainForm& form = *vmk::MainForm;
    std::vector<double> clicks, walks;
    long peakKb = 0;
    for (int r = 0; r < repeats; ++r) {
        ClearBatch(form);
        form.Subfolders->SetChecked(subfolders);
        const auto walkStart = Clock::now();
        const size_t walked = vmk::WalkFolder(folder, subfolders).Pictures.size();
        walks.push_back(Seconds(walkStart));
        modal.QueuePaths("OpenFolder", {folder});
        const long before = ProcStatusKb("VmRSS:");
        ResetPeak();
        const auto start = Clock::now();
        form.AddFolder->Click();
        clicks.push_back(Seconds(start));
        peakKb = std::max(peakKb, ProcStatusKb("VmHWM:") - before);
        if (vmk::FilePaths().GetCount() != files || form.FilesList->GetCount() != files ||
            walked != static_cast<size_t>(files)) {
            std::fprintf(stderr, "%s: added %d of %d\n", label, vmk::FilePaths().GetCount(), files);
            std::exit(1);
        }
    }
    ClearBatch(form);
    std::printf("%-28s click %7.1f ms   walk alone %6.1f ms   peak +%ld KiB\n", label, Median(clicks) * 1000,
                Median(walks) * 1000, peakKb);
}

}  // namespace

int main(int argc, char** argv) {
    const int files = argc > 1 ? std::atoi(argv[1]) : 20000;
    const int repeats = argc > 2 ? std::atoi(argv[2]) : 3;
    if (files < 1 || repeats < 1) {
        std::fprintf(stderr, "usage: vmk-folder-bench [files>=1] [repeats>=1]\n");
        return 2;
    }
    const std::string dir = ScratchFolder("vmk-folder-bench");

    std::printf("making %d small pictures in %s, flat and in folders of 200 ...\n", files, dir.c_str());
    std::fflush(stdout);
    const std::string flat = dir + "/flat", tree = dir + "/tree";
    vmk::ForceDirectories(flat);
    for (int i = 0; i < files; ++i) {
        WriteTinyBmp(flat + "/IMG_" + std::to_string(i) + ".bmp");
        const std::string sub = tree + "/day" + std::to_string(i / 200) + "/";
        if (i % 200 == 0) vmk::ForceDirectories(sub);
        WriteTinyBmp(sub + "IMG_" + std::to_string(i) + ".bmp");
    }

    int qtArgc = 1;
    QApplication platform(qtArgc, argv);
    vmk::InitializeModules();
    auto owned = std::make_unique<vmk::TScriptedModal>();
    vmk::TScriptedModal& modal = *owned;
    vmk::SetModalInterface(std::move(owned));
    vmk::RunProgram([&] {
        // Warm-up: page in the code and the folder's entries once.
        Measure("warm-up", flat, false, files, 1, modal);
        Measure("one folder", flat, false, files, repeats, modal);
        Measure("subfolders of 200 each", tree, true, files, repeats, modal);
    });
    vmk::FinalizeModules();
    if (getenv("VMK_BENCH_KEEP")) return 0;
    std::string cleanup = "rm -rf '" + dir + "'";
    if (std::system(cleanup.c_str()) != 0) std::fprintf(stderr, "could not remove %s\n", dir.c_str());
    return 0;
}
