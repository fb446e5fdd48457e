#include "framework/popup_manager.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <vector>

#include "ui/application.h"
#include "ui/window.h"

namespace dt {

namespace {

constexpr std::size_t kMaxMenuText = 10000;

bool IsSeparator(std::string_view text) {
    return text == "-";
}

bool IsNameChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

// Item texts go into the menu text as they are, except the characters that structure it:
// a "|", "{" or "}" inside a text would split or nest entries and shift the numbering of
// every entry after it, so a choice would map to the wrong item.
void AppendText(std::string& out, std::string_view text) {
    for (char c : text)
        if (c != '|' && c != '{' && c != '}') out += c;
}

}  // namespace

// The toolbox window's thread and what it shares with the owning thread.
struct PopupManager::ToolboxState {
    std::mutex mutex;
    std::condition_variable finished;
    bool running = false;
    bool stop = false;
    ui::Window* window = nullptr;  // the open toolbox window, while running
    int thread = 0;                // its thread, while running
};

PopupManager::PopupManager() = default;

PopupManager::~PopupManager() {
    Shutdown();
}

void PopupManager::Startup(WindowPort& window) {
    POPUPITEMS = std::make_unique<Queue<PopupItem>>();
    PARENTWINDOW = &window;
    MYTHREAD = ui::ThreadId();
    LASTSELECTION.Clear();
}

void PopupManager::Shutdown() {
    if (toolbox_) {
        std::unique_lock lock(toolbox_->mutex);
        toolbox_->stop = true;
        if (toolbox_->window != nullptr) toolbox_->window->Post(Event::CloseWindow);
        // The toolbox thread reads the items: it must be gone before they are disposed.
        // Bounded, so that a layer that no longer runs threads cannot hang the shutdown.
        toolbox_->finished.wait_for(lock, std::chrono::seconds(10), [this] { return !toolbox_->running; });
        if (toolbox_->running) return;  // leave the items to the still running thread
    }
    POPUPITEMS.reset();
    PARENTWINDOW = nullptr;
}

std::size_t PopupManager::ItemExists(std::string_view name) {
    if (!POPUPITEMS) return 0;
    for (std::size_t i = 1, n = POPUPITEMS->Records(); i <= n; ++i) {
        bool same = false;
        POPUPITEMS->With(i, [&](const PopupItem& item) { same = item.NAME.View() == name; });
        if (same) return i;
    }
    return 0;
}

std::size_t PopupManager::GetItems() {
    return POPUPITEMS ? POPUPITEMS->Records() : 0;
}

std::string PopupManager::GetLastSelection() {
    std::lock_guard lock(mutex_);
    return LASTSELECTION.Str();
}

std::string PopupManager::MakeName(std::string_view text) {
    std::string base;
    if (IsSeparator(text)) {
        base = "Separator";
    } else {
        for (char c : text)
            if (IsNameChar(c)) base += c;
        // A text without a single name character would give the empty name, which Ask
        // returns for "nothing chosen": such items are named "Item" instead.
        if (base.empty()) base = "Item";
    }
    // Room for the appended number inside NAME.
    base.resize(Utf8CutLength(base, PopupItem{}.NAME.size() - 1 - 10));
    if (ItemExists(base) == 0) return base;
    for (unsigned long k = 1;; ++k) {
        std::string candidate = base + std::to_string(k);
        if (ItemExists(candidate) == 0) return candidate;
    }
}

std::string PopupManager::AddItem(std::string_view text, std::size_t position, USHORT depth) {
    if (!POPUPITEMS) return {};
    PopupItem item{};
    std::string name = MakeName(text);
    item.NAME = name;
    std::string_view rest = text;
    if (!IsSeparator(rest)) {
        while (!rest.empty() && (rest[0] == '~' || rest[0] == '+' || rest[0] == '-')) {
            if (rest[0] == '~') item.DISABLED = 1;
            if (rest[0] == '+') item.CHECK = 1;
            if (rest[0] == '-') item.CHECK = 2;
            rest.remove_prefix(1);
        }
    }
    item.TEXT = rest;
    const std::size_t count = POPUPITEMS->Records();
    if (depth == 0) {
        std::size_t at = (position == 0 || position > count) ? count : position;
        depth = 1;
        if (at != 0) POPUPITEMS->With(at, [&](const PopupItem& e) { depth = e.DEPTH; });
    }
    item.DEPTH = depth;
    POPUPITEMS->Buffer() = item;
    if (position == 0 || position >= count)
        POPUPITEMS->Add();
    else
        POPUPITEMS->Add(position + 1);
    return name;
}

int PopupManager::AddMenu(std::string_view text, std::size_t after) {
    if (!POPUPITEMS) return 0;
    int depth = 1;
    std::size_t position = 0;
    if (after == 0) {
        POPUPITEMS->Free();
    } else {
        position = after;
        POPUPITEMS->With(after, [&](const PopupItem& e) { depth = e.DEPTH; });
    }
    int added = 0;
    std::string token;
    auto flush = [&] {
        if (!Clip(token).empty()) {
            AddItem(token, position, USHORT(depth < 1 ? 1 : depth));
            if (position != 0) ++position;
            ++added;
        }
        token.clear();
    };
    for (char c : text) {
        if (c == '|') {
            flush();
        } else if (c == '{') {
            flush();
            ++depth;
        } else if (c == '}') {
            flush();
            if (depth > 1) --depth;
        } else {
            token += c;
        }
    }
    flush();
    return added;
}

int PopupManager::AddSubMenu(std::string_view text, std::string_view submenu, std::size_t after) {
    std::string menu(Clip(text));
    menu += '{';
    menu += Clip(submenu);
    menu += '}';
    return AddMenu(menu, after);
}

std::string PopupManager::AddItemEvent(std::string_view name_or_text, USHORT event, SHORT control) {
    if (!POPUPITEMS) return {};
    std::size_t pos = ItemExists(name_or_text);
    if (pos == 0) {
        AddItem(name_or_text);
        pos = POPUPITEMS->Records();
    }
    POPUPITEMS->Get(pos);
    POPUPITEMS->CONTROLID = control;
    POPUPITEMS->EVENT = event;
    POPUPITEMS->MIMICMODE = 0;
    POPUPITEMS->ONTOOLBOX = 1;
    POPUPITEMS->Put();
    return POPUPITEMS->NAME.Str();
}

std::string PopupManager::AddItemMimic(std::string_view name_or_text, SHORT control) {
    std::string name = AddItemEvent(name_or_text, 0, control);
    if (std::size_t pos = ItemExists(name); pos != 0) {
        POPUPITEMS->Get(pos);
        POPUPITEMS->MIMICMODE = 1;
        POPUPITEMS->Put();
    }
    return name;
}

void PopupManager::SetItemEnable(std::string_view name, bool enabled) {
    std::size_t pos = ItemExists(name);
    if (pos == 0) return;
    POPUPITEMS->Get(pos);
    if (IsSeparator(POPUPITEMS->TEXT.View())) return;
    POPUPITEMS->DISABLED = enabled ? 2 : 1;
    POPUPITEMS->Put();
}

void PopupManager::SetToolbox(std::string_view name, bool on) {
    std::size_t pos = ItemExists(name);
    if (pos == 0) return;
    POPUPITEMS->Get(pos);
    POPUPITEMS->ONTOOLBOX = on ? 1 : 0;
    POPUPITEMS->Put();
}

void PopupManager::DeleteItem(std::string_view name) {
    std::size_t pos = ItemExists(name);
    if (pos == 0) return;
    POPUPITEMS->Get(pos);
    POPUPITEMS->Delete();
}

bool PopupManager::EffectiveDisabled(const PopupItem& item, bool live) {
    if (item.DISABLED == 1) return true;
    if (item.DISABLED == 2) return false;
    if (!item.MIMICMODE || item.CONTROLID == 0 || PARENTWINDOW == nullptr) return false;
    // 0 follows the bound control each time, so the item tracks the control's state
    // rather than freezing the state it had at the first menu. Only the owning thread may
    // ask its window; the toolbox thread uses the state seen there last.
    std::lock_guard lock(mutex_);
    if (live) control_disabled_[item.CONTROLID] = PARENTWINDOW->Disabled(item.CONTROLID);
    return control_disabled_[item.CONTROLID];
}

void PopupManager::Mimic() {
    if (!POPUPITEMS || PARENTWINDOW == nullptr) return;
    for (std::size_t i = 1, n = POPUPITEMS->Records(); i <= n; ++i) {
        POPUPITEMS->Get(i);
        if (!POPUPITEMS->MIMICMODE || POPUPITEMS->CONTROLID == 0) continue;
        std::string text = POPUPITEMS->TEXT.Str();
        std::string control_text = PARENTWINDOW->Text(POPUPITEMS->CONTROLID);
        if (!control_text.empty() && (text.empty() || text[0] == '!')) text = control_text;
        if (!text.empty() && text[0] == '!') text.erase(0, 1);
        POPUPITEMS->TEXT = text;
        if (POPUPITEMS->ICON.View().empty()) POPUPITEMS->ICON = PARENTWINDOW->Icon(POPUPITEMS->CONTROLID);
        POPUPITEMS->Put();
    }
}

std::string PopupManager::MenuText() {
    Mimic();
    std::string out;
    if (!POPUPITEMS) return out;
    std::vector<PopupItem> items(POPUPITEMS->Records());
    for (std::size_t i = 0; i < items.size(); ++i) POPUPITEMS->Peek(i + 1, items[i]);
    bool icons = false;
    for (const PopupItem& item : items) icons = icons || !item.ICON.View().empty();
    int previous = 1;
    bool first = true;
    for (const PopupItem& item : items) {
        int depth = item.DEPTH < 1 ? 1 : item.DEPTH;
        if (depth > previous)
            out.append(std::size_t(depth - previous), '{');
        else if (depth < previous)
            // A drop of several levels closes each of them.
            out.append(std::size_t(previous - depth), '}');
        else if (!first)
            out += '|';
        first = false;
        previous = depth;
        if (IsSeparator(item.TEXT.View())) {
            out += '-';
            continue;
        }
        if (EffectiveDisabled(item, true)) out += '~';
        if (item.CHECK == 1) out += '+';
        if (item.CHECK == 2) out += '-';
        if (icons && !item.ICON.View().empty()) {
            out += '[';
            AppendText(out, item.ICON.View());
            out += ']';
        }
        if (TRANSLATOR != nullptr)
            AppendText(out, TRANSLATOR->TranslateString(item.TEXT.View()));
        else
            AppendText(out, item.TEXT.View());
    }
    if (previous > 1) out.append(std::size_t(previous - 1), '}');
    if (out.size() > kMaxMenuText) out.resize(Utf8CutLength(out, kMaxMenuText));
    return out;
}

std::size_t PopupManager::ItemOfEntry(int n) {
    if (!POPUPITEMS || n <= 0) return 0;
    std::vector<PopupItem> items(POPUPITEMS->Records());
    for (std::size_t i = 0; i < items.size(); ++i) POPUPITEMS->Peek(i + 1, items[i]);
    int counted = 0;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (IsSeparator(items[i].TEXT.View())) continue;
        if (i + 1 < items.size() && items[i + 1].DEPTH > items[i].DEPTH) continue;  // opens a submenu
        if (++counted == n) return i + 1;
    }
    return 0;
}

