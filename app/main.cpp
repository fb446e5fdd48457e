// drivetrek: the program's entry. "/S" runs an unattended scan of the local drives and
// ends; without a display the windows run offscreen.
#include "app/program.h"

int main(int argc, char** argv) {
    return dt::RunProgram(argc, argv);
}
