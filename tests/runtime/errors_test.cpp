// The runtime error table and the per-thread error state: the numbers and texts the
// program shows and stores, the file error pair kept for 90 only, numbers outside the
// table. (That a code and a framework severity never stand in for each other is checked
// beside the framework's severities, in tests/framework/file_manager_test.cpp.)
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
#include <type_traits>

#include "runtime/errors.h"

namespace dt {
namespace {

// A bare number does not become a code without saying so (ToErrCode); a code still shows
// and stores as its number.
static_assert(!std::is_convertible_v<int, ErrCode>);
static_assert(std::is_convertible_v<ErrCode, int>);

struct TableLine {
    ErrCode code;
    int number;
    const char* name;
    const char* text;
};

constexpr TableLine kLines[] = {
#define DT_ERROR_CODE(name, number, text) {name, number, #name, text},
#include "runtime/error_codes.def"
#undef DT_ERROR_CODE
};

TEST(ErrorTable, EveryCodeHasItsOwnNumberAndText) {
    std::set<int> numbers;
    for (const TableLine& line : kLines) {
        SCOPED_TRACE(line.name);
        EXPECT_EQ(static_cast<int>(line.code), line.number);
        EXPECT_TRUE(numbers.insert(line.number).second) << "a number used twice";
        EXPECT_NE(line.number, 0) << "0 is success, not a table entry";
        EXPECT_EQ(ErrorText(line.code), line.text);
        EXPECT_NE(ErrorText(line.code), "Unknown Error " + std::to_string(line.number));
    }
    EXPECT_EQ(numbers.size(), 34u) << "a code added or lost: the table is shown and stored by number";
}

// The numbers are what users, logs and stored ERRORCODE() values know: a renumbered or
// reworded line would change what the program shows.
TEST(ErrorTable, NumbersAndTextsThatAreShownStayAsTheyAre) {
    EXPECT_EQ(ErrFileNotFound, 2);
    EXPECT_EQ(ErrAccessDenied, 5);
    EXPECT_EQ(ErrRecordNotAvailable, 33);
    EXPECT_EQ(ErrRecordNotFound, 35);
    EXPECT_EQ(ErrFileNotOpen, 37);
    EXPECT_EQ(ErrInvalidKeyFile, 38);
    EXPECT_EQ(ErrDuplicateKey, 40);
    EXPECT_EQ(ErrUnsupportedFunction, 80);
    EXPECT_EQ(ErrRecordChanged, 89);
    EXPECT_EQ(ErrFileSystem, 90);
    EXPECT_EQ(ErrorText(ErrFileNotOpen), "File Not Open");
    EXPECT_EQ(ErrorText(ErrInvalidParameterCount), "Invalid Number Of Parameters ")
        << "its trailing blank is the runtime's";
    EXPECT_EQ(ErrorText(ErrNone), "");
}

TEST(ErrorTable, ANumberOutsideTheTableKeepsItsValue) {
    const ErrCode odd = ToErrCode(99);
    EXPECT_EQ(odd, 99);
    EXPECT_EQ(ErrorText(odd), "Unknown Error 99");
    EXPECT_EQ(ErrorText(-1), "Unknown Error -1");
}

TEST(ErrorState, TheFileErrorPairIsKeptForCode90Only) {
    EXPECT_EQ(SetFileError("42S02", "no such table"), ErrFileSystem);
    EXPECT_EQ(ErrorCode(), ErrFileSystem);
    EXPECT_EQ(Error(), "File System Error");
    EXPECT_EQ(FileErrorCode(), "42S02");
    EXPECT_EQ(FileError(), "no such table");

    EXPECT_EQ(SetError(ErrFileSystem), ErrFileSystem);
    EXPECT_EQ(FileErrorCode(), "42S02") << "setting 90 again keeps the driver's pair";

    NoteError(ErrRecordNotAvailable);
    EXPECT_EQ(ErrorCode(), ErrRecordNotAvailable);
    EXPECT_EQ(FileErrorCode(), "");
    EXPECT_EQ(FileError(), "");
    NoteError(ErrNone);
}

TEST(ErrorState, AKeptStateComesBackWholeAndEachThreadHasItsOwn) {
    (void)SetErrorState(ErrDuplicateKey, "23000", "duplicate");
    const ErrorState kept;
    (void)SetFileError("HY000", "other");
    int seen_on_other_thread = -1;
    std::thread([&] { seen_on_other_thread = ErrorCode(); }).join();
    EXPECT_EQ(seen_on_other_thread, ErrNone) << "the error state is per thread";
    kept.Restore();
    EXPECT_EQ(ErrorCode(), ErrDuplicateKey);
    EXPECT_EQ(FileErrorCode(), "23000");
    EXPECT_EQ(FileError(), "duplicate");
    NoteError(ErrNone);
}

}  // namespace
}  // namespace dt