std::string PopupManager::Chosen(std::size_t position, bool live) {
    PopupItem item{};
    std::string name;
    {
        if (position == 0 || !POPUPITEMS || !POPUPITEMS->Peek(position, item) ||
            EffectiveDisabled(item, live)) {
            // Nothing chosen, or an entry that cannot be chosen (a disabled item never acts).
            std::lock_guard lock(mutex_);
            LASTSELECTION.Clear();
            return {};
        }
        name = item.NAME.Str();
        std::lock_guard lock(mutex_);
        LASTSELECTION = name;
    }
    if ((item.EVENT != 0 || item.MIMICMODE) && PARENTWINDOW != nullptr) {
        // The pending key code belongs to the owning thread (a toolbox button is no key).
        if (CLEARKEYCODE && live) PARENTWINDOW->SetKeyCode(0);
        PARENTWINDOW->PostEvent(item.MIMICMODE ? Event::Accepted : static_cast<Event>(item.EVENT),
                                item.CONTROLID);
    }
    return name;
}

std::string PopupManager::Ask(LONG x, LONG y) {
    std::string menu = MenuText();
    int entry = PARENTWINDOW != nullptr ? PARENTWINDOW->Popup(menu, x, y) : 0;
    return Chosen(ItemOfEntry(entry), true);
}

