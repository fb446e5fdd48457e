#include "app/qfiles.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <chrono>
#include <cstring>

#include "app/dialect.h"
#include "app/globals.h"
#include "app/main_window.h"
#include "app/scan.h"
#include "app/setup_window.h"
#include "app/tables.h"
#include "data/sql_driver.h"
#include "data/statements.h"
#include "platform/opener.h"
#include "platform/profile.h"
#include "platform/text.h"
#include "runtime/errors.h"
#include "runtime/picture.h"
#include "runtime/stddate.h"
#include "ui/application.h"
#include "ui/desktop.h"
#include "ui/list_source.h"
#include "ui/window.h"

namespace dt {

namespace {

using SteadyClock = std::chrono::steady_clock;

// Dialog units between the main window's client area and the results window below it:
// room for the main window's status bar and frame and the results window's title bar.
constexpr int kLiveGap = 40;

// The text shown by a display control of the information window.
ui::ControlDef Show(std::string picture, ui::UseVar use, ui::Rect at) {
    return ui::DisplayDef(std::move(picture), use, at);
}

}  // namespace

// ---------------------------------------------------------------- file actions

std::string OpenWithShell(std::string_view operation, std::string_view file_name) {
    std::string_view name = Clip(file_name);
    name = name.substr(0, Utf8CutLength(name, 255));
    std::string_view op = Clip(operation);
    op = op.substr(0, 9);
    if (op.empty()) op = "open";
    // The desktop's opener knows one verb only.
    if (op != "open") return "31";
    struct stat st;
    const std::string path(name);
    if (path.empty() || ::stat(path.c_str(), &st) != 0) return "2";
    return platform::OpenWithAssociatedProgram(path) ? "42" : "31";
}

void ListWidths(ui::Window& window, int mode, std::string_view procedure_name) {
    const std::string file = GLO::INIFILE.Str();
    int k = 1;
    for (int field = 1; field <= window.Fields(); ++field) {
        if (window.Type(field) != ui::ControlType::List || window.Drop(field) != 0) continue;
        const std::string key = std::string(Clip(procedure_name)) + "_List" + std::to_string(k);
        const int columns = window.Columns(field);
        if (mode == 1) {
            const std::string value = platform::ReadProfileString(file, "List", key, "");
            for (int j = 1; j <= columns; ++j) {
                const std::size_t at = static_cast<std::size_t>(4 * (j - 1));
                if (at + 4 > value.size()) break;  // the rest stays as designed
                const std::string_view digits = std::string_view(value).substr(at, 4);
                bool numeric = true;
                int w = 0;
                for (char c : digits) {
                    if (c < '0' || c > '9') numeric = false;
                    w = w * 10 + (c - '0');
                }
                if (numeric && w >= 10 && w <= 500 && window.ColumnResizable(field, j))
                    window.SetColumnWidth(field, j, w);
            }
        } else if (mode == 2) {
            std::string value;
            for (int j = 1; j <= columns; ++j) value += Format(window.ColumnWidth(field, j), "P####P");
            platform::WriteProfileString(file, "List", key, value);
        }
        ++k;
    }
}

std::string RowMenuText(std::string_view name, bool local) {
    std::string item;
    const std::string_view clipped = Clip(name);
    // A word joiner (invisible) in front keeps a leading prefix character, a leading blank
    // or an empty name from being read as menu syntax or dropped as an empty item.
    if (clipped.empty() || std::strchr("~+-[ ", clipped.front()) != nullptr) item = "\xE2\x81\xA0";
    for (char c : clipped) {
        if (c == '|')
            item += "\xC2\xA6";  // broken bar
        else if (c == '{')
            item += '(';
        else if (c == '}')
            item += ')';
        else
            item += c;
    }
    return item + "|-|~copy|~delete|~move|~select all|~select none|~revert selection|-|info|-|" +
           (local ? "" : "~") + "Open containing folder|Copy full path|Copy name";
}

void ListSortOrder(int mode, std::string_view list_name, int& column, bool& descending) {
    const std::string file = GLO::INIFILE.Str();
    const std::string key = std::string(Clip(list_name)) + "_Sort";
    if (mode == 2) {
        platform::WriteProfileString(file, "List", key,
                                     std::to_string(column) + (column > 0 && descending ? "D" : "A"));
        return;
    }
    const std::string value = platform::ReadProfileString(file, "List", key, "");
    if (value.size() < 2 || value.size() > 3) return;
    const char dir = value.back();
    int c = 0;
    for (std::size_t i = 0; i + 1 < value.size(); ++i) {
        if (value[i] < '0' || value[i] > '9') return;
        c = c * 10 + (value[i] - '0');
    }
    if ((dir != 'A' && dir != 'D') || c > 7) return;
    column = c;
    descending = c > 0 && dir == 'D';
}

// ---------------------------------------------------------------- window definitions

ui::WindowDef QFilesWindowDef(QFilesWindow& w) {
    using namespace ui;
    using R = QFILES_RECORD;
    WindowDef d = ProcedureWindowDef("DriveTrek Queue", {0, 0, 460, 220});
    d.flags.resizable = true;
    d.flags.maximize_box = true;
    if (w.LIVEMODE) {
        // Follows the typing in the main window: it never takes the focus from the entry,
        // and looks for a due request every 50 ms.
        d.flags.no_activate = true;
        d.timer = 5;
        // It opens below the main window, where it does not hide the entries being typed
        // in; a placement the user saved still wins.
        if (ui::Rect main; LIVE.Anchor(main)) {
            d.flags.centered = false;
            d.at.x = main.x;
            d.at.y = main.y + main.h + kLiveGap;
        }
    }
    ControlDef list =
        ListDef(kQFilesListFormat,
                MakeQueueSource(w.QFILES, &R::NAME, &R::C1, &R::C2, &R::C3, &R::C4, &R::EXTENSION, &R::DIR,
                                &R::DATE, &R::TIME, &R::SIZE, &R::COMPUTER),
                {1, 1, 458, 218});
    list.label = "?BROWSE:1";
    list.vscroll = true;
    list.hscroll = true;
    list.alerts = {key::MouseLeft2, key::Enter, key::MouseRight, key::kCtrl | 'C'};
    list.sortable = true;
    list.multi_select = true;
    d.Add(std::move(list));
    return d;
}

ui::WindowDef QFilesWaitDef() {
    using namespace ui;
    WindowDef d;
    d.label = "WIN_WAIT";
    d.title = "search files";
    d.font = "MS Sans Serif";
    d.at = {0, 0, 120, 30};
    d.flags.centered = true;
    d.Add(StringDef("getting data...", {10, 10, 100, 10}));
    return d;
}

ui::WindowDef QFilesInfoDef(QFilesWindow& w) {
    using namespace ui;
    WindowDef d;
    d.label = "WIN_INFO";
    d.title = "file info";
    d.font = "MS Sans Serif";
    d.at = {0, 0, 300, 100};
    d.flags.centered = true;
    d.flags.modal = true;
    d.Add(PromptDef("file:", {6, 6, 40, 10}));
    d.Add(Show("s128", Use(w.QFILES.NAME), {50, 6, 244, 10}));
    d.Add(PromptDef("directory:", {6, 18, 40, 10}));
    d.Add(Show("s259", Use(w.QFILES.DIR), {50, 18, 244, 10}));
    d.Add(PromptDef("size:", {6, 30, 40, 10}));
    d.Add(Show("s30", Use(w.SIZE), {50, 30, 120, 10}));
    d.Add(PromptDef("time:", {6, 42, 40, 10}));
    d.Add(Show("D17", Use(w.QFILES.DATE), {50, 42, 50, 10}));
    d.Add(Show("T4", Use(w.QFILES.TIME), {104, 42, 40, 10}));
    d.Add(StringDef("located on:", {6, 54, 40, 10}));
    d.Add(Show("s33", Use(w.COMPUTERNAME), {50, 54, 140, 10}));
    ControlDef close = ButtonDef("Close", {244, 78, 50, 16});
    close.std = StdAction::Close;
    close.default_button = true;
    d.Add(std::move(close));
    d.Add(Show("s80", Use(w.STALETEXT), {6, 66, 236, 10}));
    return d;
}

// ---------------------------------------------------------------- QFilesWindow

QFilesWindow::QFilesWindow(bool live)
    : ProcedureWindow("QFiles", QFilesCtl::BROWSE1),
      LIVEMODE(live),
      WINDOW(std::make_unique<ui::Window>(QFilesWindowDef(*this))),
      WIN_WAIT(std::make_unique<ui::Window>(QFilesWaitDef())),
      WIN_INFO(std::make_unique<ui::Window>(QFilesInfoDef(*this))) {
    UseWindows(*WINDOW, {WIN_INFO.get(), WIN_WAIT.get(), WINDOW.get()});
}

QFilesWindow::~QFilesWindow() = default;

int QFilesWindow::Startup() {
    // The search's time counts from here.
    started_ = SteadyClock::now();
    return ProcedureWindow::Startup();
}

int QFilesWindow::FinishStartup() {
    ListWidths(*WINDOW, 1, "qFILES");
    ListSortOrder(1, "qFILES_List1", SORTCOLUMN, SORTDESCENDING);
    WINDOW->SetSortIndicator(QFilesCtl::BROWSE1, SORTCOLUMN, SORTDESCENDING);

    if (LIVEMODE) {
        // The rows come with the requests (RefreshLive), the first one at the first tick.
        LIVE.SetWindow(this);
        return SevQuiet;
    }
    WIN_WAIT->Open();
    WIN_WAIT->Display();
    ui::SetCursor(ui::Cursor::Wait);
    QFILES.Free();
    QFILES.ClearBuffer();
    FOUND.clear();
    ROWNO.clear();
    READING = true;

    // The statement is built once FILES is connected: the server's kind decides how its
    // patterns match (see BuildSearchCondition).
    const SearchRequest request = SearchRequestFromGlobals();
    names_ = std::make_unique<ComputerNames>(dt::QCOMPUTER);
    read_.Begin(request, &STATEMENT);
    if (STATEMENT.size() >= 26 + kSearchConditionSize)
        SearchCondition = std::string_view(STATEMENT).substr(26, kSearchConditionSize);
    // The window opens with the first rows; the rest follow step by step from the loop.
    READING = read_.Active();
    if (!READING) {
        OUTCOME = read_.Outcome();
        ui::SetCursor(ui::Cursor::Arrow);
        WIN_WAIT->Close();
        ui::Message("The search could not be carried out.|" + OUTCOME.message, "search",
                    ui::MessageIcon::Stop, ui::button::Ok);
        return SevFatal;
    }
    ReadStep();
    ui::SetCursor(ui::Cursor::Arrow);
    WIN_WAIT->Close();
    if (!READING && OUTCOME.error != 0) return SevFatal;
    return SevQuiet;
}

void QFilesWindow::ReadStep() {
    const ULONG self = COMPUTER.SYSCOMPUTER;
    READING =
        read_.Step([&](const FILES_RECORD& row) { AddResultRow(row, self, names_.get(), QFILES, FOUND); },
                   READ_ROWS, READ_BUDGET);
    OUTCOME = read_.Outcome();
    if (READING) {
        // The next step comes after the events that arrived meanwhile.
        WINDOW->Post(ui::Event::Timer);
        return;
    }
    if (OUTCOME.error != 0) {
        // A refused statement or a lost connection: say why instead of listing "0 Files"
        // (or a part of the hits) as if the search had run.
        ui::Message("The search could not be carried out.|" + OUTCOME.message, "search",
                    ui::MessageIcon::Stop, ui::button::Ok);
        if (window_opened_) WINDOW->Post(ui::Event::CloseWindow);
        return;
    }
    // Every row is in: the list takes its order (a header clicked meanwhile included).
    for (std::uint32_t i = static_cast<std::uint32_t>(ROWNO.size()) + 1; i <= QFILES.Records(); ++i)
        ROWNO.push_back(i);
    SORTPENDING = false;
    if (SORTCOLUMN > 0) SortRows();
    const auto hundredths =
        std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - started_).count() / 10;
    const LONG elapsed = ScanElapsed(G::STARTCLOCK, ClockTime(), hundredths);
    G::ELAPSED = TIME::FromStandard(elapsed);
    const std::string caption = WINDOW->Title() + " - " + std::to_string(QFILES.Records()) + " Files (" +
                                Format(static_cast<double>(elapsed), "T4") + ")  " + G::SEARCHCOMPUTER.Str();
    WINDOW->SetTitle(Clip(caption));
    if (window_opened_ && !opened_told_) {
        opened_told_ = true;
        if (on_opened) on_opened(*this);
    }
}

