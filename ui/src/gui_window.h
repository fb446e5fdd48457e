// The GUI side of a window: a top-level Qt window with its menu bar, status bar and one
// widget per control, laid out in dialog units of the window's font. Lives on the GUI
// thread only. It turns widget signals into events pushed to the owning thread's queue and
// never touches the owner's WindowState after construction.
#pragma once

#include <QAbstractTableModel>
#include <QLabel>
#include <QMainWindow>
#include <QStyledItemDelegate>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "ui/list_format.h"
#include "ui/list_source.h"
#include "ui/src/core.h"
#include "ui/src/window_state.h"

class QAction;
class QMenu;
class QTabWidget;
class QTimer;
class QTreeView;

namespace dt::ui::detail {

// Table model over a ListSource through a parsed list format. Rows are read on demand.
class ListModel final : public QAbstractTableModel {
    Q_OBJECT
  public:
    ListModel(std::shared_ptr<ListSource> src, ListFormat fmt, QObject* parent);
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation o, int role) const override;
    // Brings the row count up to date when the source's version moved; true if it did.
    bool Sync();
    // Cell text as shown (formatted through the column's picture).
    std::string CellText(int row, int column) const;
    // Colour field c (0..3) of a cell's row, -1 when none.
    long CellColor(int row, int column, int c) const;
    const ListFormat& Format() const { return fmt_; }

  private:
    std::shared_ptr<ListSource> src_;
    ListFormat fmt_;
    int rows_ = 0;
    unsigned long version_ = ~0ul;
};

// Paints list cells with the column's indent, colours, underline and right border.
class ListDelegate final : public QStyledItemDelegate {
  public:
    ListDelegate(ListModel* model, QObject* parent) : QStyledItemDelegate(parent), model_(model) {}
    void paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    int dux1000 = 1500;  // pixel width of one dialog unit times 1000

  private:
    ListModel* model_;
};

// A one-line label that paints a text too long for it shortened in the middle, so that
// both ends of a path stay readable. text() keeps the whole text.
class MiddleElidedLabel final : public QLabel {
    Q_OBJECT
  public:
    using QLabel::QLabel;
    // The text as painted at the label's present width.
    QString Painted() const;

  protected:
    void paintEvent(QPaintEvent* e) override;
};

class GuiWindow final : public QMainWindow {
    Q_OBJECT
  public:
    explicit GuiWindow(const WindowState& st);
    ~GuiWindow() override;

    // Dialog units <-> pixels of this window's font.
    int PxX(int du) const;
    int PxY(int du) const;
    int DuX(int px) const;
    int DuY(int px) const;
    int DuX1000() const { return dux1000_; }
    int DuY1000() const { return duy1000_; }

    // Control state, by field number.
    void SetText(int field, const std::string& text);
    std::string Text(int field) const;
    void SetRect(int field, Rect r);
    Rect GetRect(int field) const;  // pixels
    void SetHidden(int field, bool hidden);
    void SetDisabled(int field, bool disabled);
    void SetChecked(int field, bool on);
    bool Checked(int field) const;
    void SetChoice(int field, int row);
    int Choice(int field) const;
    std::vector<int> SelectedRows(int field) const;
    void SetSelectedRows(int field, const std::vector<int>& rows);
    void SetSortIndicator(int field, int column, bool descending);
    int SelectedTab(int field) const;
    void SetColumnWidth(int field, int column, int du);
    int ColumnWidth(int field, int column) const;
    void SetIcon(int field, const std::string& name);
    void SetFont(int field, const std::string& family, int size);
    void SetColor(int field, long text, long background);
    void SetAlerts(int field, const std::set<int>& keys);
    void SetWindowAlerts(const std::set<int>& keys) { window_alerts_ = keys; }
    void SetTouched(int field, bool on);
    void SetImm(int field, bool on);
    void RefreshList(int field);
    void SetFocusField(int field);
    int FocusField() const;
    ListModel* Model(int field) const;

    // Window state.
    void SetStatus(int zone, const std::string& text);
    std::string Status(int zone) const;
    void SetMin(Rect r);
    void SetMax(Rect r);
    Placement GetPlacement() const;  // dialog units
    void SetPlacement(const Placement& p);
    void SetBlocked(bool on);
    bool Blocked() const { return blocked_; }
    void CloseNow();
    // Presses a control as the user would (button click, check toggle, menu item, list Enter).
    bool ClickField(int field);
    // Types text into an entry and leaves it.
    bool TypeInto(int field, const std::string& text);
    // Types the characters of text into an entry as key presses ("\b": Backspace), leaving
    // the focus in it.
    bool TypeKeys(int field, const std::string& text);
    // A key or mouse code on a control, as the user would.
    bool Press(int field, int keycode);
    // The widget of a field (nullptr for menus and separators).
    QWidget* Widget(int field) const;

