#include "framework/browse_manager.h"

#include <algorithm>
#include <cstring>

#include "data/file.h"
#include "data/statements.h"
#include "data/view.h"
#include "framework/file_manager.h"
#include "framework/relation_manager.h"
#include "framework/window_manager.h"
#include "ui/events.h"
#include "ui/window.h"

namespace dt {
namespace {

// Positions the view at a position it made itself under its current order (a list row's,
// or the locator's). RESET refuses only a position of another order, which these never are.
void ResetToOwn(View& view, std::string_view position) {
    (void)view.Reset(position);
}

constexpr std::size_t kPositionSize = 1024;
// A list row and the list's header in dialog units (rows are one line of the font and a
// little spacing).
constexpr LONG kRowHeight = 10;
constexpr LONG kHeaderHeight = 12;

}  // namespace

BrowseManager::BrowseManager() = default;

BrowseManager::~BrowseManager() {
    Kill();
}

int BrowseManager::Init(LONG list_control, STRING<1024>& position, View& view, ListQueueInterface& queue,
                        RelationManager& primary, WindowManager& window) {
    ILC = list_control;
    position_ = position.data;
    LISTQUEUE = &queue;
    WINDOW = &window;
    POPUP = std::make_unique<PopupManager>();
    RETAINROW = 1;
    sort_.clear();
    fields_.clear();
    const int rc = ViewManager::Init(view, primary, &sort_);
    window.AddBrowse(*this, SELECTING);
    return rc;
}

void BrowseManager::AddLocator(EntryLocator& locator) {
    if (SortOrder* so = CurrentOrder(); so != nullptr) so->LOCATOR = &locator;
}

void BrowseManager::AddField(const void* view_field, void* queue_field, std::size_t size) {
    fields_.push_back(FieldPair{view_field, queue_field, size});
}

void BrowseManager::Kill() {
    if (POPUP) {
        if (popup_built_) POPUP->Shutdown();
        POPUP.reset();
    }
    popup_built_ = false;
    ViewManager::Kill();
    LISTQUEUE = nullptr;
    WINDOW = nullptr;
}

// ---------------------------------------------------------------- the list and its window

ui::Window* BrowseManager::UiWindow() {
    if (WINDOW == nullptr) return nullptr;
    auto* port = dynamic_cast<UiWindowPort*>(WINDOW->Port());
    return port != nullptr ? &port->UiWindow() : nullptr;
}

LONG BrowseManager::ListChoice() {
    if (ui::Window* w = UiWindow(); w != nullptr && w->IsOpen()) return w->Choice(ILC);
    return CURRENTCHOICE;
}

void BrowseManager::SetListChoice(LONG row) {
    if (ui::Window* w = UiWindow(); w != nullptr && w->IsOpen()) {
        w->Display(ILC);
        w->SetChoice(ILC, row);
    }
}

bool BrowseManager::ListVisible() {
    if (ui::Window* w = UiWindow(); w != nullptr) return w->IsOpen() && !w->Hidden(ILC) && !w->Hidden(0);
    return true;
}

LONG BrowseManager::VisibleRows() {
    // Without a window to measure, a list of ten rows (the list's designed height).
    constexpr LONG kUnmeasuredRows = 10;
    if (WINDOW == nullptr || WINDOW->Port() == nullptr) return kUnmeasuredRows;
    const LONG h = WINDOW->Port()->ControlRect(ILC).HEIGHT;
    return std::max<LONG>(1, (h - kHeaderHeight) / kRowHeight);
}

void BrowseManager::ShowChoice() {
    const LONG n = LISTQUEUE != nullptr ? static_cast<LONG>(LISTQUEUE->Records()) : 0;
    if (CURRENTCHOICE > n) CURRENTCHOICE = n;
    if (CURRENTCHOICE < 1 && n > 0) CURRENTCHOICE = 1;
    SetListChoice(CURRENTCHOICE);
}

std::string BrowseManager::RowPosition(std::size_t pos) {
    if (LISTQUEUE == nullptr || !LISTQUEUE->Get(pos)) return "";
    return std::string(position_, kPositionSize);
}

bool BrowseManager::GetCurrent() {
    if (LISTQUEUE == nullptr) return false;
    const LONG choice = ListChoice();
    if (choice >= 1) CURRENTCHOICE = choice;
    return CURRENTCHOICE >= 1 && LISTQUEUE->Get(static_cast<std::size_t>(CURRENTCHOICE));
}

long BrowseManager::FindRow(const std::string& position) {
    if (LISTQUEUE == nullptr || Clip(position).empty()) return 0;
    for (std::size_t i = 1, n = LISTQUEUE->Records(); i <= n; ++i)
        if (RowPosition(i) == position) return static_cast<long>(i);
    return 0;
}

// The record just read, through the field pairs, with its view position.
void BrowseManager::CopyRow(const std::string& position) {
    LISTQUEUE->ClearBuffer();
    for (const FieldPair& f : fields_) std::memcpy(f.to, f.from, f.size);
    std::memset(position_, ' ', kPositionSize);
    std::memcpy(position_, position.data(), std::min(position.size(), kPositionSize));
}

// ---------------------------------------------------------------- reading

int BrowseManager::TakeNext() {
    return ViewManager::Next();
}

int BrowseManager::TakePrevious() {
    return ViewManager::Previous();
}

BYTE BrowseManager::RangeChanged() {
    // The range of this program's browses holds no variables of its own to watch.
    return 0;
}

long BrowseManager::Fetch(bool down) {
    if (VIEW == nullptr || LISTQUEUE == nullptr || LASTITEMS < 1) return 0;
    if (QUICKSCAN && ITEMSTOFILL > 1 && PRIMARY != nullptr && PRIMARY->Me != nullptr)
        Send(PRIMARY->Me->TheFile(), "/QUICKSCAN=on");
    std::string boundary;
    const std::size_t n = LISTQUEUE->Records();
    if (n > 0) {
        boundary = RowPosition(down ? n : 1);
        ResetToOwn(*VIEW, boundary);
    }
    bool first = true;
    long added = 0;
    while (ITEMSTOFILL > 0) {
        const int rc = down ? TakeNext() : TakePrevious();
        if (rc != 0) break;
        std::string pos = VIEW->Position();
        pos.resize(kPositionSize, ' ');
        if (first && !boundary.empty() && pos == boundary) {
            first = false;
            continue;
        }
        first = false;
        if (static_cast<LONG>(LISTQUEUE->Records()) >= LASTITEMS) {
            LISTQUEUE->Delete(down ? 1 : LISTQUEUE->Records());
            if (down && CURRENTCHOICE > 1) --CURRENTCHOICE;
        }
        CopyRow(pos);
        LISTQUEUE->Insert(down ? LISTQUEUE->Records() + 1 : 1);
        if (!down && CURRENTCHOICE >= 1) ++CURRENTCHOICE;
        --ITEMSTOFILL;
        ++added;
    }
    if (QUICKSCAN && PRIMARY != nullptr && PRIMARY->Me != nullptr)
        Send(PRIMARY->Me->TheFile(), "/QUICKSCAN=off");
    return added;
}

void BrowseManager::ResetQueue(BYTE keep) {
    if (LISTQUEUE == nullptr || VIEW == nullptr) return;
    if (!ListVisible() && !ACTIVEINVISIBLE) {
        LOADPENDING = 1;
        return;
    }
    LOADED = 1;
    LOADPENDING = 0;
    if (WINDOW != nullptr && WINDOW->Port() != nullptr) WINDOW->Port()->SetBusyCursor(true);
    if (LASTITEMS < 1) LASTITEMS = VisibleRows();
    const LONG choice = ListChoice();
    if (choice >= 1) CURRENTCHOICE = choice;
    if (CURRENTCHOICE == 0) CURRENTCHOICE = 1;

    std::string remembered;
    LONG above = 0;
    if (keep && LISTQUEUE->Records() > 0) {
        if (CURRENTCHOICE > static_cast<LONG>(LISTQUEUE->Records()))
            CURRENTCHOICE = static_cast<LONG>(LISTQUEUE->Records());
        remembered = RowPosition(static_cast<std::size_t>(CURRENTCHOICE));
        if (RETAINROW) above = std::min<LONG>(CURRENTCHOICE - 1, LASTITEMS - 1);
        // Read again from the server (no buffered copy), starting at the current row or
        // the row that took its place.
        VIEW->Set();
        ResetToOwn(*VIEW, remembered);
    } else {
        VIEW->Flush();
        ResetView();
    }
    LISTQUEUE->Free();
    ITEMSTOFILL = LASTITEMS - above;
    Fetch(true);
    long found = FindRow(remembered);
    if (LISTQUEUE->Records() == 0) ResetView();
    const LONG missing = LASTITEMS - static_cast<LONG>(LISTQUEUE->Records());
    if ((ALLOWUNFILLED == 0 && missing > 0) || above > 0) {
        ITEMSTOFILL = std::max<LONG>(missing, above);
        if (LISTQUEUE->Records() == 0) {
            // Nothing at or after the row: the end of the view, read backwards.
            ResetView();
        }
        Fetch(false);
        found = FindRow(remembered);
    }
    if (found > 0)
        CURRENTCHOICE = static_cast<LONG>(found);
    else if (!keep)
        CURRENTCHOICE = 1;
    ShowChoice();
    if (WINDOW != nullptr && WINDOW->Port() != nullptr) WINDOW->Port()->SetBusyCursor(false);
}

void BrowseManager::ResetSort(BYTE force) {
    if (VIEW == nullptr) return;
    if (!OPENED) Open();
    ApplyOrder();
    ApplyRange();
    const std::string order = VIEW->Order(), condition = VIEW->Condition();
    const bool changed = order != filled_order_ || condition != filled_condition_;
    if (!changed && !force && LOADED) return;
    filled_order_ = order;
    filled_condition_ = condition;
    // Rows of another order or filter do not lead back into the view: start from its top.
    ResetQueue(changed ? 0 : 1);
    if (changed) {
        CURRENTCHOICE = LISTQUEUE != nullptr && LISTQUEUE->Records() > 0 ? 1 : 0;
        ShowChoice();
    }
}

// ---------------------------------------------------------------- scrolling and locating

void BrowseManager::ScrollOne(bool down) {
    if (LISTQUEUE == nullptr) return;
    if (LISTQUEUE->Records() == 0) return ResetQueue(0);
    ITEMSTOFILL = 1;
    Fetch(down);
    CURRENTCHOICE = down ? static_cast<LONG>(LISTQUEUE->Records()) : 1;
    ShowChoice();
}

void BrowseManager::ScrollPage(bool down) {
    if (LISTQUEUE == nullptr) return;
    if (LISTQUEUE->Records() == 0) return ResetQueue(0);
    ITEMSTOFILL = LASTITEMS;
    Fetch(down);
    CURRENTCHOICE = down ? static_cast<LONG>(LISTQUEUE->Records()) : 1;
    ShowChoice();
}

void BrowseManager::ScrollEnd(bool bottom) {
    if (LISTQUEUE == nullptr || VIEW == nullptr) return;
    if (LASTITEMS < 1) LASTITEMS = VisibleRows();
    VIEW->Flush();
    ResetView();
    LISTQUEUE->Free();
    ITEMSTOFILL = LASTITEMS;
    Fetch(!bottom);
    CURRENTCHOICE = bottom ? static_cast<LONG>(LISTQUEUE->Records()) : 1;
    ShowChoice();
}

bool BrowseManager::Locate(std::string_view text) {
    SortOrder* so = CurrentOrder();
    if (so == nullptr || so->LOCATOR == nullptr || VIEW == nullptr || LISTQUEUE == nullptr) return false;
    const std::string position = VIEW->LocatePosition(so->LOCATOR->FIELDLABEL, text);
    if (position.empty()) return false;
    if (LASTITEMS < 1) LASTITEMS = VisibleRows();
    ResetToOwn(*VIEW, position);
    LISTQUEUE->Free();
    ITEMSTOFILL = LASTITEMS;
    Fetch(true);
    // The located row is the first one read; near the end the list fills upwards.
    const std::string located = RowPosition(1);
    if (LISTQUEUE->Records() == 0) ResetView();
    const LONG missing = LASTITEMS - static_cast<LONG>(LISTQUEUE->Records());
    if (ALLOWUNFILLED == 0 && missing > 0) {
        ITEMSTOFILL = missing;
        Fetch(false);
    }
    const long found = FindRow(located);
    CURRENTCHOICE = found > 0 ? static_cast<LONG>(found) : static_cast<LONG>(LISTQUEUE->Records());
    ShowChoice();
    return true;
}

// ---------------------------------------------------------------- requests and the popup

void BrowseManager::Ask(BYTE request) {
    if (WINDOW == nullptr) return;
    if (WINDOW->Port() != nullptr && WINDOW->Port()->KeyCode() == 130) WINDOW->Port()->SetKeyCode(0);
    if (ASKPROCEDURE == 0) return;
    if (request == RequestInsert && PrimeRecord() != 0) return;
    if (request != RequestInsert && !GetCurrent()) return;
    WINDOW->RunRelated(ASKPROCEDURE, request);
    ResetSort(1);
}

void BrowseManager::BuildPopup() {
    if (popup_built_ || !POPUP || WINDOW == nullptr || WINDOW->Port() == nullptr) return;
    POPUP->Startup(*WINDOW->Port());
    popup_built_ = true;
    POPUP->AddMenu(
        "!&Insert&Insert|!&Change&Change|!&Delete&Delete|!&View|!&Print|-|!&Query|!&Select&Select|!&Toolbox");
    const struct {
        const char* name;
        LONG control;
    } items[] = {{"InsertInsert", INSERTCONTROL}, {"ChangeChange", CHANGECONTROL},
                 {"DeleteDelete", DELETECONTROL}, {"View", VIEWCONTROL},
                 {"Print", PRINTCONTROL},         {"Query", QUERYCONTROL},
                 {"SelectSelect", SELECTCONTROL}, {"Toolbox", TOOLCONTROL}};
    for (const auto& it : items) {
        if (it.control != 0) {
            POPUP->AddItemMimic(it.name, static_cast<SHORT>(it.control));
            continue;
        }
        // No such button: the item keeps its own text (without the "take the control's
        // text" mark) and is shown disabled.
        POPUP->SetItemEnable(it.name, false);
        const std::size_t pos = POPUP->ItemExists(it.name);
        if (pos != 0 && POPUP->POPUPITEMS->Get(pos) == 0 &&
            POPUP->POPUPITEMS->TEXT.View().rfind('!', 0) == 0) {
            const std::string text(POPUP->POPUPITEMS->TEXT.View().substr(1));
            POPUP->POPUPITEMS->TEXT = text;
            POPUP->POPUPITEMS->Put();
        }
    }
}

// ---------------------------------------------------------------- window component

void BrowseManager::Discard() {
    Close();
    if (POPUP && popup_built_) {
        POPUP->Shutdown();
        popup_built_ = false;
    }
}

void BrowseManager::Refresh(BYTE force) {
    if (LOADPENDING && !ListVisible() && !ACTIVEINVISIBLE) return;
    const bool need = force || NEEDREFRESH || !LOADED || LOADPENDING;
    NEEDREFRESH = 0;
    if (need) ResetSort(force);
}

BYTE BrowseManager::NeedsRefresh() {
    return NEEDREFRESH;
}

void BrowseManager::ArmAlerts() {
    if (WINDOW == nullptr || WINDOW->Port() == nullptr) return;
    WINDOW->Port()->Alert(ui::key::MouseLeft2, ILC);
    WINDOW->Port()->Alert(ui::key::MouseRightUp, ILC);
    if (ui::Window* w = UiWindow(); w != nullptr) w->SetImm(ILC, true);
    BuildPopup();
}

void BrowseManager::SaveToRecord() {
    if (GetCurrent()) {
        // The selected row's values back into the view's fields.
        for (const FieldPair& f : fields_) std::memcpy(const_cast<void*>(f.from), f.to, f.size);
    }
}

void BrowseManager::RepaintWindow() {}

int BrowseManager::HandleEvent(const WindowEvent& e) {
    using ui::Event;
    if (e.event == Event::Sized) {
        const LONG rows = VisibleRows();
        if (rows != LASTITEMS && LOADED) {
            LASTITEMS = rows;
            ResetQueue(1);
        }
        return SevQuiet;
    }
    if (e.field == ILC && ILC != 0) {
        switch (e.event) {
            case Event::ScrollUp:
                ScrollOne(false);
                return SevNotify;
            case Event::ScrollDown:
                ScrollOne(true);
                return SevNotify;
            case Event::PageUp:
                ScrollPage(false);
                return SevNotify;
            case Event::PageDown:
                ScrollPage(true);
                return SevNotify;
            case Event::ScrollTop:
                ScrollEnd(false);
                return SevNotify;
            case Event::ScrollBottom:
                ScrollEnd(true);
                return SevNotify;
            case Event::ScrollDrag: {
                // Without a thumb object: the ends go to the ends, above the middle pages
                // down, below pages up.
                ui::Window* w = UiWindow();
                const int pct = w != nullptr ? w->ThumbPercent() : 50;
                if (pct <= 0)
                    ScrollEnd(false);
                else if (pct >= 100)
                    ScrollEnd(true);
                else
                    ScrollPage(pct > 50);
                return SevNotify;
            }
            case Event::NewSelection:
                if (const LONG c = ListChoice(); c >= 1) CURRENTCHOICE = c;
                return SevQuiet;
            case Event::Locate: {
                SortOrder* so = CurrentOrder();
                if (so == nullptr || so->LOCATOR == nullptr) return SevQuiet;
                const LONG code = e.keycode & 0xFF;
                std::string& text = so->LOCATOR->TEXT;
                if (code == ui::key::BackSpace) {
                    if (!text.empty()) text.pop_back();
                } else if (code >= 0x20 && code < 0x7F) {
                    // Letters arrive as their upper-case codes; the locator compares
                    // without regard to case anyway.
                    text += static_cast<char>(code);
                }
                if (!Locate(text) && WINDOW != nullptr && WINDOW->Port() != nullptr) WINDOW->Port()->Beep();
                return SevNotify;
            }
            case Event::AlertKey:
                if (e.keycode == ui::key::MouseRightUp) {
                    if (POPUP && popup_built_) POPUP->Ask();
                    return SevNotify;
                }
                if (e.keycode == ui::key::MouseLeft2 || e.keycode == ui::key::Enter) {
                    GetCurrent();
                    if (SELECTING && SELECTCONTROL != 0 && WINDOW->Port() != nullptr)
                        WINDOW->Port()->PostEvent(Event::Accepted, SELECTCONTROL);
                    else if (CHANGECONTROL != 0 && WINDOW->Port() != nullptr)
                        WINDOW->Port()->PostEvent(Event::Accepted, CHANGECONTROL);
                }
                return SevQuiet;
            default:
                break;
        }
    }
    if (e.event == Event::Accepted && e.field != 0) {
        if (SortOrder* so = CurrentOrder();
            so != nullptr && so->LOCATOR != nullptr && e.field == so->LOCATOR->CONTROL) {
            if (WINDOW != nullptr && WINDOW->Port() != nullptr)
                so->LOCATOR->TEXT = WINDOW->Port()->Text(e.field);
            if (ui::Window* w = UiWindow(); w != nullptr) so->LOCATOR->TEXT = w->Text(e.field);
            Locate(Clip(so->LOCATOR->TEXT));
            return SevQuiet;
        }
        if (e.field == DELETECONTROL) return Ask(RequestDelete), SevNotify;
        if (e.field == CHANGECONTROL) return Ask(RequestChange), SevNotify;
        if (e.field == INSERTCONTROL) return Ask(RequestInsert), SevNotify;
        if (e.field == VIEWCONTROL) return Ask(6), SevNotify;
        if (e.field == TOOLCONTROL && POPUP) {
            POPUP->Toolbox("Browse Actions");
            return SevNotify;
        }
    }
    if (NEEDREFRESH) {
        NEEDREFRESH = 0;
        ResetQueue(1);
    }
    return SevQuiet;
}

}  // namespace dt
