// The batch run on several workers, through the real main window: the same
// bytes and messages as one worker, in list order; a failure, a result that
// replaces a later source, a cancel and a close in the middle. Nothing here
// waits on a clock: the run's step hook stands in for the user's timing.

#include <QCoreApplication>
#include <QKeyEvent>
#include <QWidget>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <thread>

#include "compose/BatchRun.h"
#include "compose/Compose.h"
#include "core/Stop.h"
#include "support/WindowFixture.h"

using namespace vmk;
using namespace vmk::test;

namespace {

const TColor kTrans = RGBColor(255, 0, 0);

class ParallelRun : public OutputTest, public ::testing::WithParamInterface<int> {
protected:
    // Every file of folder with its bytes.
    std::map<std::string, std::vector<uint8_t>> Contents(const std::string& folder) {
        std::map<std::string, std::vector<uint8_t>> out;
        for (const std::string& name : Listing(folder)) out[name] = ReadBytes(folder + name);
        return out;
    }

    // Sources 0..count-1 as 24-bit BMP files named p0.bmp, p1.bmp, ...
    void AddPictures(int count) {
        for (int i = 0; i < count; ++i) {
            Pic p = MakePicture(TPixelFormat::pf24bit, 9 + i, 7, {clBlack, clWhite, RGBColor(0, 0, 99)}, i);
            p->SaveToFile(dir_ + "p" + std::to_string(i) + ".bmp");
            AddSource(dir_ + "p" + std::to_string(i) + ".bmp");
        }
        Pic cover = MakeCover(3, 3, kTrans, {RGBColor(0, 200, 0)});
        WriteCover(*cover);
        fs::create_directories(dir_ + "out");
        form_->Path->SetText(dir_ + "out");
    }

    std::vector<std::string> ResultNames(int from, int to) {
        std::vector<std::string> names;
        for (int i = from; i < to; ++i) names.push_back("VMK_p" + std::to_string(i) + ".bmp");
        std::sort(names.begin(), names.end());
        return names;
    }
};

}  // namespace

// BMP at every depth, JPEG, a refused name between them, all three formats:
// the files are byte for byte those of one worker, and each message box comes
// when every earlier result is on disk and no later one is.
TEST_P(ParallelRun, MixedBatchMatchesOneWorker) {
    const std::vector<TColor> colours{clBlack, clWhite, RGBColor(0, 128, 0), RGBColor(200, 10, 60)};
    int seed = 0;
    for (TPixelFormat f : {TPixelFormat::pf1bit, TPixelFormat::pf4bit, TPixelFormat::pf8bit, TPixelFormat::pf24bit,
                           TPixelFormat::pf32bit}) {
        const std::string name = dir_ + "d" + std::to_string(BitsPerPixel(f)) + ".bmp";
        const std::vector<TColor> held(colours.begin(), colours.begin() + (f == TPixelFormat::pf1bit ? 2 : 4));
        MakePicture(f, 31, 17, held, ++seed)->SaveToFile(name);
        AddSource(name);
        if (f == TPixelFormat::pf8bit) {
            std::ofstream(dir_ + "skip.gif") << "not for us";
            AddSource(dir_ + "skip.gif");
        }
    }
    Pic gradient = MakeGradient(40, 24);
    SaveJpeg(*gradient, dir_ + "g.jpg");
    AddSource(dir_ + "g.jpg");
    SaveJpeg(*MakeGradient(17, 33), dir_ + "h.JPEG", 70);
    AddSource(dir_ + "h.JPEG");
    Pic cover = MakeCover(6, 5, kTrans, {RGBColor(0, 255, 0), RGBColor(0, 0, 255)});
    WriteCover(*cover);
    Place(form_->RB);

    for (TRadioButton* format : {form_->BMP, form_->JPG, form_->AsIs}) {
        SCOPED_TRACE(format->GetName());
        format->SetChecked(true);
        std::map<std::string, std::vector<uint8_t>> results[2];
        std::vector<std::string> boxes[2];
        int run = 0;
        for (int workers : {1, GetParam()}) {
            const std::string out = dir_ + "out" + std::to_string(run) + format->GetName() + "/";
            form_->Path->SetText(out);
            form_->RunState.Workers = workers;
            std::vector<std::vector<std::string>> onDisk;
            modal_->OnBox = [&](const TScriptedModal::Box&) { onDisk.push_back(Listing(out)); };
            RunProcess();
            modal_->OnBox = nullptr;
            boxes[run] = TakeBoxes();
            results[run] = Contents(out);
            // The refused name's box: the three entries before it written, none after.
            ASSERT_EQ(onDisk.size(), 2u);
            EXPECT_EQ(onDisk[0].size(), 3u);
            EXPECT_EQ(onDisk[1].size(), 7u);
            ++run;
        }
        EXPECT_EQ(boxes[0], boxes[1]);
        ASSERT_EQ(boxes[1].size(), 2u);
        EXPECT_EQ(boxes[1][0], "message: Error with file " + dir_ + "skip.gif: Invalid file extension");
        EXPECT_EQ(boxes[1][1], "message: Operation done! 7 of 8 files have been saved.\n1 refused.\n" + dir_ +
                                   "skip.gif: Invalid file extension");
        EXPECT_EQ(results[0].size(), 7u);
        EXPECT_TRUE(results[0] == results[1]);
    }
}

