#include <gtest/gtest.h>
#include <clocale>
#include <cstdlib>
#include <memory>

// Suites that build widgets get a widget application, the others a GUI one; all
// on the offscreen platform, so no display is needed.
#if __has_include(<QApplication>)
#include <QApplication>
using TestApplication = QApplication;
#else
#include <QGuiApplication>
using TestApplication = QGuiApplication;
#endif

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    std::setlocale(LC_ALL, "C.UTF-8");
    testing::InitGoogleTest(&argc, argv);
    int qtArgc = 1;
    TestApplication app(qtArgc, argv);
    return RUN_ALL_TESTS();
}
