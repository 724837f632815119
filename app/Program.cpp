#include "app/Program.h"

#include "app/MainForm.h"
#include "core/Exception.h"
#include "widgets/Forms.h"

namespace vmk {

void InitializeModules() {
    // The file-path list exists already (static initialisation, MainForm.cpp).
    // JPEG: register the format for "jpeg" and "jpg" and fix the default output
    // depth from the screen's colour depth:
    //   RegisterJpegFormat();
    //   TJPEGImage::DisplayDefaults(Screen->GetColorDepth());
    // (call site kept here until the JPEG picture class is in.)
}

void FinalizeModules() {
    // JPEG: UnregisterJpegFormat() here once the JPEG picture class is in.
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
    } catch (const Exception& e) {
        Application->ShowException(e);
        Application->DestroyForms();
    }
    MainForm = nullptr;
    return 0;
}

}  // namespace vmk
