// The runtime error table (code -> text) and the per-thread error state behind
// ERRORCODE(), ERROR(), FILEERRORCODE() and FILEERROR(). Every file statement and queue
// operation leaves its code here; ErrNone (0) is success.
//
// ErrCode is a plain enumeration with an int base, so a code still compares with and
// converts to its number wherever the number is shown or stored; but nothing converts to
// an ErrCode on its own: neither a bare number nor a framework severity (Severity in
// framework/error_interface.h) can be returned where a code is expected.
#pragma once

#include <string>
#include <string_view>

namespace dt {

enum ErrCode : int {
    ErrNone = 0,
#define DT_ERROR_CODE(name, number, text) name = number,
#include "runtime/error_codes.def"
#undef DT_ERROR_CODE
};

// A number that arrives as a plain int (a driver's result, a stored ERRORCODE()) taken as
// the code it is. Any int is kept as it is: a number outside the table stays itself and
// shows as "Unknown Error <n>".
[[nodiscard]] constexpr ErrCode ToErrCode(int number) {
    return static_cast<ErrCode>(number);
}

// The runtime's text for an error code; "" for 0, "Unknown Error <code>" for a code
// outside the table.
[[nodiscard]] std::string ErrorText(int code);

// Sets the calling thread's error code (and clears the file error pair unless the code
// is ErrFileSystem). Returns the code, so callers can write `return SetError(ErrFoo);`.
[[nodiscard]] ErrCode SetError(ErrCode code);
// Sets ErrFileSystem (90) with the driver's file error pair (five-character state and
// message).
[[nodiscard]] ErrCode SetFileError(std::string_view file_error_code, std::string_view file_error);
// Sets any code together with a file error pair (the driver keeps the pair for 90 only,
// but tests and the framework can restore a captured state this way).
[[nodiscard]] ErrCode SetErrorState(ErrCode code, std::string_view file_error_code,
                                    std::string_view file_error);
// Sets the code for a caller that reports it through ERRORCODE() only and returns
// something else (a count, a text).
void NoteError(ErrCode code);

[[nodiscard]] ErrCode ErrorCode();          // ERRORCODE()
[[nodiscard]] std::string Error();          // ERROR(): the text of ErrorCode()
[[nodiscard]] std::string FileErrorCode();  // FILEERRORCODE()
[[nodiscard]] std::string FileError();      // FILEERROR()

// The runtime error state of one moment (code and file error pair), to be put back after
// calls that would overwrite it.
struct ErrorState {
    ErrCode code = ErrorCode();
    std::string file_error_code = FileErrorCode();
    std::string file_error = FileError();
    // Puts the state back.
    void Restore() const;
};

}  // namespace dt