int QFilesWindow::Shutdown() {
    read_.End();
    READING = false;
    if (LIVEMODE) LIVE.SetWindow(nullptr);
    return ProcedureWindow::Shutdown();
}

void QFilesWindow::SaveLayout() {
    ListWidths(*WINDOW, 2, "qFILES");
    ListSortOrder(2, "qFILES_List1", SORTCOLUMN, SORTDESCENDING);
}

void QFilesWindow::OnWindowOpened() {
    WindowManager::OnWindowOpened();
    window_opened_ = true;
    if (READING) {
        if (on_first_rows) on_first_rows(*this);
        return;
    }
    opened_told_ = true;
    if (on_opened) on_opened(*this);
}

int QFilesWindow::HandleEvent() {
    if (CurrentEvent().event == ui::Event::Timer && READING && !LIVEMODE) {
        ReadStep();
        return SevQuiet;
    }
    if (READING) ++EVENTS_DURING_READ;
    if (LIVEMODE && CurrentEvent().event == ui::Event::Timer && OPENED) RefreshLive();
    if (CurrentEvent().event == ui::Event::Sized && OPENED) {
        const ui::Rect window = WINDOW->GetPosition(0);
        ui::Rect list = WINDOW->GetPosition(QFilesCtl::BROWSE1);
        list.w = window.w - 2;
        list.h = window.h - 2;
        if (list.w > 0 && list.h > 0) WINDOW->SetPosition(QFilesCtl::BROWSE1, list);
    }
    return WindowManager::HandleEvent();
}