  protected:
    void closeEvent(QCloseEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void moveEvent(QMoveEvent* e) override;
    void changeEvent(QEvent* e) override;
    bool eventFilter(QObject* o, QEvent* e) override;

  private:
    struct Item {
        int field = 0;
        ControlType type = ControlType::None;
        QWidget* widget = nullptr;
        QAction* action = nullptr;  // menu items, and menus as seen by their parent
        QMenu* menu = nullptr;
        ListModel* model = nullptr;
        QTreeView* tree = nullptr;
        int parent = 0;      // containing sheet/tab/menu field
        int tab_index = -1;  // tabs: page index in their sheet
        bool hidden = false;
        bool modified = false;  // entries: edited since last accepted
        bool touched = false;
        bool imm = false;
        bool default_button = false;
        std::string picture;
        std::set<int> alerts;
        Rect du;  // requested rectangle in dialog units
        std::string true_value, false_value;
    };

    // Building the window (gui_controls.cpp). A factory makes the widget or menu action of
    // one control kind for an item whose common members are filled in, and connects its
    // signals; what every widget shares (font, enabled state, place) is done after it.
    using Factory = void (GuiWindow::*)(Item& it, const ControlDef& cd, const CtlState& cs);
    static Factory FactoryFor(ControlType type);  // null for kinds without one
    void Build(const WindowState& st);
    void BuildControls(const WindowState& st, const QFont& font);
    int BuildStatusBar(const WindowState& st);
    void PlaceOnScreen(const WindowState& st);
    QMenu* ParentMenu(const Item& it) const;
    void MakeMenu(Item& it, const ControlDef& cd, const CtlState& cs);
    void MakeMenuItem(Item& it, const ControlDef& cd, const CtlState& cs);
    void MakePrompt(Item& it, const ControlDef& cd, const CtlState& cs);
    void MakeString(Item& it, const ControlDef& cd, const CtlState& cs);
    void MakeText(Item& it, const ControlDef& cd, const CtlState& cs);
    void MakeEntry(Item& it, const ControlDef& cd, const CtlState& cs);
    void MakeButton(Item& it, const ControlDef& cd, const CtlState& cs);
    void MakeToggle(Item& it, const ControlDef& cd, const CtlState& cs);
    void MakeList(Item& it, const ControlDef& cd, const CtlState& cs);
    void MakeDropList(Item& it, const CtlState& cs);
    void MakeTreeList(Item& it, const ControlDef& cd, const CtlState& cs);
    void SetUpListHeader(QTreeView* tv, int field, const ControlDef& cd, const CtlState& cs);
    void ConnectTreeList(QTreeView* tv, int field);
    void MakeSheet(Item& it, const ControlDef& cd, const CtlState& cs);
    void MakeTab(Item& it, const ControlDef& cd, const CtlState& cs);
    void MakeFrame(Item& it, const ControlDef& cd, const CtlState& cs);
    void MakeGroup(Item& it, const ControlDef& cd, const CtlState& cs);
    void MakeImage(Item& it, const ControlDef& cd, const CtlState& cs);
    void MakeSpin(Item& it, const ControlDef& cd, const CtlState& cs);

    void Emit(Event e, int field, int key = 0, int value = 0, bool user = true, const QPoint* pos = nullptr);
    void EmitText(Event e, int field, const std::string& text);
    Item* ItemOf(int field);
    const Item* ItemOf(int field) const;
    int FieldOfWidget(QObject* o) const;
    void UpdateVisibility();
    bool IsAlerted(const Item& it, int key) const;
    void EntryAccepted(Item& it);
    bool ListKey(Item& it, int key);
    void Layout(Item& it);

    std::weak_ptr<ThreadContext> ctx_;
    std::uint64_t id_ = 0;
    QWidget* client_ = nullptr;
    std::vector<Item> items_;
    std::vector<QLabel*> zones_;
    std::set<int> window_alerts_;
    QTimer* timer_ = nullptr;
    QTimer* poll_ = nullptr;
    int dux1000_ = 1500, duy1000_ = 1625;
    bool blocked_ = false;
    bool closing_ = false;
    bool programmatic_ = false;
    bool resizable_ = false;
    int extra_h_ = 0;  // menu bar and status bar height in pixels
};

// UTF-8 text as a QString.
inline QString Q(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<int>(s.size()));
}
// A display-only widget (label, read-only entry or text, status zone) shows its text with
// control characters as visible symbols (VisibleText) and keeps the text it was given, to
// hand back unchanged when asked for it: the text to show in w for `raw`.
QString Shown(QWidget* w, const std::string& raw, bool keep_line_breaks = false);

// The icon of a layer icon name (see Application::IconNames); null icon when unknown.
QIcon IconFor(const std::string& name);
// Qt key event -> key:: code.
int KeyCodeOf(int qt_key, Qt::KeyboardModifiers mods);
// A window or control font from a definition's family and size.
QFont FontFor(const std::string& family, int size, const QFont& base);

}  // namespace dt::ui::detail
