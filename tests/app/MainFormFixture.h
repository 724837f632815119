#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "app/MainForm.h"

// The real main window, shown offscreen, with the scripted user answering every
// modal window and the settings store in a fresh scratch folder.
class MainFormTest : public testing::Test {
protected:
    void SetUp() override {
        scratch = std::filesystem::temp_directory_path() /
                  ("vmk-app-" + std::to_string(::getpid()) + "-" +
                   testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(scratch);
        std::filesystem::create_directories(scratch);
        setenv("VELLUMARK_REGISTRY", (scratch / "registry.reg").c_str(), 1);
        vmk::Application->Initialize();
        vmk::Application->SetTitle(vmk::kApplicationTitle);
        auto scripted = std::make_unique<vmk::TScriptedModal>();
        modal = scripted.get();
        vmk::SetModalInterface(std::move(scripted));
        vmk::FilePaths().Clear();
        form = std::make_unique<vmk::TMainForm>(nullptr);
    }
    void TearDown() override {
        form.reset();
        vmk::FilePaths().Clear();
        vmk::SetModalInterface(nullptr);
        std::filesystem::remove_all(scratch);
    }
    void ShowAt(int width, int height) {
        form->ShowWindow();
        form->SetClientSize(width, height);
        QCoreApplication::processEvents();
    }
    // A file with the given name in the scratch folder.
    std::string Touch(const std::string& name) {
        const auto path = scratch / name;
        std::filesystem::create_directories(path.parent_path());
        FILE* f = std::fopen(path.c_str(), "wb");
        if (f) std::fclose(f);
        return path.string();
    }

    std::filesystem::path scratch;
    vmk::TScriptedModal* modal = nullptr;
    std::unique_ptr<vmk::TMainForm> form;
};
