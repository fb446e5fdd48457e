// Display pictures: how values are shown as text (FORMAT) and read back (DEFORMAT).
//
// A picture may be written with or without a leading "@", with or without the trailing
// "@" of list column formats, in either case ("@d17B@", "D17", "n-14B", "s40", "T4").
//
//   s<n>      text of exactly n bytes: cut (never inside a UTF-8 character), padded with blanks.
//   n...      number, right-aligned in its size:
//             n [$|~cur~] [-|(] [0|_|*] size [grouping] [.|`|v places] [-|)] [$|~cur~] [B]
//             "-" or "(" admit negative values ("(" needs a trailing ")"; a trailing "-"
//             alone puts the sign after the digits). Fill "0" pads with zeros and "*"
//             with asterisks; "0" and "_" also switch grouping off. Without them the
//             integer digits are grouped by thousands with "," (or with "." or a blank
//             when "." or "_" follows the size). Places after "." (decimal point "."),
//             "`" (decimal comma) or "v" (implied, no character). Values are rounded half
//             away from zero at the last place, computed on 15 significant digits.
//             "@n13" of 1234567 is "    1,234,567". A value that does not fit its size,
//             and a negative value under a picture that does not admit negatives, shows
//             as size "#" characters (never as a different number). A size of 0 (or none)
//             means "as wide as needed". B: a value that rounds to zero shows as size blanks.
//   d[0]k[s][B]  standard date in format k = 1 .. 20 (templates below); 17 and 18 follow
//             the regional sShortDate and sLongDate. "Mm"/"Dd": the leading digit is a
//             blank when it would be zero ("0" after the letter makes it a zero: "@d01").
//             s replaces the separator "/": "." "-" "_" (blank) or "`" (comma).
//   t[0]k[s][B]  standard time in format k = 1 .. 8. "Hh": 12-hour clock, leading blank.
//             7 is the regional short time (hours and minutes), 8 the regional long time
//             (hours, minutes and seconds): iTime picks the 12- or 24-hour clock, iTLzero
//             the hour's leading zero, sTime the separator; a 12-hour time ends with a
//             blank and s1159/s2359. s replaces the separator ":". Hundredths are not shown.
//   P...P[B]  pattern: "#" a digit, "<" a digit shown as a blank while only zeros came
//             before it, every other character as it stands. "P####P" of 7 is "0007".
//             Values are rounded to whole numbers; a negative value or one with more
//             digits than the pattern holds fills the digit positions with "#"
//             ("P####P" of 12345 is "####"). B: zero shows as blanks.
//
// Date templates: 1 "Mm/dd/yy", 2 "Mm/dd/yyyy", 3 "NNN Dd, yyyy", 4 "NNNNNNNNN Dd, yyyy",
// 5 "Dd/mm/yy", 6 "Dd/mm/yyyy", 7 "Dd NNN yy", 8 "Dd NNN yyyy", 9 "yy/mm/dd", 10 "yyyy/mm/dd",
// 11 "yymmdd", 12 "yyyymmdd", 13 "Mm/yy", 14 "Mm/yyyy", 15 "yy/mm", 16 "yyyy/mm",
// 19 "Dd NNNNNNNNN yyyy", 20 "NNNNNNNNN Dd yyyy"; NNN is "Jan" .. "Dec", NNNNNNNNN the full
// name (not padded). Time templates: 1 "hh:mm", 2 "hhmm", 3 "Hh:mmPP", 4 "hh:mm:ss",
// 5 "hhmmss", 6 "Hh:mm:ssPP" (PP is s1159 or s2359).
//
// Zero dates and times: date 0 means "no date" and time 0 "no time"; they format as an
// empty text with or without B (showing midnight or a day in 1800 would be a wrong value),
// and so does a value outside the valid range. Time 1 is midnight ("00:00").
//
// A picture that is none of these forms formats the value as plain text (a number in its
// shortest decimal form) and reads text back as a plain number.
//
// Reading back: blank text is 0 (no date, no time, zero). Dates accept a blank or a zero
// as the leading digit, any punctuation where the picture has some, month names by a
// prefix of at least three letters in any case, and two-digit years (also in a
// four-digit year position) through the two-digit-year window of runtime/stddate.h.
// Times accept a missing seconds or AM/PM part; a written time of midnight reads as 1.
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "runtime/types.h"

namespace dt {

// Outcome of a conversion: success, or the reason it failed naming the input and picture.
struct [[nodiscard]] ConvertStatus {
    bool ok = true;
    std::string message;

    explicit operator bool() const { return ok; }
    static ConvertStatus Ok() { return {}; }
    static ConvertStatus Fail(std::string why) { return {false, std::move(why)}; }
};

enum class PictureKind { Unknown, Text, Number, Date, Time, Pattern };

// What a picture text is, and the width of its output where that is fixed (text, number
// and pattern pictures; 0 otherwise). Never fails: an unreadable picture is Unknown.
struct PictureInfo {
    PictureKind kind = PictureKind::Unknown;
    int width = 0;
    int format = 0;  // the k of dates and times
    bool blank_when_zero = false;
};
PictureInfo DescribePicture(std::string_view picture);

// FORMAT of a number: a number picture, a standard date, a standard time or a pattern.
// Under a text picture the number's plain text is cut or padded. Never fails.
std::string Format(double value, std::string_view picture);

// FORMAT of a text: cut and padded under a text picture. Under another picture a text
// that is a plain number is formatted as that number; any other text is returned as is.
std::string Format(std::string_view text, std::string_view picture);

// DEFORMAT into a number (the standard date or time for date and time pictures). On
// failure `out` is left unchanged and the status says why.
ConvertStatus TryDeformat(std::string_view text, std::string_view picture, double& out);

// DEFORMAT into a LONG: the number rounded half away from zero; fails as well when it
// lies outside the LONG range.
ConvertStatus TryDeformat(std::string_view text, std::string_view picture, LONG& out);

// DEFORMAT into text: under a text picture the text itself (cut to the picture's size);
// under the others the value read back, written as a plain number ("1234567").
ConvertStatus TryDeformat(std::string_view text, std::string_view picture, std::string& out);

}  // namespace dt
