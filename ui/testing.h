// Test hooks of the window layer: drive windows headless, answer message boxes and popup
// menus, read what controls show, and take screenshots. They act through the same paths as
// a user (a click presses the real widget, typing edits the real entry) where a widget
// exists. Callable from any runtime thread or the GUI thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "ui/application.h"
#include "ui/window.h"

namespace dt::ui::testing {

// Sets QT_QPA_PLATFORM=offscreen when it is unset (call before RunApplication).
void EnsureOffscreen();

// Presses a button, toggles a check box, chooses a menu item, or presses Enter on a list,
// as the user would: the widget's own signal produces the event. The window is shown first
// when it has no widgets yet. Returns false when the field cannot be clicked.
bool Click(Window& w, int field);
// Replaces an entry's text as if typed and leaves it (Enter): Accepted follows when the
// text changed. Returns false when the field is no editable entry.
bool Type(Window& w, int field, std::string_view text);
// Types `text` into an entry key by key ("\b" presses Backspace) without leaving it: the
// entry's own editing runs, so an entry with live edits gives Edited per key.
bool TypeKeys(Window& w, int field, std::string_view text);
// Presses a key (key:: code, modifiers allowed) or mouse button on a control: an alerted
// key gives AlertKey, otherwise the control's own handling (Enter on a list: Accepted).
bool PressKey(Window& w, int field, int keycode);

// Clicks the header of list column `column` (1-based) as the user would (the header's own
// signal). False when the field is no list with headers.
bool ClickHeader(Window& w, int field, int column);

// Closes the window through its frame (close box) as the user would: the window's loop
// gets CloseWindow and decides. False when the window has no widgets.
bool CloseBox(Window& w);

// Queues answers (button:: bits) for the next message boxes, in order.
void AnswerMessage(int button);
// Queues answers (entry numbers as Popup returns them; 0 cancels) for the next popups.
void AnswerPopup(int selection);

struct ShownMessage {
    std::string text;  // as given, "|" included
    std::string caption;
    MessageIcon icon = MessageIcon::None;
    int buttons = 0;
    int default_button = 0;
    int answer = 0;
};
// The message boxes shown since the last call (the list is emptied).
std::vector<ShownMessage> TakeShownMessages();
// The popup menu texts shown since the last call (the list is emptied).
std::vector<std::string> TakeShownPopups();
// Forgets queued answers and shown messages and popups.
void ResetAnswers();

// What a control shows now (entry or display text, prompt, button, check box caption, the
// window title for field 0). For a list: the current row as text (cells joined by "\t").
std::string ControlText(Window& w, int field);
// What a zone of the status bar shows now (1-based; the stored text when the window has no
// widgets).
std::string StatusBarText(Window& w, int zone);
// Rows of a list as text, cells formatted through their pictures and joined by "\t"
// (first is 1-based; rows past the end are left out). Reads through the list's own model.
std::vector<std::string> ListRows(Window& w, int field, std::size_t first, std::size_t count);
// What the widget itself displays, which may differ from ControlText: a label, entry or
// text control shows control characters as symbols; a label shortened in its middle gives
// the text as painted; a list gives the displayed cells of row `row` (1-based) joined by
// " | ".
std::string DisplayedText(Window& w, int field, int row = 0);
// Number of rows the list's model shows now.
std::size_t ListRowCount(Window& w, int field);
// Column headers of a list.
std::vector<std::string> ListHeaders(Window& w, int field);

// How one list column's content fits its width, in pixels of the list's font.
struct ColumnFit {
    std::string header;
    int width = 0;          // the column's width now
    int header_needed = 0;  // what the header needs to show its text whole
    std::string widest;     // the widest value the column's picture can show ("" for text)
    int value_needed = 0;   // what that value needs, with the cell's margins and indent
};
// The fit of every column of a list (shows the window first when needed). The widest value
// is found by formatting, through the column's picture, every day of a leap year (dates),
// every minute of a day at its last second (times) or the extremes of the field's type
// (numbers).
std::vector<ColumnFit> ColumnFits(Window& w, int field);

// True when the window has real widgets (a window that was never shown has none).
bool HasWidgets(Window& w);
// True while the window takes no input because a later window's loop runs on its thread.
bool InputBlocked(Window& w);
// Saves a picture of the window (QWidget::grab) as a PNG file. Shows the window first
// when needed. Returns false when the file cannot be written.
bool Screenshot(Window& w, const std::string& png_path);
// True when a control (label, button, entry ...) is at least as wide as it needs to be to
// show its whole text: its size hint's width fits its width.
bool TextFits(Window& w, int field);
// The tooltip of a control ("" when none).
std::string ToolTip(Window& w, int field);
// Pixel rectangle of a control in the window's client area (for checking dialog units).
Rect PixelRect(Window& w, int field);
// The window's own rectangle on the screen, and the primary screen's available area, in pixels.
Rect WindowPixelRect(Window& w);
Rect ScreenPixelRect();
// Dialog unit size in pixels of the window's font, times 1000 (x: width of 1 unit).
int DialogUnitX1000(Window& w);
int DialogUnitY1000(Window& w);

}  // namespace dt::ui::testing
