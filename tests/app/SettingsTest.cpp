#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QGuiApplication>
#include <QRect>
#include <QScreen>
#include <climits>
#include <cstdio>
#include <filesystem>

#include "app/MainForm.h"
#include "app/Settings.h"
#include "core/Exception.h"
#include "core/Registry.h"
#include "core/TempFolder.h"
#include "support/FileSizeLimit.h"
#include "widgets/Dialogs.h"
#include "widgets/Forms.h"

using namespace vmk;

namespace {

const std::string kHeader = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Quorvex\\VMK]\n";

TRadioButton* Radio(TMainForm& form, const std::string& name) {
    return dynamic_cast<TRadioButton*>(form.FindComponent(name));
}

// The names of the buttons of a group that are on, joined by "+" ("" when none).
std::string On(TMainForm& form, std::initializer_list<const char*> group) {
    std::string on;
    for (const char* name : group)
        if (Radio(form, name)->GetChecked()) on += (on.empty() ? "" : "+") + std::string(name);
    return on;
}

std::string Position(TMainForm& f) { return On(f, {"LT", "LB", "RT", "RB", "OtherPos"}); }
std::string Format(TMainForm& f) { return On(f, {"BMP", "JPG", "AsIs", "PNG", "WEBP", "TIFF"}); }
std::string Fix(TMainForm& f) { return On(f, {"Prefix", "Suffix"}); }

// The store's text without the window's own values (its size, place and
// page), which depend on the screen; their own tests check them.
std::string WithoutWindow(const std::string& text) {
    std::string out;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        end = end == std::string::npos ? text.size() : end + 1;
        if (text.compare(at, 7, "\"Window") != 0) out += text.substr(at, end - at);
        at = end;
    }
    return out;
}

class SettingsTest : public testing::Test {
protected:
    TempFolder temp;
    std::string store = temp.Path("registry.reg");
    TScriptedModal* modal = nullptr;

    void SetUp() override {
        setenv("VELLUMARK_REGISTRY", store.c_str(), 1);
        auto scripted = std::make_unique<TScriptedModal>();
        modal = scripted.get();
        previous_ = SetModalInterface(std::move(scripted));
        Application->Initialize();
        Application->SetTitle(kApplicationTitle);
    }
    void TearDown() override {
        Application->DestroyForms();
        SetModalInterface(std::move(previous_));
        unsetenv("VELLUMARK_REGISTRY");
    }

    void Seed(const std::string& values) { WriteWholeFile(store, kHeader + values); }
    // A start of the program: the window is made and its FormCreate loads the settings.
    TMainForm& Start() {
        Application->CreateForm(MainForm);
        return *MainForm;
    }
    // The user closes the window: FormClose saves the settings.
    void Close() {
        MainForm->Close();
        Application->DestroyForms();
    }
    std::unique_ptr<TRegistry> Reader() {
        auto reg = std::make_unique<TRegistry>(store);
        reg->SetRootKey(HKEY_LOCAL_MACHINE);
        EXPECT_TRUE(reg->OpenKey("\\Software\\Quorvex\\VMK", false));
        return reg;
    }

private:
    std::unique_ptr<TModalInterface> previous_;
};

