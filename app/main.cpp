#include <QApplication>
#include <clocale>

#include "app/Program.h"
#include "compose/BatchRun.h"

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    vmk::KeepBatchBuffers();
    // The program takes no arguments: Qt sees only the program's name.
    int qtArgc = argc > 0 ? 1 : 0;
    QApplication platform(qtArgc, argv);
    vmk::InitializeModules();
    const int code = vmk::RunProgram();
    vmk::FinalizeModules();
    return code;
}