// A damaged JPEG in the middle: the results before it are there, none after,
// no temporary file is left, and the box names the file and its fault.
TEST_P(ParallelRun, DamagedSourceEndsTheRunAtItsEntry) {
    AddPictures(3);
    std::ofstream(dir_ + "bad.jpg", std::ios::binary).write("\xFF\xD8\xFF\xE0\x00\x10JFIF", 10);
    AddSource(dir_ + "bad.jpg");
    for (int i = 3; i < 7; ++i) {
        MakePicture(TPixelFormat::pf8bit, 5, 5, {clBlack, clWhite}, i)
            ->SaveToFile(dir_ + "p" + std::to_string(i) + ".bmp");
        AddSource(dir_ + "p" + std::to_string(i) + ".bmp");
    }
    form_->RunState.Workers = GetParam();
    RunProcess();
    const auto boxes = TakeBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    const std::string prefix = "error: Error with file " + dir_ + "bad.jpg: ";
    EXPECT_EQ(boxes[0].substr(0, prefix.size()), prefix) << boxes[0];
    EXPECT_GT(boxes[0].size(), prefix.size());
    EXPECT_EQ(Listing(dir_ + "out"), ResultNames(0, 3));
    // The window is as it was before the run.
    EXPECT_FALSE(form_->Label8->GetVisible());
    EXPECT_FALSE(form_->Cancel->GetVisible());
    EXPECT_FALSE(form_->ProgressBar1->GetVisible());
    EXPECT_TRUE(form_->Open->GetEnabled());
    EXPECT_TRUE(form_->Tabs->GetTabsEnabled());
    EXPECT_EQ(Screen->GetCursor(), crDefault);
}

// The first entry's result is the third entry's source (named another way):
// the third reads it only once it is written, so the cover lands twice.
TEST_P(ParallelRun, AResultIsWrittenBeforeALaterEntryReadsIt) {
    Pic first = MakePicture(TPixelFormat::pf24bit, 12, 9, {clBlack, RGBColor(9, 90, 200)}, 3);
    first->SaveToFile(dir_ + "a.bmp");
    Pic filler = MakePicture(TPixelFormat::pf24bit, 12, 9, {clWhite}, 4);
    filler->SaveToFile(dir_ + "b.bmp");
    filler->SaveToFile(dir_ + "VMK_a.bmp");  // stale: must not be what the third entry reads
    fs::create_directories(dir_ + "sub");
    AddSource(dir_ + "a.bmp");
    AddSource(dir_ + "b.bmp");
    AddSource(dir_ + "sub/../VMK_a.bmp");
    Pic cover = MakeCover(4, 4, kTrans, {RGBColor(0, 255, 0)});
    WriteCover(*cover);
    Place(form_->OtherPos, 2, 1);
    form_->RunState.Workers = GetParam();
    RunProcess();
    EXPECT_EQ(TakeBoxes(), std::vector<std::string>{kDone});
    Pic once = Expected(*first, *cover, 2, 1, true, kTrans);
    ExpectSamePixels(*LoadBmp(dir_ + "VMK_a.bmp"), *once);
    // The cover is opaque where it is drawn: twice looks like once, over the real first result.
    ExpectSamePixels(*LoadBmp(dir_ + "VMK_VMK_a.bmp"), *Expected(*once, *cover, 2, 1, true, kTrans));
}