int QFilesWindow::OnFieldEvent() {
    const int result = WindowManager::OnFieldEvent();
    const WindowEvent& e = CurrentEvent();
    if (e.field != QFilesCtl::BROWSE1) return result;
    if (e.event == ui::Event::HeaderPressed) {
        HeaderClicked(WINDOW->HeaderColumn());
        return result;
    }
    if (e.event != ui::Event::AlertKey) return result;
    switch (e.keycode) {
        case ui::key::MouseLeft2:
        case ui::key::Enter:
            OpenCurrent();
            break;
        case ui::key::MouseRight: {
            if (QFILES.Get(static_cast<std::size_t>(WINDOW->Choice(QFilesCtl::BROWSE1))) != 0) break;
            const std::string menu = RowMenuText(QFILES.NAME.View(), SelectionIsLocal());
            const int entry = Port()->Popup(menu, 0, 0);
            if (entry == RowMenu::INFO)
                FileInfo();
            else
                RowMenuAction(entry);
            break;
        }
        case ui::key::kCtrl | 'C':
            RowMenuAction(RowMenu::COPYPATH);
            break;
        default:
            break;
    }
    return result;
}

namespace {

template <class T>
int Compare(const T& a, const T& b) {
    return a < b ? -1 : (b < a ? 1 : 0);
}

}  // namespace

