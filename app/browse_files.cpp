#include "app/browse_files.h"

#include <cstdlib>
#include <vector>

#include "app/dialect.h"
#include "app/globals.h"
#include "app/qfiles.h"
#include "app/query.h"
#include "app/search_index.h"
#include "app/tables.h"
#include "data/sql_driver.h"
#include "data/statements.h"
#include "platform/opener.h"
#include "platform/text.h"
#include "ui/application.h"
#include "ui/list_source.h"
#include "ui/window.h"

namespace dt {

std::string BuildBrowseFilter(std::string_view text, const Dialect& dialect, bool fts, BrowseOrder* order) {
    std::string filter = "(SysFILES > 0)";
    const std::string op = " " + std::string(dialect.like) + " '%";
    std::vector<std::string_view> filter_words;
    auto add_word = [&](std::string_view word) {
        filter_words.push_back(word);
        const std::string w = dialect.LikePattern(word);
        // The text is kept whole: a condition cut at the field's width would no longer be
        // valid SQL (or would find other rows).
        filter += " and (name" + op + w + "%'";
        filter += " or dir" + op + w + "%')";
    };
    const std::string_view t = Clip(text.substr(0, 40));
    std::size_t start = 0;
    bool words = true;  // the current word is a filter word
    for (std::size_t i = 0; i < t.size(); ++i) {
        if (t[i] == ' ') {
            if (words) add_word(t.substr(start, i - start));
            start = i + 1;
            words = true;
        } else if (i + 1 == t.size()) {
            if (words) add_word(t.substr(start));
            words = true;
        }
        if (t[i] == '/' && i + 1 < t.size()) {
            const char next = UpperChar(t[i + 1]);
            if (next == 'S' || next == 'D') {
                if (order != nullptr) *order = next == 'S' ? BrowseOrder::Size : BrowseOrder::Date;
                start = i + 1;
                words = false;
            }
        }
    }
    if (fts && dialect.kind == ServerKind::Embedded) filter += FtsCandidateTerm(filter_words, true);
    return filter;
}

ui::WindowDef BrowseFilesDef(BrowseFilesWindow& w) {
    using namespace ui;
    WindowDef d = ProcedureWindowDef("DriveTrek", {0, 0, 422, 262});
    d.flags.resizable = true;
    d.flags.maximize_box = true;
    d.flags.status_bar = true;
    ControlDef list = ListDef(
        "170L(2)|M~Name~@s255@110L(2)|M~Dir~@s255@45L(2)|M~Date~@d17@35L(2)|M~Time~@t7@66R(2)|M~Size~@n17@",
        MakeQueueSource(w.QUEUE, &BROWSE_QUEUE_RECORD::NAME, &BROWSE_QUEUE_RECORD::DIR,
                        &BROWSE_QUEUE_RECORD::DATE_DATE, &BROWSE_QUEUE_RECORD::DATE_TIME,
                        &BROWSE_QUEUE_RECORD::SIZE),
        {4, 4, 414, 226});
    list.label = "?BROWSE:1";
    list.vscroll = true;
    list.hscroll = true;
    list.imm = true;
    list.alerts = {key::Enter, key::MouseLeft2};
    d.Add(std::move(list));
    ControlDef entry = EntryDef("s40", Use(w.FILTER1), {4, 236, 200, 12});
    entry.label = "?L:FILTER1";
    d.Add(std::move(entry));
    return d;
}

BrowseFilesWindow::BrowseFilesWindow()
    : ProcedureWindow("BrowseFILES", BrowseCtl::BROWSE),
      WINDOW(std::make_unique<ui::Window>(BrowseFilesDef(*this))),
      VIEW(std::make_unique<View>(
          dt::FILES.file,
          std::vector<std::string>{"FILES:NAME", "FILES:DIR", "FILES:DATE_DATE", "FILES:DATE_TIME",
                                   "FILES:SIZE", "FILES:SYSFILES", "FILES:SYSCOMPUTER"})),
      LIST(std::make_unique<ListQueue<BROWSE_QUEUE_RECORD>>(QUEUE)) {
    UseWindows(*WINDOW, {WINDOW.get()});
    UseTables({&Relate::FILES});
    open_file = [](const std::string& path) {
        // OpenWithShell takes at most 255 characters: a longer path (directory and name
        // together may reach 516) goes to the opener whole rather than cut into another.
        if (path.size() > 255) return platform::OpenWithAssociatedProgram(path);
        return std::atoi(OpenWithShell("", path).c_str()) > 32;
    };
}

BrowseFilesWindow::~BrowseFilesWindow() {
    BRW1.Kill();
    if (WINDOW) WINDOW->Close();
}

int BrowseFilesWindow::Startup() {
    // The filter entry starts with the main window's filter text.
    FILTER1 = G::FILTER1.View();
    return ProcedureWindow::Startup();
}

int BrowseFilesWindow::PrepareWindow() {
    BRW1.Init(BrowseCtl::BROWSE, QUEUE.VIEWPOSITION, *VIEW, *LIST, *Relate::FILES, *this);
    return SevQuiet;
}

int BrowseFilesWindow::SetUpWindow() {
    WINDOW->SetMinSize(422, 262);
    RESIZER.Startup(*Port(), AppStrategy::kSpread);
    RESIZER.SetStrategy(BrowseCtl::FILTER1, 513, 3);
    SetResizer(RESIZER);
    // Name order: the key's name, compared without regard to case, then the row number.
    BRW1.AddSortOrder(&dt::FILES.KEYNAME_FILES);
    BRW1.AppendOrder("FILES:SysFILES");
    BRW1_LOCATOR.Init(BrowseCtl::FILTER1, "FILES:NAME", 1);
    BRW1.AddLocator(BRW1_LOCATOR);
    BRW1.AddField(dt::FILES.NAME, QUEUE.NAME);
    BRW1.AddField(dt::FILES.DIR, QUEUE.DIR);
    BRW1.AddField(dt::FILES.DATE_DATE, QUEUE.DATE_DATE);
    BRW1.AddField(dt::FILES.DATE_TIME, QUEUE.DATE_TIME);
    BRW1.AddField(dt::FILES.SIZE, QUEUE.SIZE);
    BRW1.AddField(dt::FILES.SYSFILES, QUEUE.SYSFILES);
    BRW1.AddField(dt::FILES.SYSCOMPUTER, QUEUE.SYSCOMPUTER);
    return SevQuiet;
}

int BrowseFilesWindow::FinishStartup() {
    WINDOW->SetStatusText(1, "Browsing Records");
    return SevQuiet;
}

void BrowseFilesWindow::ReleaseTables() {
    BRW1.Kill();
}

void BrowseFilesWindow::OnWindowOpened() {
    WindowManager::OnWindowOpened();
    if (on_opened) on_opened(*this);
}

int BrowseFilesWindow::OnAccepted() {
    const int result = WindowManager::OnAccepted();
    if (CurrentEvent().field != BrowseCtl::FILTER1) return result;
    WINDOW->Update(BrowseCtl::FILTER1);
    const Dialect& dialect = DialectOf(KindOfDbms(GetProperty(dt::FILES.file, PROP_DbmsName)));
    BrowseOrder order = BrowseOrder::Unchanged;
    const bool fts =
        dialect.kind == ServerKind::Embedded && SearchIndexStateForFiles() == SearchIndexState::Present;
    filter_sql = BuildBrowseFilter(FILTER1.View(), dialect, fts, &order);
    FILTERTEXT = filter_sql;
    if (order != BrowseOrder::Unchanged) {
        // The switch's order stays for the window's life; rows of equal size or date
        // follow their row numbers, so that paging neither skips nor repeats them.
        BRW1.SetOrder(order == BrowseOrder::Size ? "FILES:Size" : "FILES:DATE");
        BRW1.AppendOrder("FILES:SysFILES");
        BRW1.ApplyOrder();
    }
    (void)VIEW->SetProperty(PROP_SQLFilter, filter_sql);  // a filter text is only kept here: never refused
    Refresh(1);
    Refresh(1);
    WINDOW->Select(BrowseCtl::BROWSE);
    ++filters_applied;
    return SevNotify;
}

int BrowseFilesWindow::OnSelected() {
    if (CurrentEvent().field == BrowseCtl::FILTER1) WINDOW->MarkTouched(BrowseCtl::FILTER1);
    return WindowManager::OnSelected();
}

int BrowseFilesWindow::HandleEvent() {
    if (WINDOW->IsOpen() && WINDOW->Disabled(BrowseCtl::FILTER1)) WINDOW->Enable(BrowseCtl::FILTER1);
    return WindowManager::HandleEvent();
}

int BrowseFilesWindow::OnFieldEvent() {
    const int result = WindowManager::OnFieldEvent();
    const WindowEvent& e = CurrentEvent();
    if (e.field == BrowseCtl::BROWSE && e.event == Event::AlertKey &&
        (e.keycode == ui::key::MouseLeft2 || e.keycode == ui::key::Enter))
        OpenCurrentRow();
    return result;
}

void BrowseFilesWindow::OpenCurrentRow() {
    // The row comes from the list queue, never from the record buffer, which holds the
    // last row read (possibly a row of a page the list has scrolled past).
    if (!BRW1.GetCurrent()) return;
    const std::string dir(QUEUE.DIR.View()), name(QUEUE.NAME.View());
    last_open = dir + name;
    last_open_foreign = false;
    // A file of another computer is not a local file of the same path: open only rows
    // listed as this computer's, by its row number (two computers may share a name, and
    // the row may have gone since it was listed).
    const ULONG here = G::THISSYSCOMPUTER;
    if (here == 0 || QUEUE.SYSCOMPUTER != here) {
        last_open_foreign = true;
        ++opens_decided;
        return;
    }
    // The absolute path, without changing the process's directory (other threads use it);
    // failures are not reported.
    if (open_file) open_file(last_open);
    ++opens_decided;
}

void RunBrowseFILES(const std::function<void(BrowseFilesWindow&)>& on_opened) {
    BrowseFilesWindow window;
    window.on_opened = on_opened;
    GlobalResponse = window.Run();
}

void BrowseFILES() {
    RunBrowseFILES({});
}

}  // namespace dt
