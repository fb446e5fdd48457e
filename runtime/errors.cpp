#include "runtime/errors.h"

#include <string>

namespace dt {
namespace {

struct ThreadErrorState {
    int code = 0;
    std::string file_error_code;
    std::string file_error;
};
thread_local ThreadErrorState g_state;

struct Entry {
    int code;
    const char* text;
};

// Runtime error texts, as the runtime shows them (the trailing blank of 78 is its own).
constexpr Entry kTable[] = {
    {2, "File Not Found"},
    {3, "Path Not Found"},
    {4, "Too Many Open Files"},
    {5, "Access Denied"},
    {8, "Insufficient Memory"},
    {30, "Entry Not Found"},
    {32, "File Is Already Locked"},
    {33, "Record Not Available"},
    {35, "Record Not Found"},
    {36, "Invalid Data File"},
    {37, "File Not Open"},
    {38, "Invalid Key File"},
    {40, "Creates Duplicate Key"},
    {43, "Record Is Already Held"},
    {45, "Invalid Filename"},
    {46, "Key File Must Be Rebuilt"},
    {47, "Invalid Record Declaration"},
    {52, "File Already Open"},
    {54, "No Create Attribute"},
    {56, "LOGOUT Already Active"},
    {57, "Invalid Memo File"},
    {63, "Exclusive Access Required"},
    {64, "Sharing Violation"},
    {75, "Invalid Field Type Descriptor"},
    {76, "Invalid Index String"},
    {78, "Invalid Number Of Parameters "},
    {79, "Unsupported Data Type In File"},
    {80, "Unsupported File Driver Function"},
    {81, "Unknown Error Posted"},
    {88, "Invalid Key Length"},
    {89, "Record Changed By Another Station"},
    {90, "File System Error"},
    {91, "No Logout Active"},
    {92, "Build In Progress"},
};

}  // namespace

std::string ErrorText(int code) {
    if (code == 0) return {};
    for (const Entry& e : kTable)
        if (e.code == code) return e.text;
    return "Unknown Error " + std::to_string(code);
}

int SetError(int code) {
    g_state.code = code;
    if (code != 90) {
        g_state.file_error_code.clear();
        g_state.file_error.clear();
    }
    return code;
}

int SetFileError(std::string_view file_error_code, std::string_view file_error) {
    return SetErrorState(90, file_error_code, file_error);
}

int SetErrorState(int code, std::string_view file_error_code, std::string_view file_error) {
    g_state.code = code;
    g_state.file_error_code.assign(file_error_code);
    g_state.file_error.assign(file_error);
    return code;
}

int ErrorCode() {
    return g_state.code;
}
std::string Error() {
    return ErrorText(g_state.code);
}
std::string FileErrorCode() {
    return g_state.file_error_code;
}
std::string FileError() {
    return g_state.file_error;
}

}  // namespace dt