std::string PopupManager::Choose(std::size_t position) {
    return Chosen(position, ui::ThreadId() == MYTHREAD);
}

namespace {

struct ToolboxButton {
    std::string name;
    std::string text;
    std::string icon;
    bool disabled = false;
};

}  // namespace

bool PopupManager::Toolbox(std::string_view title) {
    if (!POPUPITEMS || PARENTWINDOW == nullptr) return false;
    if (!toolbox_) toolbox_ = std::make_unique<ToolboxState>();
    {
        std::lock_guard lock(toolbox_->mutex);
        if (toolbox_->running) return true;  // one toolbox per menu
        toolbox_->running = true;
        toolbox_->stop = false;
    }
    // Mirrored texts and states brought up to date on the owning thread.
    MenuText();
    INTOOLBOX = 1;
    std::string caption(title);
    auto body = [this, caption] {
        // The buttons of the items marked for the toolbox, as they are now.
        auto snapshot = [this] {
            std::vector<ToolboxButton> out;
            for (std::size_t i = 1, n = POPUPITEMS->Records(); i <= n; ++i) {
                PopupItem item{};
                if (!POPUPITEMS->Peek(i, item) || !item.ONTOOLBOX || IsSeparator(item.TEXT.View())) continue;
                std::string text = item.TEXT.Str();
                if (!text.empty() && text[0] == '!') text.erase(0, 1);
                out.push_back({item.NAME.Str(), text, item.ICON.Str(), EffectiveDisabled(item, false)});
            }
            return out;
        };
        bool rebuild = true;
        for (int round = 0; rebuild && round < 1000; ++round) {
            rebuild = false;
            std::vector<ToolboxButton> buttons = snapshot();
            // Every button as wide as the widest text, stacked.
            int width = 40;
            for (const auto& b : buttons) width = std::max(width, int(b.text.size()) * 4 + 12);
            ui::WindowDef def;
            def.label = "P10$W";
            def.title = caption;
            def.timer = 50;
            def.at = ui::Rect{0, 0, width + 8, int(buttons.size()) * 16 + 8};
            for (std::size_t i = 0; i < buttons.size(); ++i) {
                ui::ControlDef c =
                    ui::ButtonDef(buttons[i].text, ui::Rect{4, 4 + int(i) * 16, width, 14}, buttons[i].icon);
                c.disabled = buttons[i].disabled;
                def.Add(std::move(c));
            }
            ui::Window window(std::move(def));
            if (window.Open() != 0) break;
            {
                std::lock_guard lock(toolbox_->mutex);
                if (toolbox_->stop) break;
                toolbox_->window = &window;
            }
            while (window.NextEvent()) {
                if (window.CurrentEvent() == Event::Accepted) {
                    int field = window.Field();
                    if (field >= 1 && std::size_t(field) <= buttons.size())
                        Chosen(ItemExists(buttons[std::size_t(field) - 1].name), false);
                } else if (window.CurrentEvent() == Event::Timer) {
                    // Follow the items: a changed set of buttons rebuilds the window, changed
                    // texts and states are set in place.
                    std::vector<ToolboxButton> now = snapshot();
                    bool same_set = now.size() == buttons.size();
                    for (std::size_t i = 0; same_set && i < now.size(); ++i)
                        same_set = now[i].name == buttons[i].name;
                    if (!same_set) {
                        rebuild = true;
                        break;
                    }
                    for (std::size_t i = 0; i < now.size(); ++i) {
                        int field = int(i) + 1;
                        if (now[i].text != buttons[i].text) window.SetText(field, now[i].text);
                        if (now[i].disabled != buttons[i].disabled) {
                            if (now[i].disabled)
                                window.Disable(field);
                            else
                                window.Enable(field);
                        }
                    }
                    buttons = std::move(now);
                }
            }
            {
                std::lock_guard lock(toolbox_->mutex);
                toolbox_->window = nullptr;
                if (toolbox_->stop) rebuild = false;
            }
            window.Close();
        }
        INTOOLBOX = 0;
        std::lock_guard lock(toolbox_->mutex);
        toolbox_->running = false;
        toolbox_->finished.notify_all();
    };
    int thread = ui::Start(body, 64 * 1024);
    std::lock_guard lock(toolbox_->mutex);
    if (thread == 0) {
        toolbox_->running = false;
        INTOOLBOX = 0;
        return false;
    }
    if (toolbox_->running) toolbox_->thread = thread;
    return true;
}

int PopupManager::ToolboxThread() {
    if (!toolbox_) return 0;
    std::lock_guard lock(toolbox_->mutex);
    return toolbox_->running ? toolbox_->thread : 0;
}

}  // namespace dt
