#include "framework/error_history.h"

#include <algorithm>

#include "ui/application.h"
#include "ui/list_source.h"
#include "ui/window.h"

namespace dt {

int WindowErrorManager::ShowBox(std::string_view text, std::string_view title, IconRef icon, int buttons,
                                int default_button, LONG) {
    ui::MessageIcon shown = ui::MessageIcon::None;
    if (icon == ICON_EXCLAMATION)
        shown = ui::MessageIcon::Exclamation;
    else if (icon == ICON_QUESTION)
        shown = ui::MessageIcon::Question;
    return ui::Message(text, title, shown, buttons, default_button);
}

int WindowErrorManager::ShowHistoryDialog(std::string_view text, std::string_view title, IconRef icon,
                                          int buttons, int default_button, LONG style) {
    MessageWindow dialog(*this, title, icon, buttons, default_button, style);
    if (dialog.Startup() != SevQuiet) {
        // No window can be opened on this thread: the message still reaches the user.
        dialog.Shutdown();
        return ShowBox(text, title, icon, buttons, default_button, style);
    }
    dialog.EventLoop();
    dialog.Shutdown();
    return dialog.MSGRVAL;
}

// ---------------------------------------------------------------- history dialog

std::string_view ButtonText(int bit) {
    switch (bit) {
        case Button::Ok:
            return "O&k";
        case Button::Yes:
            return "&Yes";
        case Button::No:
            return "&No";
        case Button::Abort:
            return "&Abort";
        case Button::Retry:
            return "&Retry";
        case Button::Ignore:
            return "&Ignore";
        case Button::Cancel:
            return "&Cancel";
        case Button::Help:
            return "&Help";
        default:
            return {};
    }
}

MessageButtonLayout LayoutMessageButtons(int buttons, int default_button) {
    MessageButtonLayout out;
    for (int bit = 128; bit >= 1; bit >>= 1) {
        if (!(buttons & bit)) continue;
        if (bit == default_button) out.default_index = out.MSGBUTTONS;
        out.MSGBUTTONID[out.MSGBUTTONS++] = bit;
    }
    return out;
}

HistoryList::HistoryList(const Queue<ErrorHistoryEntry>& history) : history_(history) {}

ui::ControlDef HistoryList::ListControl(ui::Rect at) const {
    ui::ControlDef list = ui::ListDef(
        kFormat, ui::MakeQueueSource(history_, &ErrorHistoryEntry::TXT, &ErrorHistoryEntry::CATEGORY), at);
    list.label = "?List";
    list.vscroll = true;
    list.hscroll = true;
    return list;
}

void HistoryList::Init(ui::Window& window, int list_field) {
    window_ = &window;
    list_ = list_field;
}

std::size_t HistoryList::RowCount() const {
    return history_.Records();
}

std::string HistoryList::CellText(std::size_t row, int column) const {
    std::string out;
    history_.With(row, [&](const ErrorHistoryEntry& e) {
        if (column == 1)
            out = e.TXT.Str();
        else if (column == 2)
            out = e.CATEGORY.Str();
    });
    return out;
}

void HistoryList::Discard() {
    window_ = nullptr;
}

void HistoryList::Refresh(BYTE force) {
    if (window_ == nullptr) return;
    if (force || shown_version_ != history_.Version()) {
        shown_version_ = history_.Version();
        window_->Display(list_);
    }
}

BYTE HistoryList::NeedsRefresh() {
    return shown_version_ != history_.Version() ? 1 : 0;
}

int HistoryList::HandleEvent(const WindowEvent& event) {
    if (event.event == ui::Event::OpenWindow && window_ != nullptr) {
        // The newest message is the one that opened the dialog: make it current.
        shown_version_ = history_.Version();
        window_->Display(list_);
        if (std::size_t rows = history_.Records(); rows > 0)
            window_->SetChoice(list_, static_cast<int>(rows));
    }
    return SevQuiet;
}

MessageWindow::MessageWindow(ErrorManager& errors, std::string_view caption, IconRef icon, int buttons,
                             int default_button, LONG style)
    : BUTTONTYPES(buttons),
      CAPTION(caption),
      ERR(&errors),
      ICON(icon),
      MSGRVAL(default_button),
      STYLE(style) {}

MessageWindow::~MessageWindow() {
    if (WIN) WIN->Close();
}

int MessageWindow::Startup() {
    if (int rc = WindowManager::Startup(); rc != SevQuiet) return rc;
    const Queue<ErrorHistoryEntry>* history = ERR ? ERR->History() : nullptr;
    if (history == nullptr) return SevNotify;

    const MessageButtonLayout layout = LayoutMessageButtons(BUTTONTYPES, static_cast<int>(MSGRVAL));
    MSGBUTTONS = layout.MSGBUTTONS;
    for (int i = 0; i < 8; ++i) MSGBUTTONID[i] = layout.MSGBUTTONID[i];

    // Dialog units: icon at the left, the list beside it, the buttons in a row below.
    constexpr int kButtonW = 45, kButtonGap = 5, kListX = 28, kListW = 267, kListH = 96;
    const int width = std::max(kListX + kListW + 4, kListX + MSGBUTTONS * (kButtonW + kButtonGap) + 4);
    ui::WindowDef def;
    def.label = "aperror";
    def.title = Clip(CAPTION).empty() ? std::string("Error") : CAPTION;
    def.at = {0, 0, width, kListH + 30};
    def.flags.centered = true;
    def.flags.modal = true;
    HISTORYHANDLER = std::make_unique<HistoryList>(*history);
    for (int i = 0; i < 8; ++i) {
        ui::ControlDef b =
            ui::ButtonDef(i < MSGBUTTONS ? std::string(ButtonText(MSGBUTTONID[i])) : std::string(),
                          {kListX + i * (kButtonW + kButtonGap), kListH + 10, kButtonW, 14});
        b.label = "?Button" + std::to_string(i + 1);
        b.hidden = i >= MSGBUTTONS;
        b.default_button = i == layout.default_index;
        button_fields_[i] = def.Add(std::move(b));
    }
    list_field_ = def.Add(HISTORYHANDLER->ListControl({kListX, 4, kListW, kListH}));
    ui::ControlDef image;
    image.type = ui::ControlType::Image;
    image.label = "?Image";
    image.icon = ICON == ICON_QUESTION ? "question" : "exclamation";
    image.at = {4, 4, 20, 20};
    image_field_ = def.Add(std::move(image));

    WIN = std::make_unique<ui::Window>(std::move(def));
    if (WIN->Open() != 0) {
        WIN.reset();
        return SevNotify;
    }
    SetWindow(*WIN);
    HISTORYHANDLER->Init(*WIN, list_field_);
    AddComponent(*HISTORYHANDLER);
    if (layout.default_index >= 0) FIRSTFIELD = button_fields_[layout.default_index];
    return SevQuiet;
}

int MessageWindow::Shutdown() {
    int rc = WindowManager::Shutdown();
    if (WIN) {
        WIN->Close();
        WIN.reset();
    }
    CAPTION.clear();
    return rc;
}

int MessageWindow::OnAccepted() {
    const LONG control = CurrentEvent().field;
    for (int i = 0; i < MSGBUTTONS; ++i) {
        if (control == button_fields_[i]) {
            MSGRVAL = MSGBUTTONID[i];
            return SevFatal;  // ends the event loop
        }
    }
    return WindowManager::OnAccepted();
}

}  // namespace dt