// Counts the saves of the store in a folder: each renames a temporary file of
// its own over the store. (Events for the store's own name would be merged by
// the kernel; the temporary files' names all differ.)
class Replacements {
public:
    explicit Replacements(const std::string& folder) {
        fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (fd_ >= 0 && inotify_add_watch(fd_, folder.c_str(), IN_MOVED_FROM) < 0) {
            close(fd_);
            fd_ = -1;
        }
    }
    ~Replacements() {
        if (fd_ >= 0) close(fd_);
    }
    Replacements(const Replacements&) = delete;
    Replacements& operator=(const Replacements&) = delete;
    bool Watching() const { return fd_ >= 0; }
    int Count() {
        alignas(inotify_event) char buffer[4096];
        for (;;) {
            const ssize_t n = read(fd_, buffer, sizeof buffer);
            if (n <= 0) return count_;
            for (ssize_t at = 0; at < n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                if (event->len > 0 && std::string(event->name).rfind("vellumark-", 0) == 0) ++count_;
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
    }

private:
    int fd_ = -1;
    int count_ = 0;
};

}  // namespace

TEST_F(SettingsTest, NumbersOutsideTheirEncoding) {
    struct Case {
        const char* stored;  // PosType, Type, FixType, JPGQ as dword digits
        const char* position;
        const char* format;
        const char* fix;
        int quality;
    };
    const Case cases[] = {
        {"00000000 00000000 00000000 00000001", "LT", "BMP", "Prefix", 1},
        {"00000001 00000001 00000001 00000064", "LB", "JPG", "Suffix", 100},
        {"00000002 00000002 00000002 00000000", "RT", "AsIs", "Prefix", 1},
        {"00000003 00000005 00000000 000000fa", "RB", "TIFF", "Prefix", 100},
        {"00000003 00000004 00000000 000000fa", "RB", "WEBP", "Prefix", 100},
        {"00000003 00000006 00000000 000000fa", "RB", "AsIs", "Prefix", 100},
        {"00000004 ffffffff ffffffff 00000032", "OtherPos", "AsIs", "Prefix", 50},
        {"00000007 00000003 00000101 ffffffff", "LT", "PNG", "Prefix", 1},
        {"ffffffff 80000000 7fffffff 7fffffff", "LT", "AsIs", "Prefix", 100},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored);
        const std::string s = c.stored;
        Seed("\"PosType\"=dword:" + s.substr(0, 8) + "\n\"Type\"=dword:" + s.substr(9, 8) +
             "\n\"FixType\"=dword:" + s.substr(18, 8) + "\n\"JPGQ\"=dword:" + s.substr(27, 8) + "\n");
        TMainForm& form = Start();
        EXPECT_EQ(Position(form), c.position);
        EXPECT_EQ(Format(form), c.format);
        EXPECT_EQ(Fix(form), c.fix);
        EXPECT_EQ(form.JPGQuality->GetValue(), c.quality);
        Application->DestroyForms();
    }
}

TEST_F(SettingsTest, BooleansAreOnForAnyNonZeroNumber) {
    Seed("\"Transparent\"=dword:00000002\n\"AutoTrans\"=dword:00000000\n");
    TMainForm& a = Start();
    EXPECT_TRUE(a.CoverTransparent->GetChecked());
    EXPECT_FALSE(a.AutoDetTrans->GetChecked());
    Application->DestroyForms();
    Seed("\"Transparent\"=dword:00000000\n\"AutoTrans\"=dword:80000000\n");
    TMainForm& b = Start();
    EXPECT_FALSE(b.CoverTransparent->GetChecked());
    EXPECT_TRUE(b.AutoDetTrans->GetChecked());
}

// A NUL cannot be part of a path: "pre\0" would send a whole batch into one file
// "pre". Such a text is damaged and takes its fallback.
TEST_F(SettingsTest, TextsHoldingANulTakeTheirFallback) {
    WriteWholeFile(temp.Path("cover"), "BM");
    Seed("\"CoverFile\"=\"" + temp.Path("cover") +
         "\\x00.bmp\"\n\"FileFix\"=\"pre\\x00\"\n"
         "\"SavePath\"=\"/out\\x00/\"\n\"JPGQ\"=dword:00000010\n");
    TMainForm& form = Start();
    EXPECT_EQ(form.CoverFile->GetText(), "");
    EXPECT_EQ(form.FileFix->GetText(), "VMK_");
    EXPECT_EQ(form.Path->GetText(), "");
    EXPECT_EQ(form.JPGQuality->GetValue(), 16);  // the others load as stored
    EXPECT_FALSE(modal->HasBox());
}

