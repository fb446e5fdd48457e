// The list format string of a list box, parsed: one ListColumn per column, e.g.
// "25L(2)|M~Drive~@s4@161L(2)|M~Desciption~@s39@" gives two columns 25 and 161 dialog units
// wide, left-aligned with an indent of 2, a right border, resizable, headers "Drive" and
// "Desciption", pictures "@s4@" and "@s39@". Pure text processing, no Qt.
//
// A column is: width (digits, dialog units), alignment L, R, C or D (decimal: right) with
// an optional "(indent)", then modifiers in any order:
//   |  right border           M  resizable            _  underline
//   *  colours: after the column's field the source holds four LONGs (text, background,
//      selected text, selected background; -1 = the list's default; 0x00BBGGRR)
//   Y  icon: a LONG after the field (and after the colours) holds the icon number
//   ~header~ with an optional alignment and "(indent)" for the header after it
//   @picture@  the display picture of the field ("@s4@", "@d17B@", "@n13@")
//   #n#   the column shows field n (1-based) of the source; later columns go on from n
//   F Z S(n) T / and other letters of the classic syntax are accepted and ignored.
// Fields are taken from the source in order: each column takes its field, then four more
// with "*", then one more with "Y".
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace dt::ui {

struct ListColumn {
    int width = 0;     // dialog units
    char align = 'L';  // L, R, C or D
    int indent = 0;    // dialog units from the aligned edge
    bool right_border = false;
    bool resizable = false;
    bool underline = false;
    bool colors = false;  // "*"
    bool icon = false;    // "Y"
    std::string header;   // without the tildes
    char header_align = 'L';
    int header_indent = 0;
    std::string picture;   // without the "@" signs ("s4", "d17B"); "" shows the field as text
    int field = 0;         // 0-based index of the column's field in the source's field list
    int color_field = -1;  // index of the first of the four colour LONGs, -1 when none
    int icon_field = -1;   // index of the icon LONG, -1 when none
};

struct ListFormat {
    std::vector<ListColumn> columns;
    int fields_used = 0;  // number of source fields the columns consume
};

// Parses a list format. Returns true and fills out; on malformed text returns false and
// sets *error (when given) to a message naming the position. An empty text gives no columns.
bool ParseListFormat(std::string_view text, ListFormat& out, std::string* error = nullptr);

// Writes a list format back as text (used when column widths change): the same syntax,
// in a normalised order of modifiers.
std::string ListFormatText(const ListFormat& f);

}  // namespace dt::ui
