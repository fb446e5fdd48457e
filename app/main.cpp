// drivetrek: the program's entry. "/S" runs an unattended scan of the local drives and
// ends; without a display the windows run offscreen. "--help" and "--version" answer and
// end before anything starts (no window, no file).
#include <cstdio>

#include "app/program.h"

int main(int argc, char** argv) {
    if (int rc = dt::CheckCommandLine(argc, argv, stdout, stderr); rc >= 0) return rc;
    return dt::RunProgram(argc, argv);
}
