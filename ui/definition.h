// Window definitions as data: a WindowDef (title, icon, font, rectangle in dialog units,
// flags, status bar zones, timer, minimum and maximum size) holding numbered controls in
// definition order. Field numbers start at 1 and follow the order of Add(); menu
// separators take no number. A control may bind a use variable: a typed pointer to the
// application's field, shown by Window::Display and written back when the user accepts
// the control. Nothing here touches Qt.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "runtime/types.h"
#include "ui/events.h"

namespace dt::ui {

class ListSource;

// Control type codes (Window::Type). The resizer's defaults are keyed on them: 9 button,
// 10 prompt, 14 list, 19 menu, 20 menu item, 37 sheet, 38 tab, 39 panel as the window
// definitions use them; the layer's own kinds fill the other numbers by behaviour:
// single-line controls (8, 15, 16, 34) keep their height, boxes that grow (3, 4, 11, 13,
// 39) follow the window, fixed-size toggles (12, 21) keep their size.
enum class ControlType : int {
    None = 0,
    Text = 3,        // read-only multi-line text
    Region = 4,      // an invisible rectangle (hot area)
    Entry = 8,       // single-line entry with a picture
    Button = 9,      // push button, optionally with an icon
    Prompt = 10,     // label in front of another control
    Image = 11,      // an icon or picture
    Check = 12,      // check box
    Group = 13,      // group box with a caption
    List = 14,       // list box over a ListSource, formatted by a list format string
    Combo = 15,      // drop-down list (a List with Drop set reports Combo's defaults)
    Spin = 16,       // spin box
    Menu = 19,       // menu on the window's menu bar (or a submenu of a menu)
    Item = 20,       // menu item
    Radio = 21,      // radio button
    Separator = 22,  // menu separator (not numbered)
    String = 34,     // single-line display text (a fixed text or a use variable's value)
    Sheet = 37,      // tab sheet holding Tab controls
    Tab = 38,        // one page of a sheet; controls whose parent is the tab sit on it
    Panel = 39,      // a sunken frame drawn behind other controls
};

// Rectangle in dialog units (4 horizontal units = the window font's average character
// width, 8 vertical units = its line height). A width or height of 0 means "default size"
// for the control kind.
struct Rect {
    int x = 0, y = 0, w = 0, h = 0;
    friend bool operator==(const Rect&, const Rect&) = default;
};

// The type of a use variable's storage, matching the runtime's value types.
enum class UseType : int {
    None = 0,
    Byte,     // BYTE (check boxes hold their true/false values in it)
    Short,    // SHORT
    UShort,   // USHORT
    Long,     // LONG (also standard dates and times under a date or time picture)
    ULong,    // ULONG
    Real,     // REAL
    String,   // STRING<n>: n bytes, blank-padded
    CString,  // CSTRING<n>: at most n - 1 bytes and a NUL
    Date,     // packed DATE (shown through its standard date)
    Time,     // packed TIME (shown through its standard time)
    Int64,    // INT64 (file sizes of 4 GiB and more)
};

// A use variable: the address and size of an application field of the given type. The
// field belongs to the application and must outlive the window; the layer reads and
// writes it only on the window's own thread.
struct UseVar {
    UseType type = UseType::None;
    void* ptr = nullptr;
    std::size_t size = 0;
    bool IsSet() const { return ptr != nullptr && type != UseType::None; }
};

// Use(...) makes a UseVar for the runtime's value types.
inline UseVar Use(BYTE& v) {
    return {UseType::Byte, &v, sizeof v};
}
inline UseVar Use(SHORT& v) {
    return {UseType::Short, &v, sizeof v};
}
inline UseVar Use(USHORT& v) {
    return {UseType::UShort, &v, sizeof v};
}
inline UseVar Use(LONG& v) {
    return {UseType::Long, &v, sizeof v};
}
inline UseVar Use(ULONG& v) {
    return {UseType::ULong, &v, sizeof v};
}
inline UseVar Use(INT64& v) {
    return {UseType::Int64, &v, sizeof v};
}
inline UseVar Use(REAL& v) {
    return {UseType::Real, &v, sizeof v};
}
inline UseVar Use(DATE& v) {
    return {UseType::Date, &v, sizeof v};
}
inline UseVar Use(TIME& v) {
    return {UseType::Time, &v, sizeof v};
}
template <std::size_t N>
UseVar Use(STRING<N>& v) {
    return {UseType::String, v.data, N};
}
template <std::size_t N>
UseVar Use(CSTRING<N>& v) {
    return {UseType::CString, v.data, N};
}

// Standard actions a button or menu item carries out by itself after its Accepted event
// (unless the handler cycles the event).
enum class StdAction : int { None = 0, Close };

// One control of a window definition. Only the members that the kind uses matter.
struct ControlDef {
    ControlType type = ControlType::None;
    std::string label;    // the control's name in the code ("SEARCHBUTTON", "?BROWSE:1")
    std::string text;     // caption, prompt, button or menu text; "&" marks the access key
    std::string picture;  // entries and display texts: "s40", "n-14B", "D17", "T4"
    UseVar use;           // bound variable (entries, display texts, check boxes, lists' choice)
    Rect at;              // position and size in dialog units, relative to the window's client area
    int parent = 0;       // field number of the containing menu, sheet or tab (0: the window)