// While the run lasts the window shows how far it is, and nothing but Cancel
// takes input; Cancel after the third entry keeps exactly three results.
TEST_P(ParallelRun, CancelInTheMiddleKeepsWhatWasSaved) {
    AddPictures(8);
    form_->RunState.Workers = GetParam();
    std::vector<std::string> progress;
    form_->RunState.OnStep = [&](int index) {
        progress.push_back(form_->ProgressBar1->GetText());
        EXPECT_TRUE(form_->Label8->GetVisible());
        EXPECT_TRUE(form_->Cancel->GetEnabled());
        for (TControl* c : std::initializer_list<TControl*>{form_->Process, form_->Path, form_->Button1, form_->Open,
                                                            form_->FilesList, form_->CoverFile, form_->JPGQuality,
                                                            form_->Update, form_->Panel2})
            EXPECT_FALSE(c->GetEnabled()) << c->GetName();
        EXPECT_FALSE(form_->Tabs->GetTabsEnabled());
        form_->Tabs->SelectByUser(4);  // a click on a tab is not taken
        EXPECT_EQ(form_->Tabs->GetPageIndex(), 3);
        if (index == 2) form_->Cancel->Click();
    };
    form_->Tabs->SetPageIndex(3);
    RunProcess();
    EXPECT_EQ(progress, (std::vector<std::string>{"1 of 8", "2 of 8", "3 of 8"}));
    EXPECT_EQ(TakeBoxes(), std::vector<std::string>{"message: Operation cancelled! 3 of 8 files have been saved."});
    EXPECT_EQ(Listing(dir_ + "out"), ResultNames(0, 3));  // whole files only, no temporary ones
    EXPECT_TRUE(form_->Process->GetEnabled());
    EXPECT_TRUE(form_->Open->GetEnabled());
    EXPECT_TRUE(form_->Path->GetEnabled());
    EXPECT_FALSE(form_->Cancel->GetVisible());
}

// Esc is the Cancel button's key; a run that is not cancelled says so as before.
TEST_P(ParallelRun, EscCancels) {
    AddPictures(5);
    form_->RunState.Workers = GetParam();
    form_->Tabs->SetPageIndex(3);
    form_->ShowWindow();  // Esc goes to the button the user sees
    form_->RunState.OnStep = [&](int index) {
        if (index != 0) return;
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QCoreApplication::sendEvent(form_->GetWidget(), &press);
    };
    RunProcess();
    EXPECT_EQ(TakeBoxes(), std::vector<std::string>{"message: Operation cancelled! 1 of 5 files have been saved."});
    EXPECT_EQ(Listing(dir_ + "out"), ResultNames(0, 1));

    // Esc outside a run does nothing; the next run goes through.
    form_->RunState.OnStep = nullptr;
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(form_->GetWidget(), &press);
    RunProcess();
    EXPECT_EQ(TakeBoxes(), std::vector<std::string>{kDone});
    EXPECT_EQ(Listing(dir_ + "out"), ResultNames(0, 5));
}