// A pipe stored as the cover once hung every later start before the window showed.
TEST_F(SettingsTest, AStoredCoverThatIsAPipeIsPassedOver) {
    const std::string pipe = temp.Path("cover.bmp");
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    Seed("\"CoverFile\"=\"" + pipe + "\"\n");
    TMainForm& form = Start();
    EXPECT_EQ(form.CoverFile->GetText(), pipe);  // kept for the next save
    EXPECT_EQ(form.PreviewCover->GetPicture().GetGraphic(), nullptr);
    EXPECT_FALSE(modal->HasBox());
}

// File names may be any bytes; what the store holds goes back to it unchanged.
TEST_F(SettingsTest, TextsThatAreNotUtf8SurviveARestart) {
    const std::string cover = "/pics/caf\xe9/\xff.bmp", fix = "pr\xe9_", path = "/out/\xc3(/";
    Seed("\"CoverFile\"=\"" + cover + "\"\n\"FileFix\"=\"" + fix + "\"\n\"SavePath\"=\"" + path + "\"\n");
    TMainForm& form = Start();
    EXPECT_EQ(form.CoverFile->GetText(), cover);
    Close();
    auto reg = Reader();
    EXPECT_EQ(reg->ReadString("CoverFile"), cover);
    EXPECT_EQ(reg->ReadString("FileFix"), fix);
    EXPECT_EQ(reg->ReadString("SavePath"), path);
}

namespace {

// Puts every control of the table back in its layout state, with no handler
// bound, then binds recorders in place of the handlers.
void RecordHandlers(TMainForm& f, std::vector<std::string>& log) {
    TRadioButton* radios[] = {f.LT, f.LB, f.RT, f.RB, f.OtherPos, f.BMP, f.JPG, f.AsIs, f.Prefix, f.Suffix};
    f.CoverFile->OnChange = nullptr;
    f.CoverLeft->OnChange = nullptr;
    f.CoverTop->OnChange = nullptr;
    f.JPGQuality->OnChange = nullptr;
    f.FileFix->OnChange = nullptr;
    f.Path->OnChange = nullptr;
    f.CoverTransparent->OnClick = nullptr;
    f.AutoDetTrans->OnClick = nullptr;
    for (TRadioButton* r : radios) {
        r->OnClick = nullptr;
        r->SetChecked(false);
    }
    f.CoverFile->SetText("");
    f.CoverLeft->SetValue(0);
    f.CoverTop->SetValue(0);
    f.CoverTransparent->SetChecked(false);
    f.AutoDetTrans->SetChecked(true);
    f.TransColor->SetBrushColor(clWhite);
    f.JPGQuality->SetValue(85);
    f.FileFix->SetText("");
    f.Path->SetText("");

    const auto note = [&log](const std::string& what) {
        return
            [&log, what](TObject* sender) { log.push_back(what + ":" + dynamic_cast<TComponent*>(sender)->GetName()); };
    };
    f.CoverFile->OnChange = note("CoverFileChange");
    for (TRadioButton* r : {f.LT, f.LB, f.RT, f.RB, f.OtherPos}) r->OnClick = note("OtherPosClick");
    for (TRadioButton* r : {f.BMP, f.JPG, f.AsIs}) r->OnClick = note("BMPClick");
    f.CoverTransparent->OnClick = note("CoverTransparentClick");
    f.AutoDetTrans->OnClick = note("AutoDetTransClick");
    f.JPGQuality->OnChange = note("JPGQualityChange");
}

std::string Joined(const std::vector<std::string>& log) {
    std::string out;
    for (const auto& s : log) out += s + " ";
    return out;
}

}  // namespace

