#include "app/Program.h"

#include "app/MainForm.h"
#include "core/Exception.h"
#include "imaging/Jpeg.h"
#include "imaging/PictureFormats.h"
#include "widgets/Forms.h"

namespace vmk {

void InitializeModules() {
    // The file-path list exists already (static initialisation, MainForm.cpp).
    // JPEG: the default output depth follows the screen's colour depth, then
    // the class is registered for "jpeg" and "jpg".
    RegisterJpegFormat(Screen->GetColorDepth());
    RegisterPictureFormats();
}

void FinalizeModules() {
    UnregisterPictureFormats();
    UnregisterJpegFormat();
}

int RunProgram(const std::function<void()>& run) {
    try {
        Application->Initialize();
        Application->SetTitle(kApplicationTitle);
        Application->CreateForm(MainForm);
        if (run) {
            if (Application->GetMainForm()) Application->GetMainForm()->ShowWindow();
            run();
            Application->DestroyForms();
        } else {
            Application->Run();
        }
    } catch (const std::exception& e) {
        // Any failure, not only ours: a failure is shown rather than ending the
        // program without a word.
        Application->ShowException(e);
        Application->DestroyForms();
    }
    MainForm = nullptr;
    return 0;
}

}  // namespace vmk