void QFilesWindow::SortRows() {
    const std::size_t n = QFILES.Records();
    if (n == 0 || SORTCOLUMN <= 0 || FOUND.size() != n || ROWNO.size() != n) return;
    std::vector<QFILES_RECORD> rows(n);
    std::vector<FoundFile> found(n);
    for (std::size_t i = 0; i < n; ++i) {
        QFILES.Peek(i + 1, rows[i]);
        found[i] = FOUND.at(i);
    }
    const std::size_t current = static_cast<std::size_t>(WINDOW->Choice(QFilesCtl::BROWSE1));
    const std::uint32_t current_row = current >= 1 && current <= n ? ROWNO[current - 1] : 0;
    std::vector<std::size_t> order(n);
    for (std::size_t i = 0; i < n; ++i) order[i] = i;
    const auto column = static_cast<ResultColumn>(SORTCOLUMN);
    auto key = [&](std::size_t a, std::size_t b) {
        const QFILES_RECORD &x = rows[a], &y = rows[b];
        switch (column) {
            case ResultColumn::Name:
                return CompareNoCase(found[a].name, found[b].name);
            case ResultColumn::Extension:
                return CompareNoCase(x.EXTENSION.View(), y.EXTENSION.View());
            case ResultColumn::Dir:
                return CompareNoCase(found[a].dir, found[b].dir);
            case ResultColumn::Date:
            case ResultColumn::Time: {
                const int d = Compare(x.DATE.ToStandard(), y.DATE.ToStandard());
                return d != 0 ? d : Compare(x.TIME.ToStandard(), y.TIME.ToStandard());
            }
            case ResultColumn::Size:
                return Compare(x.SIZE, y.SIZE);
            case ResultColumn::Computer:
                return CompareNoCase(x.COMPUTER.View(), y.COMPUTER.View());
        }
        return 0;
    };
    const bool descending = SORTDESCENDING;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        const int k = key(a, b);
        if (k != 0) return descending ? k > 0 : k < 0;
        // Ties: by name, then in the order the rows came, whichever the direction.
        const int by_name = CompareNoCase(found[a].name, found[b].name);
        if (by_name != 0) return by_name < 0;
        const int by_bytes = found[a].name.compare(found[b].name);
        if (by_bytes != 0) return by_bytes < 0;
        return ROWNO[a] < ROWNO[b];
    });
    std::vector<std::uint32_t> rowno(n);
    QFILES.Free();
    FOUND.clear();
    std::size_t new_current = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t from = order[i];
        static_cast<QFILES_RECORD&>(QFILES) = rows[from];
        QFILES.Add();
        FOUND.Add(found[from].dir, found[from].name);
        rowno[i] = ROWNO[from];
        if (rowno[i] == current_row) new_current = i + 1;
    }
    ROWNO = std::move(rowno);
    WINDOW->Display(QFilesCtl::BROWSE1);
    if (new_current > 0) WINDOW->SetChoice(QFilesCtl::BROWSE1, static_cast<int>(new_current));
}