TEST_F(SettingsTest, HandlersRunExactlyWhenALoadedValueChangesAControl) {
    TMainForm& form = Start();
    std::vector<std::string> log;

    // Values equal to the layout: only the radio groups, which start with nothing on, change.
    RecordHandlers(form, log);
    Seed(
        "\"CoverFile\"=\"\"\n\"PosType\"=dword:00000000\n\"CoverLeft\"=dword:00000000\n"
        "\"Transparent\"=dword:00000000\n\"AutoTrans\"=dword:00000001\n"
        "\"TransColor\"=dword:00ffffff\n\"Type\"=dword:00000002\n\"JPGQ\"=dword:00000055\n");
    LoadSettings(form);
    EXPECT_EQ(Joined(log), "OtherPosClick:LT BMPClick:AsIs ");

    // Every value different: each handler once, in the order of the values.
    log.clear();
    RecordHandlers(form, log);
    Seed(
        "\"CoverFile\"=\"/x/c.bmp\"\n\"PosType\"=dword:00000004\n\"Transparent\"=dword:00000001\n"
        "\"AutoTrans\"=dword:00000000\n\"Type\"=dword:00000001\n\"JPGQ\"=dword:00000032\n"
        "\"FixType\"=dword:00000001\n");
    LoadSettings(form);
    EXPECT_EQ(Joined(log),
              "CoverFileChange:CoverFile OtherPosClick:OtherPos CoverTransparentClick:CoverTransparent "
              "AutoDetTransClick:AutoDetTrans BMPClick:JPG JPGQualityChange:JPGQuality ");

    // First start: the defaults go in through the controls as well.
    log.clear();
    RecordHandlers(form, log);
    std::filesystem::remove(store);
    LoadSettings(form);
    EXPECT_EQ(Joined(log), "OtherPosClick:LT BMPClick:AsIs CoverTransparentClick:CoverTransparent ");
    EXPECT_EQ(form.FileFix->GetText(), "VMK_");
}

TEST_F(SettingsTest, AFailingHandlerIsShownAndTheLoadGoesOn) {
    TMainForm& form = Start();
    std::vector<std::string> log;
    RecordHandlers(form, log);
    form.CoverFile->OnChange = [](TObject*) { throw EReadError("Bitmap image is not valid"); };
    Seed("\"CoverFile\"=\"/pics/damaged.bmp\"\n\"JPGQ\"=dword:00000021\n");
    LoadSettings(form);
    ASSERT_TRUE(modal->HasBox());
    EXPECT_EQ(modal->TakeBox().text, "Bitmap image is not valid");
    EXPECT_FALSE(modal->HasBox());
    // The path stays, so the next save does not lose it; the values after it still load.
    EXPECT_EQ(form.CoverFile->GetText(), "/pics/damaged.bmp");
    EXPECT_EQ(form.JPGQuality->GetValue(), 33);
}

TEST_F(SettingsTest, SaveWritesTheTwelveValuesInOrder) {
    Replacements saves(temp.Path());
    ASSERT_TRUE(saves.Watching());
    TMainForm& form = Start();
    form.CoverFile->SetText("/home/me/Logo \"1\".bmp");
    form.RB->SetChecked(true);
    form.CoverLeft->SetValue(-15);
    form.CoverTop->SetValue(INT_MIN);
    form.CoverTransparent->SetChecked(false);
    form.AutoDetTrans->SetChecked(true);
    form.TransColor->SetBrushColor(0xFF123456u);
    form.JPG->SetChecked(true);
    form.JPGQuality->SetValue(250);  // the control keeps it at 100
    form.Suffix->SetChecked(true);
    form.FileFix->SetText("");
    form.Path->SetText("/out/");
    Close();
    EXPECT_EQ(WithoutWindow(ReadWholeFile(store)), kHeader +
                                                       "\"CoverFile\"=\"/home/me/Logo \\\"1\\\".bmp\"\n"
                                                       "\"PosType\"=dword:00000003\n"
                                                       "\"CoverLeft\"=dword:fffffff1\n"
                                                       "\"CoverTop\"=dword:80000000\n"
                                                       "\"Transparent\"=dword:00000000\n"
                                                       "\"AutoTrans\"=dword:00000001\n"
                                                       "\"TransColor\"=dword:ff123456\n"
                                                       "\"Type\"=dword:00000001\n"
                                                       "\"JPGQ\"=dword:00000064\n"
                                                       "\"FixType\"=dword:00000001\n"
                                                       "\"FileFix\"=\"\"\n"
                                                       "\"SavePath\"=\"/out/\"\n"
                                                       // The cover's further settings, after them, at their defaults.
                                                       "\"CoverAnchor\"=dword:00000000\n"
                                                       "\"MarginPercent\"=dword:00000000\n"
                                                       "\"MarginX\"=dword:00000000\n"
                                                       "\"MarginY\"=dword:00000000\n"
                                                       "\"Opacity\"=dword:00000064\n"
                                                       "\"CoverSize\"=dword:00000000\n"
                                                       "\"SizePercent\"=dword:00000014\n"
                                                       // The folder choices, at their defaults.
                                                       "\"Subfolders\"=dword:00000000\n"
                                                       "\"KeepSubfolders\"=dword:00000001\n"
                                                       // Run rules, at their defaults.
                                                       "\"Existing\"=dword:00000000\n"
                                                       "\"OnFailure\"=dword:00000000\n"
                                                       // The previews' Fit toggles, window-only.
                                                       "\"FitFiles\"=dword:00000001\n"
                                                       "\"FitCover\"=dword:00000000\n"
                                                       "\"FitSave\"=dword:00000001\n");
    EXPECT_FALSE(modal->HasBox());
    // The first save, key and all, replaces the file once; so does the next.
    EXPECT_EQ(saves.Count(), 1);
    Start().FileFix->SetText("again");
    Close();
    EXPECT_EQ(saves.Count(), 2);
    EXPECT_EQ(Reader()->ReadString("FileFix"), "again");
    EXPECT_EQ(Reader()->ReadString("SavePath"), "/out/");
}

