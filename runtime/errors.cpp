#include "runtime/errors.h"

#include <string>

namespace dt {
namespace {

struct ThreadErrorState {
    ErrCode code = ErrNone;
    std::string file_error_code;
    std::string file_error;
};
thread_local ThreadErrorState g_state;

struct Entry {
    ErrCode code;
    const char* text;
};

// Runtime error texts, as the runtime shows them, from the one table of codes.
constexpr Entry kTable[] = {
#define DT_ERROR_CODE(name, number, text) {name, text},
#include "runtime/error_codes.def"
#undef DT_ERROR_CODE
};

}  // namespace

std::string ErrorText(int code) {
    if (code == ErrNone) return {};
    for (const Entry& e : kTable)
        if (e.code == code) return e.text;
    return "Unknown Error " + std::to_string(code);
}

ErrCode SetError(ErrCode code) {
    g_state.code = code;
    if (code != ErrFileSystem) {
        g_state.file_error_code.clear();
        g_state.file_error.clear();
    }
    return code;
}

ErrCode SetFileError(std::string_view file_error_code, std::string_view file_error) {
    return SetErrorState(ErrFileSystem, file_error_code, file_error);
}

ErrCode SetErrorState(ErrCode code, std::string_view file_error_code, std::string_view file_error) {
    g_state.code = code;
    g_state.file_error_code.assign(file_error_code);
    g_state.file_error.assign(file_error);
    return code;
}

void NoteError(ErrCode code) {
    (void)SetError(code);
}

ErrCode ErrorCode() {
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

void ErrorState::Restore() const {
    (void)SetErrorState(code, file_error_code, file_error);
}

}  // namespace dt