void QFilesWindow::HeaderClicked(int column) {
    if (column < 1 || column > 7) return;
    if (column == SORTCOLUMN) {
        SORTDESCENDING = !SORTDESCENDING;
    } else {
        SORTCOLUMN = column;
        SORTDESCENDING = false;
    }
    WINDOW->SetSortIndicator(QFilesCtl::BROWSE1, SORTCOLUMN, SORTDESCENDING);
    if (READING)
        SORTPENDING = true;
    else
        SortRows();
}

std::vector<std::size_t> QFilesWindow::SelectedEntries() const {
    std::vector<std::size_t> entries;
    for (int row : WINDOW->SelectedRows(QFilesCtl::BROWSE1))
        if (row >= 1 && static_cast<std::size_t>(row) <= FOUND.size())
            entries.push_back(static_cast<std::size_t>(row));
    return entries;
}

std::string QFilesWindow::SelectedPaths() const {
    std::string text;
    for (std::size_t row : SelectedEntries()) {
        if (!text.empty()) text += '\n';
        text += FOUND.at(row - 1).Path();
    }
    return text;
}

std::string QFilesWindow::SelectedNames() const {
    std::string text;
    for (std::size_t row : SelectedEntries()) {
        if (!text.empty()) text += '\n';
        text += FOUND.at(row - 1).name;
    }
    return text;
}

bool QFilesWindow::SelectionIsLocal() const {
    const std::vector<std::size_t> rows = SelectedEntries();
    if (rows.empty()) return false;
    for (std::size_t row : rows) {
        QFILES_RECORD e;
        if (!QFILES.Peek(row, e) || e.SYSCOMPUTER != COMPUTER.SYSCOMPUTER) return false;
    }
    return true;
}