// A store written before the cover's further settings loads them at their
// defaults; chosen ones survive a restart, and a further place keeps the
// stored number of the five older buttons for an older program.
TEST_F(SettingsTest, TheCoversFurtherSettingsFallBackAndSurvive) {
    Seed("\"PosType\"=dword:00000003\n");
    {
        TMainForm& form = Start();
        EXPECT_TRUE(form.RB->GetChecked());
        EXPECT_EQ(form.MarginX->GetValue(), 0);
        EXPECT_EQ(form.MarginY->GetValue(), 0);
        EXPECT_FALSE(form.MarginPercent->GetChecked());
        EXPECT_EQ(form.Opacity->GetValue(), 100);
        EXPECT_TRUE(form.SizeAsIs->GetChecked());
        EXPECT_EQ(form.SizePercent->GetValue(), 20);
        form.BC->SetChecked(true);
        form.MarginPercent->SetChecked(true);
        form.MarginY->SetValue(4);
        form.MarginX->SetValue(7);
        form.Opacity->SetValue(70);
        form.SizeShorter->SetChecked(true);
        form.SizePercent->SetValue(15);
        Close();
    }
    auto reg = Reader();
    EXPECT_EQ(reg->ReadInteger("PosType"), 3);
    EXPECT_EQ(reg->ReadInteger("CoverAnchor"), 2);
    reg.reset();
    TMainForm& form = Start();
    EXPECT_TRUE(form.BC->GetChecked());
    EXPECT_FALSE(form.RB->GetChecked());
    EXPECT_TRUE(form.MarginPercent->GetChecked());
    EXPECT_EQ(form.MarginX->GetValue(), 7);
    EXPECT_EQ(form.MarginY->GetValue(), 4);
    EXPECT_FALSE(form.MarginX->GetEnabled());  // a centred axis
    EXPECT_EQ(form.Opacity->GetValue(), 70);
    EXPECT_TRUE(form.SizeShorter->GetChecked());
    EXPECT_TRUE(form.SizePercent->GetEnabled());
    EXPECT_EQ(form.SizePercent->GetValue(), 15);
    Close();
    // Numbers out of their range come back to it.
    Seed(
        "\"CoverAnchor\"=dword:00000009\n\"Opacity\"=dword:00000000\n\"CoverSize\"=dword:00000007\n"
        "\"SizePercent\"=dword:000000c8\n\"MarginX\"=dword:ffffffff\n");
    TMainForm& again = Start();
    EXPECT_TRUE(again.LT->GetChecked());
    EXPECT_EQ(again.Opacity->GetValue(), 1);
    EXPECT_TRUE(again.SizeAsIs->GetChecked());
    EXPECT_EQ(again.SizePercent->GetValue(), 100);
    EXPECT_EQ(again.MarginX->GetValue(), 0);
}