// Closing the window during a run stops it, then closes without a box; the
// settings are written as at any close.
TEST_P(ParallelRun, ClosingTheWindowCancelsThenCloses) {
    AddPictures(6);
    form_->RunState.Workers = GetParam();
    form_->ShowWindow();
    bool closedDuringRun = false;
    form_->RunState.OnStep = [&](int index) {
        if (index != 1) return;
        form_->Close();
        closedDuringRun = !form_->GetWidget()->isVisible();
    };
    RunProcess();
    EXPECT_FALSE(closedDuringRun);  // the window waits for the run to stop
    EXPECT_FALSE(form_->GetWidget()->isVisible());
    EXPECT_EQ(TakeBoxes(), std::vector<std::string>{});
    EXPECT_EQ(Listing(dir_ + "out"), ResultNames(0, 2));
    EXPECT_TRUE(FileExists(dir_ + "registry.reg"));
    Application->Initialize();  // the close ended the (not running) event loop
}

// Esc waits in the event queue while the workers are ahead of the writes: it is
// still taken at the next step, and nothing after that step is written.
TEST_P(ParallelRun, EscIsTakenWhileTheWorkersAreAhead) {
    AddPictures(6);
    form_->JPG->SetChecked(true);  // results wait in memory, ready long before their turn
    form_->RunState.Workers = GetParam();
    form_->Tabs->SetPageIndex(3);
    form_->ShowWindow();
    form_->RunState.OnStep = [&](int index) {
        if (index != 0) return;
        auto* press = new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QCoreApplication::postEvent(form_->Cancel->GetWidget(), press);
        // Not a timing check: the pause only lets every later picture be ready,
        // which is when events used to go unhandled.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    };
    RunProcess();
    EXPECT_EQ(TakeBoxes(), std::vector<std::string>{"message: Operation cancelled! 1 of 6 files have been saved."});
    EXPECT_EQ(Listing(dir_ + "out"), std::vector<std::string>{"VMK_p0.jpg"});
}

// A worker held in the middle of a picture (a hostile file decoding for
// minutes) is asked to stop by Cancel and leaves at once: the window does not
// wait for the picture, nothing more is written and no temporary file is left.
TEST_P(ParallelRun, CancelStopsAWorkerInTheMiddleOfAPicture) {
    AddPictures(5);
    form_->RunState.Workers = GetParam();
    std::atomic<bool> sawStop{false};
    std::atomic<bool> held{false};
    TBatchRun::SetWorkHook([&](int index) {
        if (index != 1) return;
        held = true;
        for (int i = 0; i < 20000 && !StopRequested(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        sawStop = StopRequested();
        CheckStop();
    });
    form_->RunState.OnStep = [&](int index) {
        if (index != 0) return;
        // The Cancel comes while a worker is held in the second picture (not a
        // timing check: a loaded machine may take a while to get it there).
        for (int i = 0; i < 20000 && !held; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [&] { form_->Cancel->Click(); }, Qt::QueuedConnection);
    };
    RunProcess();
    TBatchRun::SetWorkHook(nullptr);
    EXPECT_TRUE(sawStop);
    EXPECT_EQ(TakeBoxes(), std::vector<std::string>{"message: Operation cancelled! 1 of 5 files have been saved."});
    EXPECT_EQ(Listing(dir_ + "out"), ResultNames(0, 1));  // no temporary file either
}

INSTANTIATE_TEST_SUITE_P(Workers, ParallelRun, ::testing::Values(2, 3, 8),
                         [](const ::testing::TestParamInfo<int>& p) { return std::to_string(p.param) + "workers"; });

TEST(BatchWorkerCount, EveryCoreButNeverMoreThanThePictures) {
    EXPECT_EQ(BatchWorkerCount(4, 2), 2);
    EXPECT_EQ(BatchWorkerCount(1, 50), 1);
    EXPECT_EQ(BatchWorkerCount(3, 0), 1);
    const int cores = BatchWorkerCount(0, 1000);
    EXPECT_GE(cores, 1);
    EXPECT_EQ(BatchWorkerCount(0, 1), 1);
}