void QFilesWindow::OpenContainingFolders() {
    if (!SelectionIsLocal()) return;
    std::vector<std::string> paths, folders;
    for (std::size_t row : SelectedEntries()) {
        const FoundFile f = FOUND.at(row - 1);
        paths.push_back(f.Path());
        if (std::find(folders.begin(), folders.end(), f.dir) == folders.end()) folders.push_back(f.dir);
    }
    if (ui::ShowInFileManager(paths) == ui::ShowItemsResult::Shown) return;
    // No file manager answered: the folders open with the desktop's opener, without the
    // files selected; a selection over many folders opens the first few only.
    constexpr std::size_t kMaxFolders = 10;
    for (std::size_t i = 0; i < folders.size() && i < kMaxFolders; ++i)
        platform::OpenWithAssociatedProgram(folders[i]);
}

void QFilesWindow::RowMenuAction(int entry) {
    switch (entry) {
        case RowMenu::OPENFOLDER:
            OpenContainingFolders();
            break;
        case RowMenu::COPYPATH:
            if (!SelectedEntries().empty()) ui::SetClipboardText(SelectedPaths());
            break;
        case RowMenu::COPYNAME:
            if (!SelectedEntries().empty()) ui::SetClipboardText(SelectedNames());
            break;
        default:
            break;
    }
}

void QFilesWindow::OpenCurrent() {
    const std::size_t row = static_cast<std::size_t>(WINDOW->Choice(QFilesCtl::BROWSE1));
    if (QFILES.Get(row) != 0 || row > FOUND.size()) return;
    if (QFILES.SYSCOMPUTER != COMPUTER.SYSCOMPUTER) {
        // The same path on this computer would be a different file.
        std::string holder(QFILES.COMPUTER.Clip());
        if (holder.empty())
            holder = std::string(Clip(SQLValue("select Name from COMPUTER where SysCOMPUTER = " +
                                               std::to_string(QFILES.SYSCOMPUTER))));
        if (holder.empty()) holder = "computer number " + std::to_string(QFILES.SYSCOMPUTER);
        ui::Message("This file lies on the computer " + holder + ".|It cannot be opened on this computer.",
                    "open file", ui::MessageIcon::Stop, ui::button::Ok);
        return;
    }
    // The whole stored directory and name, as an absolute path: the list's columns are
    // cut, and the process's directory is shared with other threads.
    OpenWithShell("", FOUND.at(row - 1).Path());
}

void QFilesWindow::FileInfo() {
    COMPUTERNAME = std::string_view(Clip(SQLValue("select Name from COMPUTER where SysCOMPUTER = " +
                                                  std::to_string(QFILES.SYSCOMPUTER))))
                       .substr(0, 31);
    SIZE = SizeText(QFILES.SIZE);
    STALETEXT = StaleIndexText(QFILES.SYSCOMPUTER);
    if (WIN_INFO->Open() != 0) return;
    WIN_INFO->Display();
    if (on_info) on_info(*this, *WIN_INFO);
    // The Close button's own action and the close box both end the loop.
    while (WIN_INFO->NextEvent()) {
    }
    WIN_INFO->Close();
}

// ---------------------------------------------------------------- results as you type

bool LiveResults::Ask(const LiveRequest& request, std::chrono::milliseconds delay) {
    std::lock_guard lock(m_);
    request_ = request;
    pending_ = true;
    due_ = std::chrono::steady_clock::now() + delay;
    ++generation_;
    const bool start = !running_;
    running_ = true;
    return start;
}

bool LiveResults::Due(LiveRequest& out, std::uint64_t& generation) {
    std::lock_guard lock(m_);
    if (!pending_ || std::chrono::steady_clock::now() < due_) return false;
    pending_ = false;
    out = request_;
    generation = generation_.load();
    return true;
}

void LiveResults::SetWindow(QFilesWindow* w) {
    std::lock_guard lock(m_);
    window_ = w;
    // A closed window takes no more requests: the next one starts a new window.
    if (w == nullptr) running_ = false;
}