    bool hidden = false;
    bool disabled = false;
    bool password = false;        // entry: typed characters hidden
    bool read_only = false;       // entry: shows but does not edit
    bool default_button = false;  // button: pressed by Enter in the window
    bool imm = false;             // list: scroll events are delivered as they happen
    bool vscroll = false;         // list/text: vertical scroll bar
    bool hscroll = false;         // list/text: horizontal scroll bar
    bool right_align = false;     // entry/string: right-aligned text
    bool checked = false;         // menu item: shown with a check mark
    bool sortable = false;        // list: a click on a column header gives HeaderPressed, and
                                  // the header shows the order the window sets (SetSortIndicator)
    bool multi_select = false;    // list: several rows may be selected (Shift, Ctrl + click)
    bool live_edits = false;      // entry: every change typed gives Edited
    bool elide_middle = false;    // string: a text wider than the control is shown cut in its
                                  // middle ("…") and whole in the control's tip
    int drop = 0;                 // list: number of rows of a drop-down list (0: a plain list)
    StdAction std = StdAction::None;
    std::string icon;   // button, image, window: icon name (see Application::IconNames)
    std::string font;   // font family ("" : the window's); "Arial" etc. map to a sans font
    int font_size = 0;  // points (0: the window's)

    // Check box: the values the use variable takes when checked and unchecked.
    std::string true_value = "1";
    std::string false_value = "0";

    // List: the list format string ("25L(2)|M~Drive~@s4@...") and the data it shows. The
    // source is shared with the application, which keeps the queue it reads.
    std::string format;
    std::shared_ptr<ListSource> from;
    // Keys alerted on this control from the start (key:: codes), e.g. MouseLeft2, Enter.
    std::vector<int> alerts;
};

// Window flags.
struct WindowFlags {
    bool resizable = false;     // sizing border
    bool maximize_box = false;  // maximise button
    bool system_menu = true;    // close box / system menu
    bool centered = false;      // centred on the screen (x and y ignored)
    bool modal = false;         // application-modal
    bool mdi = false;           // accepted and ignored: windows are top-level windows here
    bool status_bar = false;    // a status bar (zones below; one zone when none is given)
    bool no_activate = false;   // shown without taking the focus from the active window
};

struct WindowDef {
    std::string label = "WINDOW";
    std::string title;
    std::string icon;         // icon name (see Application::IconNames); "" : the application icon
    std::string font;         // font family ("MS Sans Serif" and "" : the platform UI font)
    int font_size = 0;        // points (0: the platform UI font's size)
    Rect at{0, 0, 200, 100};  // dialog units; x and y relative to the screen
    WindowFlags flags;
    std::vector<int> status_zones;     // widths of the status bar zones in dialog units; -1: the rest
    int timer = 0;                     // hundredths of a second between Timer events (0: none)
    int min_w = 0, min_h = 0;          // minimum size in dialog units (0: none)
    int max_w = 0, max_h = 0;          // maximum size in dialog units (0: none)
    std::vector<ControlDef> controls;  // definition order; field numbers skip separators

    // Appends a control; returns its field number (0 for a menu separator).
    int Add(ControlDef c);
    // Field number of the control with this label, 0 when there is none.
    int FieldOf(const std::string& label) const;
    // Index in `controls` of field number n, -1 when there is no such field.
    int IndexOf(int field) const;
    // Number of numbered controls.
    int Fields() const;
};

// Shorthands that build the common control kinds (the caller may adjust the result).
ControlDef MenuDef(std::string text, int parent = 0);
ControlDef ItemDef(std::string text, int parent, StdAction std = StdAction::None);
ControlDef SeparatorDef(int parent);
ControlDef PromptDef(std::string text, Rect at);
ControlDef EntryDef(std::string picture, UseVar use, Rect at);
ControlDef StringDef(std::string text, Rect at);                  // fixed text
ControlDef DisplayDef(std::string picture, UseVar use, Rect at);  // shows a variable
ControlDef TextDef(std::string text, Rect at);                    // multi-line, read-only
ControlDef ButtonDef(std::string text, Rect at, std::string icon = {});
ControlDef CheckDef(std::string text, UseVar use, Rect at);
ControlDef ListDef(std::string format, std::shared_ptr<ListSource> from, Rect at);
ControlDef SheetDef(Rect at);
ControlDef TabDef(std::string text, int sheet);
ControlDef PanelDef(Rect at);

}  // namespace dt::ui