// An older store has no Fit toggles: they take their defaults, and chosen
// ones survive a restart.
TEST_F(SettingsTest, TheFitTogglesFallBackAndSurvive) {
    Seed("\"PosType\"=dword:00000003\n\"FitSave\"=\"not a number\"\n");
    {
        TMainForm& form = Start();
        EXPECT_TRUE(form.FitFiles->GetChecked());
        EXPECT_FALSE(form.FitCover->GetChecked());
        EXPECT_TRUE(form.FitSave->GetChecked());
        EXPECT_TRUE(form.PreviewFiles->GetFit());
        EXPECT_FALSE(form.PreviewCover->GetFit());
        form.FitFiles->SetChecked(false);
        form.FitCover->SetChecked(true);
        Close();
    }
    TMainForm& form = Start();
    EXPECT_FALSE(form.FitFiles->GetChecked());
    EXPECT_FALSE(form.PreviewFiles->GetFit());
    EXPECT_TRUE(form.FitCover->GetChecked());
    EXPECT_TRUE(form.PreviewCover->GetFit());
    EXPECT_TRUE(form.FitSave->GetChecked());
}

TEST_F(SettingsTest, AGroupWithNothingOnKeepsItsStoredValue) {
    Seed("\"PosType\"=dword:00000002\n\"Type\"=dword:00000000\n\"FixType\"=dword:00000000\n");
    TMainForm& form = Start();
    for (TRadioButton* r :
         {form.LT, form.LB, form.RT, form.RB, form.OtherPos, form.BMP, form.JPG, form.AsIs, form.Prefix, form.Suffix})
        r->SetChecked(false);
    Close();
    auto reg = Reader();
    EXPECT_EQ(reg->ReadInteger("PosType"), 2);
    EXPECT_EQ(reg->ReadInteger("Type"), 0);
    EXPECT_EQ(reg->ReadInteger("FixType"), 1);  // written always: not Prefix means Suffix
}

TEST_F(SettingsTest, AFailedSaveIsShownAndTheWindowStillCloses) {
    const std::string before = kHeader + "\"FileFix\"=\"" + std::string(300, 'x') + "\"\n";
    WriteWholeFile(store, before);
    TMainForm& form = Start();
    // The disk refuses every file above 64 bytes, for root as well.
    {
        const FileSizeLimit limit(64);
        form.Close();
    }
    EXPECT_TRUE(Application->GetTerminated());  // the close went ahead
    ASSERT_TRUE(modal->HasBox());
    const auto box = modal->TakeBox();
    EXPECT_EQ(box.kind, TScriptedModal::Box::Error);
    EXPECT_EQ(box.caption, kApplicationTitle);
    EXPECT_EQ(box.text.rfind("Failed to set data for 'CoverFile'. ", 0), 0u) << box.text;
    EXPECT_FALSE(modal->HasBox());  // one failure for the whole save
    EXPECT_EQ(ReadWholeFile(store), before);
}

TEST_F(SettingsTest, AStoreThatCannotBeCreatedTakesNothingAndSaysNothing) {
    std::filesystem::create_directories(store);  // a folder where the file should be
    TMainForm& form = Start();
    EXPECT_EQ(form.FileFix->GetText(), "VMK_");  // read as a first start
    form.Close();
    EXPECT_TRUE(Application->GetTerminated());
    EXPECT_FALSE(modal->HasBox());
    EXPECT_TRUE(std::filesystem::is_directory(store));
}