void LiveResults::Wake() {
    std::lock_guard lock(m_);
    if (QFilesWindow* w = window_.load()) w->WINDOW->Post(ui::Event::Timer);
}

void LiveResults::NoteShown(const std::string& caption) {
    std::lock_guard lock(m_);
    shown_.push_back(caption);
}

std::vector<std::string> LiveResults::Shown() const {
    std::lock_guard lock(m_);
    return shown_;
}

void LiveResults::SetReadHook(std::function<void()> hook) {
    std::lock_guard lock(m_);
    read_hook_ = std::move(hook);
}

void LiveResults::RunReadHook() const {
    std::function<void()> hook;
    {
        std::lock_guard lock(m_);
        hook = read_hook_;
    }
    if (hook) hook();
}

bool LiveWorthy(std::string_view filter, std::string_view extension, long kb_from, long kb_to) {
    if (!Clip(extension).empty() || kb_from != 0 || kb_to != 0) return true;
    std::size_t run = 0;
    for (const char c : filter) {
        run = c == ' ' ? 0 : run + 1;
        if (run >= 3) return true;
    }
    return false;
}

void QFilesWindow::RefreshLive() {
    LiveRequest live;
    std::uint64_t generation = 0;
    if (!LIVE.Due(live, generation)) return;
    const auto started = SteadyClock::now();
    // Read aside: only a read still current when it ends reaches the list.
    Queue<QFILES_RECORD> rows;
    FoundFiles found;
    std::string statement;
    READING = true;
    const SearchOutcome outcome = ReadSearch(live.request, COMPUTER.SYSCOMPUTER, rows, found, &statement);
    READING = false;
    LIVE.RunReadHook();
    if (!LIVE.Current(generation)) {
        ++LIVE.abandoned;
        return;
    }
    FillComputerNames(rows, dt::QCOMPUTER);
    QFILES.Free();
    ROWNO.clear();
    QFILES_RECORD e;
    for (std::size_t i = 1; rows.Peek(i, e); ++i) {
        static_cast<QFILES_RECORD&>(QFILES) = e;
        QFILES.Add();
        ROWNO.push_back(static_cast<std::uint32_t>(i));
    }
    FOUND = std::move(found);
    OUTCOME = outcome;
    STATEMENT = statement;
    if (SORTCOLUMN > 0) SortRows();
    WINDOW->Display(QFilesCtl::BROWSE1);
    const auto hundredths =
        std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - started).count() / 10;
    const LONG elapsed = ScanElapsed(live.startclock, ClockTime(), hundredths);
    // A refused statement is said in the caption: a message box at every key would be in
    // the way of the typing.
    const std::string caption =
        outcome.error != 0 ? "DriveTrek Queue - the search could not be carried out: " + outcome.message
                           : "DriveTrek Queue - " + std::to_string(QFILES.Records()) + " Files (" +
                                 Format(static_cast<double>(elapsed), "T4") + ")  " + live.computer_name;
    WINDOW->SetTitle(Clip(caption));
    LIVE.NoteShown(std::string(Clip(caption)));
    ++LIVE.refreshes;
}

void LiveResults::SetAnchor(ui::Rect r) {
    std::lock_guard lock(m_);
    anchor_ = r;
    anchored_ = true;
}

bool LiveResults::Anchor(ui::Rect& out) const {
    std::lock_guard lock(m_);
    out = anchor_;
    return anchored_;
}

void QFilesLive() {
    // The COMPUTER buffer is this thread's own: this computer's row number comes from the
    // start-up.
    COMPUTER.SYSCOMPUTER = G::THISSYSCOMPUTER;
    QFilesWindow window(true);
    GlobalResponse = window.Run();
    // Closed before it opened (or failed): the next request starts a new window.
    LIVE.SetWindow(nullptr);
}

void QFiles(const std::function<void(QFilesWindow&)>& on_opened,
            const std::function<void(QFilesWindow&, ui::Window&)>& on_info) {
    QFilesWindow window;
    window.on_opened = on_opened;
    window.on_info = on_info;
    GlobalResponse = window.Run();
}

void QFiles() {
    QFiles({}, {});
}

}  // namespace dt
