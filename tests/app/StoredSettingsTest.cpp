#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "app/MainForm.h"
#include "compose/StoredSettings.h"
#include "core/Registry.h"
#include "core/TempFolder.h"
#include "output/FormSettings.h"
#include "widgets/Dialogs.h"
#include "widgets/Forms.h"

using namespace vmk;

namespace {

std::string Shown(const TCoverSettings& c, const TOutputSettings& o) {
    return c.CoverFile + "|" + std::to_string(static_cast<int>(c.Place)) + "|" + std::to_string(c.Left) + "," +
           std::to_string(c.Top) + "|" + std::to_string(c.Transparent) + std::to_string(c.AutoDetTrans) + "|" +
           std::to_string(c.TransColor) + "|" + o.Path + "|" + std::to_string(o.Prefix) + o.FileFix + "|" +
           std::to_string(static_cast<int>(o.SaveAs)) + "|" + std::to_string(o.Quality) + "|" +
           std::to_string(c.MarginX) + "," + std::to_string(c.MarginY) + (c.MarginPercent ? "%" : "px") + "|" +
           std::to_string(c.Opacity) + "|" + std::to_string(static_cast<int>(c.Sizing)) + "," +
           std::to_string(c.SizePercent);
}

}  // namespace

// The command line reads a store into the settings the window would run with
// after loading that store: the same names, fallbacks and changes.
TEST(StoredSettings, ReadAsTheWindowLoadsThem) {
    TempFolder temp;
    const std::string store = temp.Path("registry.reg");
    setenv("VELLUMARK_REGISTRY", store.c_str(), 1);
    auto previous = SetModalInterface(std::make_unique<TScriptedModal>());
    Application->Initialize();
    const std::string key = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Quorvex\\VMK]\n";
    const char* stores[] = {
        nullptr,  // no store at all: the first start
        "",       // the key alone: every fallback
        "\"CoverFile\"=\"/c/cover.bmp\"\n\"PosType\"=dword:00000004\n\"CoverLeft\"=dword:fffffff6\n"
        "\"CoverTop\"=dword:7fffffff\n\"Transparent\"=dword:00000000\n\"AutoTrans\"=dword:00000000\n"
        "\"TransColor\"=dword:ff00ff00\n\"Type\"=dword:00000001\n\"JPGQ\"=dword:00000021\n"
        "\"FixType\"=dword:00000001\n\"FileFix\"=\"_x\"\n\"SavePath\"=\"~/out\"\n",
        // Wrong types, numbers no button has, a quality out of range.
        "\"CoverFile\"=dword:00000001\n\"PosType\"=\"3\"\n\"Transparent\"=\"no\"\n\"Type\"=dword:00000009\n"
        "\"JPGQ\"=dword:000000fa\n\"FixType\"=dword:00000002\n\"FileFix\"=dword:00000000\n",
        "\"PosType\"=dword:00000003\n\"Type\"=dword:00000000\n\"JPGQ\"=dword:80000000\n",
        "\"PosType\"=dword:00000001\n\"Type\"=dword:00000002\n\"AutoTrans\"=dword:00000005\n",
        // Each further format, place and size; margins in % and past their ranges.
        "\"Type\"=dword:00000003\n\"CoverAnchor\"=dword:00000002\n\"MarginPercent\"=dword:00000001\n"
        "\"MarginX\"=dword:00000004\n\"MarginY\"=dword:000000c8\n\"Opacity\"=dword:00000046\n"
        "\"CoverSize\"=dword:00000003\n\"SizePercent\"=dword:0000000f\n",
        "\"Type\"=dword:00000004\n\"PosType\"=dword:00000002\n\"CoverAnchor\"=dword:00000005\n"
        "\"MarginX\"=dword:000186a0\n\"MarginY\"=dword:ffffffff\n\"Opacity\"=dword:00000000\n"
        "\"CoverSize\"=dword:00000001\n\"SizePercent\"=dword:00000065\n",
        "\"Type\"=dword:00000005\n\"CoverAnchor\"=dword:00000006\n\"PosType\"=dword:00000003\n"
        "\"CoverSize\"=dword:00000004\n\"Opacity\"=\"70\"\n",
        "\"Type\"=dword:00000006\n\"CoverAnchor\"=dword:00000003\n\"CoverSize\"=dword:00000002\n",
        "\"CoverAnchor\"=dword:00000004\n\"MarginPercent\"=\"yes\"\n\"CoverSize\"=dword:ffffffff\n",
        "\"CoverAnchor\"=dword:00000001\n",
    };
    for (const char* values : stores) {
        SCOPED_TRACE(values ? values : "(none)");
        if (values) WriteWholeFile(store, key + values);
        Application->CreateForm(MainForm);
        const TCoverSettings cover = CoverSettingsOf(*MainForm);
        const TOutputSettings output = OutputSettingsOf(*MainForm);
        Application->DestroyForms();  // saves nothing: the window was never closed
        TRegistry reg(store);
        const TStoredSettings read = ReadStoredSettings(reg);
        // Whole structures, so that a setting added later is compared too.
        EXPECT_TRUE(read.Cover == cover && read.Output == output) << Shown(read.Cover, read.Output) << "\n"
                                                                  << Shown(cover, output);
    }
    SetModalInterface(std::move(previous));
    unsetenv("VELLUMARK_REGISTRY");
}