TEST_F(SettingsTest, ASetupFileIsReplacedWholeOrNotAtAllAndLeavesTheStoreAlone) {
    TMainForm& form = Start();
    const std::string file = temp.Path("client.reg");
    WriteWholeFile(file, kHeader + "\"Stranger\"=\"from an older set-up\"\n");
    form.FileFix->SetText("c_");
    form.KeepSubfolders->SetChecked(false);
    SaveSettingsToFile(form, file);
    const std::string saved = ReadWholeFile(file);
    EXPECT_EQ(saved.find("Stranger"), std::string::npos);  // replaced, never merged into
    EXPECT_NE(saved.find("\"FileFix\"=\"c_\"\n"), std::string::npos);
    EXPECT_NE(saved.find("\"KeepSubfolders\"=dword:00000000\n"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(store));  // the window's own store is written at close only

    // Where nothing can be made: the error names the file, and no half-made file stays.
    EXPECT_THROW(SaveSettingsToFile(form, temp.Path("missing/x.reg")), EFCreateError);
    EXPECT_THROW(SaveSettingsToFile(form, temp.Path()), EFCreateError);
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(temp.Path())) files += entry.is_regular_file();
    EXPECT_EQ(files, 1);

    // Loaded back into a changed window, as the start-up loads it.
    form.FileFix->SetText("other");
    form.KeepSubfolders->SetChecked(true);
    EXPECT_TRUE(LoadSettingsFromFile(form, file).empty());
    EXPECT_EQ(form.FileFix->GetText(), "c_");
    EXPECT_FALSE(form.KeepSubfolders->GetChecked());
    EXPECT_THROW(LoadSettingsFromFile(form, temp.Path("nothing.reg")), EFOpenError);
    EXPECT_FALSE(modal->HasBox());
    Close();
}

// ---- The window's size, place and page

namespace {
QRect Available() { return QGuiApplication::primaryScreen()->availableGeometry(); }
std::string Hex(int value) {
    char text[16];
    std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(value));
    return text;
}
}  // namespace

TEST_F(SettingsTest, TheWindowReopensWithItsSizePlaceAndPage) {
    TMainForm& form = Start();
    form.ShowWindow();
    const QRect area = Available();
    form.SetPlacement(area.left() + 40, area.top() + 30, 500, 450);
    form.Tabs->SelectByUser(2);
    Close();
    EXPECT_EQ(Reader()->ReadInteger("WindowLeft"), area.left() + 40);
    EXPECT_EQ(Reader()->ReadInteger("WindowTop"), area.top() + 30);
    EXPECT_EQ(Reader()->ReadInteger("WindowWidth"), 500);
    EXPECT_EQ(Reader()->ReadInteger("WindowHeight"), 450);
    EXPECT_EQ(Reader()->ReadInteger("WindowPage"), 2);
    EXPECT_FALSE(Reader()->ReadBool("WindowMaximized"));

    TMainForm& again = Start();
    EXPECT_EQ(again.Tabs->GetPageIndex(), 2);
    const TForm::TPlacement p = again.GetPlacement();
    EXPECT_EQ(p.Left, area.left() + 40);
    EXPECT_EQ(p.Top, area.top() + 30);
    EXPECT_EQ(p.Width, 500);
    EXPECT_EQ(p.Height, 450);
}

TEST_F(SettingsTest, AStoredProcessPageIsCheckedAsAnyOpening) {
    // The page opens through TabsChange: with no pictures, Process is off.
    Seed("\"CoverFile\"=\"/nowhere/cover.bmp\"\n\"WindowPage\"=dword:00000003\n");
    TMainForm& form = Start();
    EXPECT_EQ(form.Tabs->GetPageIndex(), 3);
    EXPECT_FALSE(form.Process->GetEnabled());
}

