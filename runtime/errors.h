// The runtime error table (code -> text) and the per-thread error state behind
// ERRORCODE(), ERROR(), FILEERRORCODE() and FILEERROR(). Every file statement and queue
// operation leaves its code here; 0 is success.
#pragma once

#include <string>
#include <string_view>

namespace dt {

// The runtime's text for an error code; "" for 0, "Unknown Error <code>" for a code
// outside the table.
std::string ErrorText(int code);

// Sets the calling thread's error code (and clears the file error pair unless the code
// is 90). Returns the code, so callers can write `return SetError(33);`.
int SetError(int code);
// Sets error 90 with the driver's file error pair (five-character state and message).
int SetFileError(std::string_view file_error_code, std::string_view file_error);
// Sets any code together with a file error pair (the driver keeps the pair for 90 only,
// but tests and the framework can restore a captured state this way).
int SetErrorState(int code, std::string_view file_error_code, std::string_view file_error);

int ErrorCode();              // ERRORCODE()
std::string Error();          // ERROR(): the text of ErrorCode()
std::string FileErrorCode();  // FILEERRORCODE()
std::string FileError();      // FILEERROR()

}  // namespace dt
