#include <QGuiApplication>
#include <clocale>
#include <cstdlib>
#include <gtest/gtest.h>

// Suites that touch widgets need an application object; every suite gets one
// on the offscreen platform so no display is needed.
int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    std::setlocale(LC_ALL, "C.UTF-8");
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
