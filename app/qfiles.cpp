#include "app/qfiles.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstring>

#include "app/dialect.h"
#include "app/globals.h"
#include "app/scan.h"
#include "app/setup_window.h"
#include "app/tables.h"
#include "data/sql_driver.h"
#include "data/statements.h"
#include "platform/opener.h"
#include "platform/profile.h"
#include "runtime/errors.h"
#include "runtime/picture.h"
#include "runtime/stddate.h"
#include "ui/application.h"
#include "ui/list_source.h"
#include "ui/window.h"

namespace dt {

namespace {

using SteadyClock = std::chrono::steady_clock;

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

std::string RowMenuText(std::string_view name) {
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
    return item + "|-|~copy|~delete|~move|~select all|~select none|~revert selection|-|info";
}

// ---------------------------------------------------------------- window definitions

ui::WindowDef QFilesWindowDef(QFilesWindow& w) {
    using namespace ui;
    using R = QFILES_RECORD;
    WindowDef d;
    d.label = "WINDOW";
    d.title = "DriveTrek Queue";
    d.icon = "GO.ICO";
    d.font = "MS Sans Serif";
    d.at = {0, 0, 460, 220};
    d.flags.centered = true;
    d.flags.resizable = true;
    d.flags.maximize_box = true;
    ControlDef list =
        ListDef(kQFilesListFormat,
                MakeQueueSource(w.QFILES, &R::NAME, &R::C1, &R::C2, &R::C3, &R::C4, &R::EXTENSION, &R::DIR,
                                &R::DATE, &R::TIME, &R::SIZE, &R::COMPUTER),
                {1, 1, 458, 218});
    list.label = "?BROWSE:1";
    list.vscroll = true;
    list.hscroll = true;
    list.alerts = {key::MouseLeft2, key::Enter, key::MouseRight};
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
    return d;
}

// ---------------------------------------------------------------- QFilesWindow

QFilesWindow::QFilesWindow()
    : WINDOW(std::make_unique<ui::Window>(QFilesWindowDef(*this))),
      WIN_WAIT(std::make_unique<ui::Window>(QFilesWaitDef())),
      WIN_INFO(std::make_unique<ui::Window>(QFilesInfoDef(*this))) {}

QFilesWindow::~QFilesWindow() = default;

int QFilesWindow::Startup() {
    const auto started = SteadyClock::now();
    GlobalErrors.EnterProcedure("QFiles");
    REQUEST = GlobalRequest;
    if (int r = WindowManager::Startup(); r != SevQuiet) return r;
    FIRSTFIELD = QFilesCtl::BROWSE1;
    ERRORS = &GlobalErrors;
    GlobalRequest = 0;
    GlobalResponse = 0;
    SetToolbar(TOOLBARMGR);

    if (WINDOW->Open() != 0) return SevFatal;
    OPENED = 1;
    SetWindow(*WINDOW);
    {
        UiPlacement placement(*WINDOW);
        GlobalIni.RestoreWindow("QFiles", placement);
    }
    ListWidths(*WINDOW, 1, "qFILES");

    WIN_WAIT->Open();
    WIN_WAIT->Display();
    ui::SetCursor(ui::Cursor::Wait);
    QFILES.Free();
    QFILES.ClearBuffer();
    FOUND.clear();

    // The statement is built once FILES is connected: the server's kind decides how its
    // patterns match (see BuildSearchCondition).
    const SearchRequest request = SearchRequestFromGlobals();
    started_ = started;
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
    ArmAlerts();
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
    if (int r = WindowManager::Shutdown(); r != SevQuiet) return r;
    if (OPENED) {
        ListWidths(*WINDOW, 2, "qFILES");
        UiPlacement placement(*WINDOW);
        GlobalIni.SaveWindow("QFiles", placement);
    }
    GlobalErrors.LeaveProcedure();
    WIN_INFO->Close();
    WIN_WAIT->Close();
    WINDOW->Close();
    return SevQuiet;
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
    if (CurrentEvent().event == ui::Event::Timer && READING) {
        ReadStep();
        return SevQuiet;
    }
    if (READING) ++EVENTS_DURING_READ;
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
    if (e.event != ui::Event::AlertKey || e.field != QFilesCtl::BROWSE1) return result;
    switch (e.keycode) {
        case ui::key::MouseLeft2:
        case ui::key::Enter:
            OpenCurrent();
            break;
        case ui::key::MouseRight: {
            if (QFILES.Get(static_cast<std::size_t>(WINDOW->Choice(QFilesCtl::BROWSE1))) != 0) break;
            if (Port()->Popup(RowMenuText(QFILES.NAME.View()), 0, 0) == 8) FileInfo();
            break;
        }
        default:
            break;
    }
    return result;
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
    if (WIN_INFO->Open() != 0) return;
    WIN_INFO->Display();
    if (on_info) on_info(*this, *WIN_INFO);
    // The Close button's own action and the close box both end the loop.
    while (WIN_INFO->NextEvent()) {
    }
    WIN_INFO->Close();
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
