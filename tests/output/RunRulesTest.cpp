// "When a result exists" and "On a failure" through the real controls, the
// question asked before a run whose results would meet, and the end message.

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <map>

#include "compose/RunRules.h"
#include "core/Streams.h"
#include "output/FormSettings.h"
#include "support/WindowFixture.h"

using namespace vmk;
using namespace vmk::test;

namespace {

const TColor kTrans = RGBColor(255, 0, 0);

std::string TextOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The names in a folder, sorted; links are not followed.
std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

bool IsLink(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

class RunRulesTest : public OutputTest {
protected:
    void SetUp() override {
        OutputTest::SetUp();
        WriteCover(*MakeCover(2, 2, kTrans, {clBlack}));
        fs::create_directories(dir_ + "out");
        form_->Path->SetText(dir_ + "out/");
    }
    std::string Source(const std::string& name) {
        MakePicture(TPixelFormat::pf24bit, 8, 6, {clWhite, RGBColor(0, 0, 200)}, 1)->SaveToFile(dir_ + name);
        AddSource(dir_ + name);
        return dir_ + name;
    }
    std::string Out(const std::string& name) const { return dir_ + "out/" + name; }
    void Put(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
    // The one box the run showed: an end message.
    TScriptedModal::Box EndBox() {
        EXPECT_EQ(modal_->Boxes().size(), 1u);
        if (!modal_->HasBox()) return {TScriptedModal::Box::Error, {}, {}, {}, {}, {}};
        TScriptedModal::Box box = modal_->TakeBox();
        EXPECT_EQ(box.kind, TScriptedModal::Box::Message) << box.text;
        return box;
    }
};

}  // namespace

// Skip leaves every entry of a result's name as it is: a file, a link (and
// what it leads to), a dangling link, a read-only file.
TEST_F(RunRulesTest, SkipLeavesEveryExistingResult) {
    for (const char* name : {"a.bmp", "b.bmp", "c.bmp", "d.bmp", "e.bmp"}) Source(name);
    Put(Out("VMK_a.bmp"), "old");
    Put(dir_ + "elsewhere.bmp", "target");
    fs::create_symlink(dir_ + "elsewhere.bmp", Out("VMK_b.bmp"));
    Put(Out("VMK_c.bmp"), "read-only");
    chmod(Out("VMK_c.bmp").c_str(), 0444);
    fs::create_symlink(dir_ + "nowhere.bmp", Out("VMK_d.bmp"));
    form_->ExistSkip->SetChecked(true);
    EXPECT_EQ(form_->Process->GetCaption(),
              "Click to Process all Files\r\n\r\n(Existing files will be left as they are)");
    RunProcess();
    const auto box = EndBox();
    const std::string skipped = ": skipped, the result exists\n";
    EXPECT_EQ(box.text, "Operation done! 1 of 5 files have been saved.\n4 skipped (the result exists).\n" + dir_ +
                            "a.bmp" + skipped + dir_ + "b.bmp" + skipped + dir_ + "c.bmp" + skipped + dir_ +
                            "d.bmp: skipped, the result exists");
    EXPECT_EQ(TextOf(Out("VMK_a.bmp")), "old");
    EXPECT_TRUE(IsLink(Out("VMK_b.bmp")));
    EXPECT_EQ(TextOf(dir_ + "elsewhere.bmp"), "target");
    EXPECT_EQ(TextOf(Out("VMK_c.bmp")), "read-only");
    EXPECT_TRUE(IsLink(Out("VMK_d.bmp")));
    EXPECT_FALSE(FileExists(dir_ + "nowhere.bmp"));
    EXPECT_GT(ReadBytes(Out("VMK_e.bmp")).size(), 54u);
    EXPECT_EQ(Names(dir_ + "out"),
              (std::vector<std::string>{"VMK_a.bmp", "VMK_b.bmp", "VMK_c.bmp", "VMK_d.bmp", "VMK_e.bmp"}));
}

// Keep both writes beside each taken name under the first free number, and
// leaves what had the name as it was; a second run takes the next number.
TEST_F(RunRulesTest, KeepBothTakesTheFirstFreeNumber) {
    for (const char* name : {"a.bmp", "b.bmp", "c.bmp", "d.bmp"}) Source(name);
    Put(Out("VMK_a.bmp"), "old");
    Put(Out("VMK_a (2).bmp"), "older");
    Put(dir_ + "elsewhere.bmp", "target");
    fs::create_symlink(dir_ + "elsewhere.bmp", Out("VMK_b.bmp"));
    Put(Out("VMK_c.bmp"), "read-only");
    chmod(Out("VMK_c.bmp").c_str(), 0444);
    fs::create_symlink(dir_ + "nowhere.bmp", Out("VMK_d.bmp"));
    form_->ExistKeepBoth->SetChecked(true);
    EXPECT_EQ(form_->Process->GetCaption(),
              "Click to Process all Files\r\n\r\n(Existing files are kept: new results get a number)");
    RunProcess();
    EXPECT_EQ(EndBox().text, "Operation done! All files have been saved successfully.");
    const auto made = ReadBytes(dir_ + "out/VMK_a (3).bmp");
    EXPECT_GT(made.size(), 54u);
    EXPECT_EQ(TextOf(Out("VMK_a.bmp")), "old");
    EXPECT_EQ(TextOf(Out("VMK_a (2).bmp")), "older");
    EXPECT_TRUE(IsLink(Out("VMK_b.bmp")));
    EXPECT_EQ(TextOf(dir_ + "elsewhere.bmp"), "target");
    EXPECT_EQ(ReadBytes(Out("VMK_b (2).bmp")), made);
    EXPECT_EQ(TextOf(Out("VMK_c.bmp")), "read-only");
    EXPECT_EQ(ReadBytes(Out("VMK_c (2).bmp")), made);
    EXPECT_FALSE(FileExists(dir_ + "nowhere.bmp"));
    EXPECT_EQ(ReadBytes(Out("VMK_d (2).bmp")), made);
    RunProcess();
    EXPECT_EQ(EndBox().text, "Operation done! All files have been saved successfully.");
    EXPECT_EQ(ReadBytes(Out("VMK_a (4).bmp")), made);
    EXPECT_EQ(ReadBytes(Out("VMK_b (3).bmp")), made);
    EXPECT_EQ(Names(dir_ + "out").size(), 13u);  // no temporary file left
}

// Overwrite, the default, keeps its old ways: a file is replaced, a link is
// written through, and nothing is asked.
TEST_F(RunRulesTest, OverwriteReplacesAndFollowsLinks) {
    Source("a.bmp");
    Source("b.bmp");
    Put(Out("VMK_a.bmp"), "old");
    Put(dir_ + "elsewhere.bmp", "target");
    fs::create_symlink(dir_ + "elsewhere.bmp", Out("VMK_b.bmp"));
    EXPECT_TRUE(form_->ExistOverwrite->GetChecked());
    EXPECT_TRUE(form_->FailStop->GetChecked());
    EXPECT_EQ(form_->Process->GetCaption(), kProcessCaption);
    RunProcess();
    EXPECT_EQ(EndBox().text, "Operation done! All files have been saved successfully.");
    const auto made = ReadBytes(Out("VMK_a.bmp"));
    EXPECT_GT(made.size(), 54u);
    EXPECT_TRUE(IsLink(Out("VMK_b.bmp")));
    EXPECT_EQ(ReadBytes(dir_ + "elsewhere.bmp"), made);
    form_->ExistSkip->SetChecked(true);
    form_->ExistOverwrite->SetChecked(true);
    EXPECT_EQ(form_->Process->GetCaption(), kProcessCaption);
}

// Two programs writing one new name at once: the first takes it, the second
// is told and takes the next, whichever order their bytes were made in.
TEST_F(RunRulesTest, ANewNameIsTakenInOneStep) {
    const std::string target = dir_ + "out/x.jpg";
    TNewFileStream first(dir_ + "out/", target), second(dir_ + "out/", target);
    second.WriteBuffer("second", 6);
    first.WriteBuffer("first", 5);
    EXPECT_TRUE(second.CommitAs(target));
    EXPECT_FALSE(first.CommitAs(target));
    EXPECT_FALSE(first.CommitAs(target));  // asked again, still taken
    EXPECT_TRUE(first.CommitAs(NumberedName(target, 2)));
    EXPECT_EQ(TextOf(target), "second");
    EXPECT_EQ(TextOf(dir_ + "out/x (2).jpg"), "first");
    EXPECT_EQ(NumberedName("/a/b.c/name", 3), "/a/b.c/name (3)");
    {
        TNewFileStream dropped(dir_ + "out/", target);
        dropped.WriteBuffer("never", 5);
    }
    EXPECT_EQ(Names(dir_ + "out"), (std::vector<std::string>{"x (2).jpg", "x.jpg"}));
}

// Going on, three damaged pictures among good ones: every good one is
// written, nothing of a bad one, and one message names each with its reason.
TEST_F(RunRulesTest, GoOnNamesEveryFailureAtTheEnd) {
    Source("good1.bmp");
    Put(dir_ + "bad1.jpg", std::string("\xFF\xD8\xFF\xE0garbage", 11));
    AddSource(dir_ + "bad1.jpg");
    Source("good2.bmp");
    Put(dir_ + "x.gif", "not a picture");
    AddSource(dir_ + "x.gif");
    Put(dir_ + "bad2.bmp", "BM");
    AddSource(dir_ + "bad2.bmp");
    Put(dir_ + "bad3.jpg", "");
    AddSource(dir_ + "bad3.jpg");
    Source("good3.bmp");
    form_->FailGoOn->SetChecked(true);
    EXPECT_EQ(form_->Process->GetCaption(), kProcessCaption);
    RunProcess();
    const auto box = EndBox();
    const std::string head = "Operation done! 3 of 7 files have been saved.\n1 refused, 3 failed.\n";
    ASSERT_EQ(box.text.substr(0, head.size()), head) << box.text;
    const std::string details = box.text.substr(head.size());
    std::vector<std::string> lines;
    for (size_t at = 0; at <= details.size();) {
        const size_t end = std::min(details.find('\n', at), details.size());
        lines.push_back(details.substr(at, end - at));
        at = end + 1;
    }
    ASSERT_EQ(lines.size(), 4u) << details;
    EXPECT_EQ(lines[0].rfind(dir_ + "bad1.jpg: ", 0), 0u) << lines[0];
    EXPECT_EQ(lines[1], dir_ + "x.gif: Invalid file extension");
    EXPECT_EQ(lines[2].rfind(dir_ + "bad2.bmp: ", 0), 0u) << lines[2];
    EXPECT_EQ(lines[3].rfind(dir_ + "bad3.jpg: ", 0), 0u) << lines[3];
    for (const std::string& line : lines) EXPECT_GT(line.size(), line.find(": ") + 4) << "no reason: " << line;
    EXPECT_EQ(Names(dir_ + "out"), (std::vector<std::string>{"VMK_good1.bmp", "VMK_good2.bmp", "VMK_good3.bmp"}));
    EXPECT_FALSE(form_->Label8->GetVisible());
    EXPECT_EQ(Screen->GetCursor(), crDefault);
}

// A write that fails, going on, fails its own picture alone.
TEST_F(RunRulesTest, GoOnPastAFailedWrite) {
    Source("a.bmp");
    Source("b.bmp");
    Source("c.bmp");
    fs::create_directories(Out("VMK_b.bmp"));  // a folder has the name
    form_->FailGoOn->SetChecked(true);
    RunProcess();
    const auto box = EndBox();
    EXPECT_EQ(box.text.rfind("Operation done! 2 of 3 files have been saved.\n1 failed.\n" + dir_ + "b.bmp: ", 0), 0u)
        << box.text;
    EXPECT_TRUE(FileExists(Out("VMK_a.bmp")));
    EXPECT_TRUE(FileExists(Out("VMK_c.bmp")));
}

// Two sources meeting on one result: asked once before anything is written.
// No leaves everything as it was; yes runs as before, the later one winning.
TEST_F(RunRulesTest, ClashQuestionBothAnswers) {
    const std::string a = Source("a.bmp");
    fs::create_directories(dir_ + "two");
    MakePicture(TPixelFormat::pf24bit, 8, 6, {clBlack}, 2)->SaveToFile(dir_ + "two/a.bmp");
    AddSource(dir_ + "two/a.bmp");
    AddSource(a);
    const std::string question = "Some pictures would be saved to the same file: \"" + a + "\" and \"" + dir_ +
                                 "two/a.bmp\" both go to \"" + Out("VMK_a.bmp") +
                                 "\" (2 clashes in all). The later picture's result replaces the earlier one."
                                 "\n\nGo on?";
    modal_->QueueAnswer(false);
    RunProcess();
    EXPECT_EQ(TakeBoxes(), std::vector<std::string>{"question: " + question});
    EXPECT_TRUE(Names(dir_ + "out").empty());

    modal_->QueueAnswer(true);
    RunProcess();
    EXPECT_EQ(TakeBoxes(), (std::vector<std::string>{"question: " + question, kDone}));
    EXPECT_EQ(Names(dir_ + "out"), std::vector<std::string>{"VMK_a.bmp"});

    // Keeping both, nothing is lost, so nothing is asked.
    form_->ExistKeepBoth->SetChecked(true);
    fs::remove(Out("VMK_a.bmp"));
    RunProcess();
    EXPECT_EQ(TakeBoxes(), std::vector<std::string>{kDone});
    EXPECT_EQ(Names(dir_ + "out"), (std::vector<std::string>{"VMK_a (2).bmp", "VMK_a (3).bmp", "VMK_a.bmp"}));
}

// No fix text and no folder: the results would replace their sources.
TEST_F(RunRulesTest, ReplacingOriginalsIsAsked) {
    const std::string a = Source("a.bmp");
    Source("b.bmp");
    form_->AsIs->SetChecked(true);
    form_->FileFix->SetText("");
    form_->Path->SetText("");
    const auto before = ReadBytes(a);
    RunProcess();
    EXPECT_EQ(TakeBoxes(), std::vector<std::string>{"question: Some results would replace their own originals: \"" + a +
                                                    "\" would be overwritten (2 originals in all).\n\nGo on?"});
    EXPECT_EQ(ReadBytes(a), before);
    // Skipping, an original is a result that exists: left, and nothing asked.
    form_->ExistSkip->SetChecked(true);
    RunProcess();
    EXPECT_EQ(EndBox().text.rfind("Operation done! 0 of 2 files have been saved.\n2 skipped", 0), 0u);
    EXPECT_EQ(ReadBytes(a), before);
}

// The end message says where the results went, resolved, and offers to open it.
TEST_F(RunRulesTest, EndMessageNamesTheFolder) {
    Source("a.bmp");
    form_->Path->SetText("out2");
    RunProcess();
    auto box = EndBox();
    EXPECT_EQ(box.folder, dir_ + "program/out2/");
    EXPECT_EQ(box.openFolder, CanOpenFolders() ? dir_ + "program/out2/" : "");
    form_->Path->SetText("");
    RunProcess();
    box = EndBox();
    EXPECT_EQ(box.folder, "beside each source");
    EXPECT_EQ(box.openFolder, CanOpenFolders() ? dir_ : "");
}

// A cover that lands nowhere and a JPEG cut short are still written, and named.
TEST_F(RunRulesTest, NotesOnCoverOutsideAndCutShortJpeg) {
    Source("a.bmp");
    SaveJpeg(*MakeGradient(64, 48), dir_ + "whole.jpg");
    auto bytes = ReadBytes(dir_ + "whole.jpg");
    bytes.resize(bytes.size() * 2 / 3);
    std::ofstream(dir_ + "cut.jpg", std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    AddSource(dir_ + "cut.jpg");
    RunProcess();
    EXPECT_EQ(EndBox().text,
              "Operation done! All files have been saved successfully.\n"
              "1 JPEG source was cut short: the results hold what could be read.\n" +
                  dir_ + "cut.jpg: cut short, its JPEG data ends early");
    EXPECT_TRUE(FileExists(Out("VMK_cut.bmp")));
    Place(form_->OtherPos, 100, 0);
    RunProcess();
    EXPECT_EQ(EndBox().text,
              "Operation done! All files have been saved successfully.\n"
              "2 pictures show none of the cover: it lies wholly outside.\n"
              "1 JPEG source was cut short: the results hold what could be read.\n" +
                  dir_ + "a.bmp: the cover lies wholly outside the picture\n" + dir_ +
                  "cut.jpg: the cover lies wholly outside the picture; cut short, its JPEG data ends early");
    EXPECT_TRUE(FileExists(Out("VMK_a.bmp")));
}

// The new controls' names, groups and keys.
TEST_F(RunRulesTest, ControlsAreNamedAndGrouped) {
    for (const char* name : {"ExistOverwrite", "ExistSkip", "ExistKeepBoth", "FailStop", "FailGoOn"})
        EXPECT_NE(form_->FindComponent(name), nullptr) << name;
    form_->FailGoOn->SetChecked(true);
    EXPECT_TRUE(form_->ExistOverwrite->GetChecked());  // one group does not touch the other
    EXPECT_FALSE(form_->FailStop->GetChecked());
    form_->ExistKeepBoth->SetChecked(true);
    EXPECT_FALSE(form_->ExistOverwrite->GetChecked());
    EXPECT_TRUE(form_->FailGoOn->GetChecked());
    EXPECT_EQ(RunRulesOf(*form_), (TRunRules{TExisting::KeepBoth, TOnFailure::GoOn}));
}

// Into an empty folder every choice writes the same bytes under the same
// names as the default does, in every format family.
TEST_F(RunRulesTest, EveryChoiceWritesTheDefaultsBytes) {
    Source("a.bmp");
    SaveJpeg(*MakeGradient(40, 30), dir_ + "b.jpg");
    AddSource(dir_ + "b.jpg");
    for (TRadioButton* format : {form_->BMP, form_->JPG, form_->AsIs}) {
        SCOPED_TRACE(format->GetName());
        format->SetChecked(true);
        std::map<std::string, std::vector<uint8_t>> first;
        int run = 0;
        for (TRadioButton* choice : {form_->ExistOverwrite, form_->ExistSkip, form_->ExistKeepBoth}) {
            const std::string out = dir_ + format->GetName() + std::to_string(run++) + "/";
            form_->Path->SetText(out);
            choice->SetChecked(true);
            form_->FailGoOn->SetChecked(run == 2);
            RunProcess();
            EXPECT_EQ(TakeBoxes(), std::vector<std::string>{kDone});
            std::map<std::string, std::vector<uint8_t>> files;
            for (const std::string& name : Names(out)) files[name] = ReadBytes(out + name);
            if (first.empty()) first = files;
            EXPECT_EQ(files.size(), 2u);
            EXPECT_TRUE(files == first);
        }
    }
}
