// The error manager with windows: WindowErrorManager shows the error manager's boxes
// through the window layer's message box and its history dialog as a MessageWindow (an
// icon, the list of shown messages, up to eight buttons). Programs and tests that have no
// window use ErrorManager (framework/error_manager.h) alone.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "framework/error_manager.h"
#include "framework/window_manager.h"
#include "runtime/queue.h"
#include "runtime/types.h"
#include "ui/definition.h"

namespace dt {

// The error manager of a program with windows: boxes are the window layer's message box,
// and the history dialog (HISTORYVIEWLEVEL) is a MessageWindow; when no window can be
// opened on the calling thread the message is shown as a box instead.
class WindowErrorManager : public ErrorManager {
  public:
    int ShowBox(std::string_view text, std::string_view title, IconRef icon, int buttons, int default_button,
                LONG style) override;
    int ShowHistoryDialog(std::string_view text, std::string_view title, IconRef icon, int buttons,
                          int default_button, LONG style) override;
};

// Text of a button bit in the history dialog ("O&k", "&Yes", ... "&Help"); "" for a value
// that is not one bit of the button set.
std::string_view ButtonText(int bit);

// The buttons of a message dialog: the bits of the button set are visited from 128 down
// to 1 and each set bit takes the next button (index 0 is control 100). MSGBUTTONID holds
// the bit of each shown button; `default_index` is the button whose bit is the default
// (-1 when the default is none of them).
struct MessageButtonLayout {
    int MSGBUTTONS = 0;
    LONG MSGBUTTONID[8] = {};
    int default_index = -1;
};
MessageButtonLayout LayoutMessageButtons(int buttons, int default_button);

// The history dialog's list: two columns, "Message" (217 units, @s255, scrolls sideways)
// and "Category" (42 units, @s255), fed from the history queue, newest row current when
// the window opens. The queue must outlive the component.
class HistoryList final : public WindowComponent {
  public:
    static constexpr const char* kFormat = "217L(2)|M~Message~S(255)@s255@42L(2)|M~Category~@s255@";

    explicit HistoryList(const Queue<ErrorHistoryEntry>& history);
    // The list control of the dialog (definition) showing the queue at `at`.
    ui::ControlDef ListControl(ui::Rect at) const;
    // Binds the component to the window and the list's field number.
    void Init(ui::Window& window, int list_field);

    // Rows (history entries), columns (2) and the text of a cell (row 1-based, column 1
    // Message, 2 Category; "" outside).
    std::size_t RowCount() const;
    int ColumnCount() const { return 2; }
    std::string CellText(std::size_t row, int column) const;

    void Discard() override;
    void Refresh(BYTE force) override;
    BYTE NeedsRefresh() override;
    void ArmAlerts() override {}
    int HandleEvent(const WindowEvent& event) override;
    void SaveToRecord() override {}
    void RepaintWindow() override {}

  private:
    const Queue<ErrorHistoryEntry>& history_;
    ui::Window* window_ = nullptr;
    int list_ = 0;
    unsigned long shown_version_ = 0;
};

// The history dialog ("aperror"): an image (control 300) with the given icon (the
// exclamation icon when none), the history list (control 200) and up to eight buttons
// (controls 100 to 107) laid out by LayoutMessageButtons, the default one focused.
// Pressing a button ends the dialog with its bit in MSGRVAL; closing the window leaves
// the default there. Run it on a runtime thread of the window layer.
class MessageWindow final : public WindowManager {
  public:
    MessageWindow(ErrorManager& errors, std::string_view caption, IconRef icon, int buttons,
                  int default_button, LONG style);
    ~MessageWindow() override;

    int BUTTONTYPES = 0;
    std::string CAPTION;
    ErrorManager* ERR = nullptr;
    IconRef ICON = ICON_NONE;
    std::unique_ptr<HistoryList> HISTORYHANDLER;
    int MSGBUTTONS = 0;
    LONG MSGBUTTONID[8] = {};
    LONG MSGRVAL = 0;  // the default, then the result
    LONG STYLE = 0;
    std::unique_ptr<ui::Window> WIN;

    // Opens the dialog; non-zero (and nothing open) when the window cannot be opened here.
    int Startup() override;
    // Closes the window and frees the caption.
    int Shutdown() override;
    // A button ends the dialog with its bit (result 3).
    int OnAccepted() override;

    // Field numbers of the dialog's controls in the window layer (0 before Startup).
    int ButtonField(int index) const { return index >= 0 && index < 8 ? button_fields_[index] : 0; }
    int ListField() const { return list_field_; }
    int ImageField() const { return image_field_; }

  private:
    int button_fields_[8] = {};
    int list_field_ = 0;
    int image_field_ = 0;
};

}  // namespace dt