TEST_F(SettingsTest, AWindowBeyondTheScreenComesBackOntoIt) {
    const QRect area = Available();
    // Partly off the right and bottom edges, and larger than the screen.
    Seed("\"WindowLeft\"=dword:" + Hex(area.right() - 100) + "\n\"WindowTop\"=dword:" + Hex(area.bottom() - 50) +
         "\n\"WindowWidth\"=dword:00002000\n\"WindowHeight\"=dword:00001000\n");
    TMainForm& form = Start();
    const TForm::TPlacement p = form.GetPlacement();
    EXPECT_EQ(p.Width, area.width());
    EXPECT_EQ(p.Height, area.height());
    EXPECT_EQ(p.Left, area.left());
    EXPECT_EQ(p.Top, area.top());
    Close();
    // Left of and above every screen (a screen gone since): centred at its size.
    Seed(
        "\"WindowLeft\"=dword:ffff0000\n\"WindowTop\"=dword:ffff0000\n\"WindowWidth\"=dword:000001f4\n"
        "\"WindowHeight\"=dword:000001c2\n");
    TMainForm& centred = Start();
    const TForm::TPlacement c = centred.GetPlacement();
    EXPECT_EQ(c.Width, 500);
    EXPECT_EQ(c.Left, area.left() + (area.width() - 500) / 2);
    EXPECT_EQ(c.Top, area.top() + (area.height() - 450) / 2);
}

TEST_F(SettingsTest, WindowValuesAnOlderOrDamagedStoreLacksFallBack) {
    // An older store: 600 x 400, centred, the first page.
    Seed("\"FileFix\"=\"x\"\n");
    TMainForm& form = Start();
    TForm::TPlacement p = form.GetPlacement();
    EXPECT_EQ(p.Width, 600);
    EXPECT_EQ(p.Height, 400);
    EXPECT_EQ(p.Left, Available().left() + (Available().width() - 600) / 2);
    EXPECT_EQ(form.Tabs->GetPageIndex(), 0);
    Close();
    // Texts where numbers belong, a page that does not exist, a size of nothing.
    Seed(
        "\"WindowWidth\"=\"wide\"\n\"WindowHeight\"=dword:00000000\n\"WindowPage\"=dword:00000009\n"
        "\"WindowLeft\"=\"x\"\n");
    TMainForm& damaged = Start();
    p = damaged.GetPlacement();
    EXPECT_EQ(p.Width, 600);
    EXPECT_EQ(p.Height, 400);
    EXPECT_EQ(damaged.Tabs->GetPageIndex(), 0);
    Close();
    Seed("\"WindowPage\"=dword:ffffffff\n");
    EXPECT_EQ(Start().Tabs->GetPageIndex(), 0);
}

// Run rules: a store written before them loads to overwrite and stop; chosen
// ones survive a restart; a number that names none falls back.
TEST_F(SettingsTest, RunRulesFallBackAndSurvive) {
    Seed("\"PosType\"=dword:00000001\n");
    {
        TMainForm& form = Start();
        EXPECT_EQ(On(form, {"ExistOverwrite", "ExistSkip", "ExistKeepBoth"}), "ExistOverwrite");
        EXPECT_EQ(On(form, {"FailStop", "FailGoOn"}), "FailStop");
        EXPECT_EQ(form.Process->GetCaption(), kProcessCaption);
        form.ExistKeepBoth->SetChecked(true);
        form.FailGoOn->SetChecked(true);
        Close();
    }
    EXPECT_EQ(Reader()->ReadInteger("Existing"), 2);
    EXPECT_EQ(Reader()->ReadInteger("OnFailure"), 1);
    {
        TMainForm& form = Start();
        EXPECT_EQ(On(form, {"ExistOverwrite", "ExistSkip", "ExistKeepBoth"}), "ExistKeepBoth");
        EXPECT_EQ(On(form, {"FailStop", "FailGoOn"}), "FailGoOn");
        EXPECT_EQ(form.Process->GetCaption(),
                  "Click to Process all Files\r\n\r\n(Existing files are kept: new results get a number)");
        Close();
    }
    Seed("\"Existing\"=dword:00000007\n\"OnFailure\"=\"go-on\"\n");
    TMainForm& form = Start();
    EXPECT_EQ(On(form, {"ExistOverwrite", "ExistSkip", "ExistKeepBoth"}), "ExistOverwrite");
    EXPECT_EQ(On(form, {"FailStop", "FailGoOn"}), "FailStop");
}
