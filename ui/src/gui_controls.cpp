// Building the GUI side of a window (see gui_window.h): the window's font and dialog units,
// one widget or menu action per control, made by the factory of the control's kind, the
// status bar, and the window's size and place on the screen.
#include "ui/src/gui_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QFrame>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSpinBox>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QTimer>
#include <QTreeView>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iterator>

#include "runtime/picture.h"

namespace dt::ui::detail {

namespace {

// Width of a text picture ("s40" -> 40), 0 when none.
int TextWidthOf(const std::string& picture) {
    PictureInfo info = DescribePicture(picture);
    return info.kind == PictureKind::Text ? info.width : 0;
}

Qt::ScrollBarPolicy ScrollBar(bool shown) {
    return shown ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff;
}

// Frames and sheets are drawn behind the controls that sit on them.
bool IsBackdrop(ControlType t) {
    return t == ControlType::Panel || t == ControlType::Sheet || t == ControlType::Group ||
           t == ControlType::Region;
}

}  // namespace

GuiWindow::Factory GuiWindow::FactoryFor(ControlType type) {
    struct Entry {
        ControlType type;
        Factory make;
    };
    static constexpr Entry kFactories[] = {
        {ControlType::Menu, &GuiWindow::MakeMenu},     {ControlType::Item, &GuiWindow::MakeMenuItem},
        {ControlType::Prompt, &GuiWindow::MakePrompt}, {ControlType::String, &GuiWindow::MakeString},
        {ControlType::Text, &GuiWindow::MakeText},     {ControlType::Entry, &GuiWindow::MakeEntry},
        {ControlType::Button, &GuiWindow::MakeButton}, {ControlType::Check, &GuiWindow::MakeToggle},
        {ControlType::Radio, &GuiWindow::MakeToggle},  {ControlType::List, &GuiWindow::MakeList},
        {ControlType::Combo, &GuiWindow::MakeList},    {ControlType::Sheet, &GuiWindow::MakeSheet},
        {ControlType::Tab, &GuiWindow::MakeTab},       {ControlType::Panel, &GuiWindow::MakeFrame},
        {ControlType::Region, &GuiWindow::MakeFrame},  {ControlType::Group, &GuiWindow::MakeGroup},
        {ControlType::Image, &GuiWindow::MakeImage},   {ControlType::Spin, &GuiWindow::MakeSpin},
    };
    auto found = std::find_if(std::begin(kFactories), std::end(kFactories),
                              [type](const Entry& e) { return e.type == type; });
    return found != std::end(kFactories) ? found->make : nullptr;
}

void GuiWindow::Build(const WindowState& st) {
    const WindowDef& def = st.def;
    setAttribute(Qt::WA_DeleteOnClose, false);
    QFont font = FontFor(def.font, def.font_size, QApplication::font());
    setFont(font);
    QFontMetrics fm(font);
    // Dialog units: 4 horizontal units = average character width (over the letters),
    // 8 vertical units = the line height.
    double avg =
        fm.horizontalAdvance(QStringLiteral("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ")) / 52.0;
    dux1000_ = std::max(1, static_cast<int>(std::lround(avg * 1000 / 4)));
    duy1000_ = std::max(1, static_cast<int>(std::lround(fm.height() * 1000.0 / 8)));

    setWindowTitle(Q(st.title));
    QIcon icon = IconFor(def.icon.empty() ? "app" : def.icon);
    if (!icon.isNull()) setWindowIcon(icon);

    client_ = new QWidget(this);
    setCentralWidget(client_);
    resizable_ = def.flags.resizable;

    BuildControls(st, font);
    const int status_h = BuildStatusBar(st);
    const bool has_menu = std::any_of(items_.begin(), items_.end(), [](const Item& it) {
        return it.type == ControlType::Menu || it.type == ControlType::Item;
    });
    int menu_h = has_menu ? menuBar()->sizeHint().height() : 0;
    if (!has_menu) menuBar()->hide();
    extra_h_ = menu_h + status_h;

    PlaceOnScreen(st);
    Qt::WindowFlags flags = Qt::Window | Qt::WindowTitleHint | Qt::WindowMinimizeButtonHint;
    if (def.flags.system_menu) flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (def.flags.maximize_box) flags |= Qt::WindowMaximizeButtonHint;
    setWindowFlags(flags);
    if (def.flags.modal) setWindowModality(Qt::ApplicationModal);
    if (def.flags.no_activate) setAttribute(Qt::WA_ShowWithoutActivating);
    window_alerts_ = st.alerts;
    if (st.maximized) setWindowState(Qt::WindowMaximized);

    if (def.timer > 0) {
        timer_ = new QTimer(this);
        timer_->setInterval(def.timer * 10);
        connect(timer_, &QTimer::timeout, this, [this] { Emit(Event::Timer, 0, 0, 0, false); });
        timer_->start();
    }
    // Lists follow their queues: a cheap poll of the queue's version number.
    poll_ = new QTimer(this);
    poll_->setInterval(200);
    connect(poll_, &QTimer::timeout, this, [this] {
        for (Item& it : items_)
            if (it.model) it.model->Sync();
    });
    poll_->start();
    SetBlocked(st.blocked);
}

// The controls in definition order: each numbered control gets the widget or menu action
// its kind's factory makes; separators are added to their menus.
void GuiWindow::BuildControls(const WindowState& st, const QFont& font) {
    items_.resize(st.ctls.size());
    int field = 0;
    for (const ControlDef& cd : st.def.controls) {
        if (cd.type == ControlType::Separator) {
            if (cd.parent > 0 && cd.parent <= static_cast<int>(items_.size()) && items_[cd.parent - 1].menu)
                items_[cd.parent - 1].menu->addSeparator();
            continue;
        }
        ++field;
        const CtlState& cs = st.ctls[field - 1];
        Item& it = items_[field - 1];
        it.field = field;
        it.type = cd.type;
        it.parent = cd.parent;
        it.hidden = cs.hidden;
        it.picture = cd.picture;
        it.alerts = cs.alerts;
        it.du = cs.at;
        it.imm = cs.imm;
        it.default_button = cd.default_button;
        it.true_value = cd.true_value;
        it.false_value = cd.false_value;
        if (Factory make = FactoryFor(cd.type)) (this->*make)(it, cd, cs);
        if (it.widget) {
            it.widget->installEventFilter(this);
            if (!cd.font.empty() || cd.font_size > 0)
                it.widget->setFont(FontFor(cd.font, cd.font_size, font));
            if (cs.disabled) it.widget->setEnabled(false);
            Layout(it);
        }
        if (it.action && cs.disabled) it.action->setEnabled(false);
    }
    for (Item& it : items_)
        if (it.widget && IsBackdrop(it.type)) it.widget->lower();
    for (Item& it : items_) {
        if (it.type == ControlType::Tab && it.parent > 0) {
            auto* t = qobject_cast<QTabWidget*>(items_[it.parent - 1].widget);
            if (t) t->setTabEnabled(it.tab_index, !st.ctls[it.field - 1].disabled);
        }
    }
    UpdateVisibility();
}

// The status bar with its zones (one zone taking the whole width when none is given);
// returns its height in pixels, 0 when the window has none.
int GuiWindow::BuildStatusBar(const WindowState& st) {
    const WindowDef& def = st.def;
    if (!def.flags.status_bar && def.status_zones.empty()) return 0;
    std::vector<int> zones = def.status_zones;
    if (zones.empty()) zones.push_back(-1);
    for (std::size_t i = 0; i < zones.size(); ++i) {
        auto* l = new QLabel(this);
        l->setTextFormat(Qt::PlainText);
        l->setText(Shown(l, i < st.status.size() ? st.status[i] : std::string()));
        if (zones[i] > 0) {
            l->setFixedWidth(PxX(zones[i]));
            statusBar()->addWidget(l);
        } else {
            statusBar()->addWidget(l, 1);
        }
        zones_.push_back(l);
    }
    statusBar()->setSizeGripEnabled(resizable_);
    return statusBar()->sizeHint().height();
}

// Size and position: the client area is the definition's size in dialog units.
void GuiWindow::PlaceOnScreen(const WindowState& st) {
    QSize client(PxX(std::max(1, st.at.w)), PxY(std::max(1, st.at.h)));
    resize(client.width(), client.height() + extra_h_);
    if (!resizable_) setFixedSize(size());
    SetMin(st.min_size);
    SetMax(st.max_size);
    if (st.def.flags.centered || (st.at.x == 0 && st.at.y == 0)) {
        QScreen* scr = QApplication::primaryScreen();
        if (scr) {
            QRect a = scr->availableGeometry();
            move(a.center() - QPoint(width() / 2, height() / 2));
        }
        return;
    }
    // A window never opens off the screen (a position below another window near the
    // screen's bottom, or one saved on a screen that is gone): a resizable one first
    // gives up to half its height to the room there, then it is moved to fit.
    QPoint at(PxX(st.at.x), PxY(st.at.y));
    QScreen* scr = QApplication::screenAt(at);
    if (!scr) scr = QApplication::primaryScreen();
    if (scr) {
        // The window manager's frame is not known before the window is shown: the
        // style's title bar height stands in for it.
        const int frame = style()->pixelMetric(QStyle::PM_TitleBarHeight);
        const QRect a = scr->availableGeometry().adjusted(0, 0, 0, -frame);
        const int room = a.bottom() + 1 - at.y();
        if (resizable_ && room < height()) resize(width(), std::max({room, height() / 2, minimumHeight()}));
        at.setX(std::max(a.left(), std::min(at.x(), a.right() + 1 - width())));
        at.setY(std::max(a.top(), std::min(at.y(), a.bottom() + 1 - height())));
    }
    move(at);
}

void GuiWindow::Layout(Item& it) {
    if (!it.widget) return;
    Rect r = it.du;
    QSize hint = it.widget->sizeHint();
    int w = r.w > 0 ? PxX(r.w) : hint.width();
    int h = r.h > 0 ? PxY(r.h) : hint.height();
    it.widget->setGeometry(PxX(r.x), PxY(r.y), w, h);
}

// ---------------------------------------------------------------- factories

// The menu holding a menu or menu item: its parent when that is a menu defined before it,
// else none (the item sits on the menu bar).
QMenu* GuiWindow::ParentMenu(const Item& it) const {
    return it.parent > 0 && it.parent < it.field ? items_[it.parent - 1].menu : nullptr;
}

void GuiWindow::MakeMenu(Item& it, const ControlDef&, const CtlState& cs) {
    QMenu* parent = ParentMenu(it);
    it.menu = parent ? parent->addMenu(Q(cs.text)) : menuBar()->addMenu(Q(cs.text));
    it.action = it.menu->menuAction();
}

void GuiWindow::MakeMenuItem(Item& it, const ControlDef& cd, const CtlState& cs) {
    QMenu* parent = ParentMenu(it);
    it.action = parent ? parent->addAction(Q(cs.text)) : menuBar()->addAction(Q(cs.text));
    if (cd.checked || cs.checked) {
        it.action->setCheckable(true);
        it.action->setChecked(cs.checked || cd.checked);
    }
    connect(it.action, &QAction::triggered, this, [this, field = it.field] { Emit(Event::Accepted, field); });
}

void GuiWindow::MakePrompt(Item& it, const ControlDef&, const CtlState& cs) {
    auto* l = new QLabel(client_);
    l->setText(Shown(l, cs.text));
    it.widget = l;
}

void GuiWindow::MakeString(Item& it, const ControlDef& cd, const CtlState& cs) {
    auto* l = cd.elide_middle ? new MiddleElidedLabel(client_) : new QLabel(client_);
    l->setTextFormat(Qt::PlainText);
    l->setText(Shown(l, cs.text));
    if (cd.elide_middle) l->setToolTip(l->text());
    if (cd.right_align) l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    it.widget = l;
}

void GuiWindow::MakeText(Item& it, const ControlDef& cd, const CtlState& cs) {
    auto* t = new QPlainTextEdit(client_);
    t->setReadOnly(true);
    t->setPlainText(Shown(t, cs.text, true));
    t->setVerticalScrollBarPolicy(ScrollBar(cd.vscroll));
    t->setHorizontalScrollBarPolicy(ScrollBar(cd.hscroll));
    it.widget = t;
}

void GuiWindow::MakeEntry(Item& it, const ControlDef& cd, const CtlState& cs) {
    const int field = it.field;
    auto* e = new QLineEdit(client_);
    // What a read-only entry shows cannot be typed back: it shows symbols.
    e->setText(cd.read_only && !cd.password ? Shown(e, cs.text) : Q(cs.text));
    if (cd.password) e->setEchoMode(QLineEdit::Password);
    e->setReadOnly(cd.read_only);
    if (cd.right_align) e->setAlignment(Qt::AlignRight);
    int width = TextWidthOf(cd.picture);
    if (width > 0) e->setMaxLength(width);
    if (DescribePicture(cd.picture).kind == PictureKind::Number) e->setAlignment(Qt::AlignRight);
    connect(e, &QLineEdit::textEdited, this, [this, field, live = cd.live_edits] {
        items_[field - 1].modified = true;
        if (live) Emit(Event::Edited, field);
    });
    connect(e, &QLineEdit::editingFinished, this, [this, field] {
        Item& i = items_[field - 1];
        if (i.modified || i.touched) EntryAccepted(i);
    });
    // Enter accepts the entry, then presses the window's default button.
    connect(e, &QLineEdit::returnPressed, this, [this, field] {
        Item& i = items_[field - 1];
        if (i.modified || i.touched) EntryAccepted(i);
        for (Item& b : items_)
            if (b.default_button && b.widget && b.widget->isEnabled() && b.widget->isVisible())
                Emit(Event::Accepted, b.field);
    });
    it.widget = e;
}

void GuiWindow::MakeButton(Item& it, const ControlDef& cd, const CtlState& cs) {
    auto* b = new QPushButton(Q(cs.text), client_);
    b->setAutoDefault(false);
    b->setDefault(cd.default_button);
    if (!cs.icon.empty()) {
        QIcon ic = IconFor(cs.icon);
        if (!ic.isNull()) {
            b->setIcon(ic);
            b->setIconSize(QSize(16, 16));
        }
    }
    connect(b, &QPushButton::clicked, this, [this, field = it.field] { Emit(Event::Accepted, field); });
    it.widget = b;
}

// Check boxes and radio buttons (a radio button is a push button that stays pressed).
void GuiWindow::MakeToggle(Item& it, const ControlDef& cd, const CtlState& cs) {
    QAbstractButton* b;
    if (cd.type == ControlType::Check)
        b = new QCheckBox(Q(cs.text), client_);
    else
        b = new QPushButton(Q(cs.text), client_);
    b->setCheckable(true);
    b->setChecked(cs.checked);
    connect(b, &QAbstractButton::clicked, this,
            [this, field = it.field](bool on) { Emit(Event::Accepted, field, 0, on ? 1 : 0); });
    it.widget = b;
}

// Lists and drop-down lists share the model over the list's source.
void GuiWindow::MakeList(Item& it, const ControlDef& cd, const CtlState& cs) {
    it.model = new ListModel(cd.from, cs.format, this);
    if (cd.type == ControlType::Combo || cs.drop > 0)
        MakeDropList(it, cs);
    else
        MakeTreeList(it, cd, cs);
}

void GuiWindow::MakeDropList(Item& it, const CtlState& cs) {
    const int field = it.field;
    auto* c = new QComboBox(client_);
    c->setModel(it.model);
    c->setMaxVisibleItems(std::max(1, cs.drop));
    connect(c, &QComboBox::activated, this,
            [this, field](int row) { Emit(Event::Accepted, field, 0, row + 1); });
    connect(c, &QComboBox::currentIndexChanged, this, [this, field](int row) {
        if (!programmatic_) Emit(Event::NewSelection, field, 0, row + 1);
    });
    it.widget = c;
}

void GuiWindow::MakeTreeList(Item& it, const ControlDef& cd, const CtlState& cs) {
    ListModel* model = it.model;
    auto* tv = new QTreeView(client_);
    tv->setRootIsDecorated(false);
    tv->setUniformRowHeights(true);
    tv->setItemsExpandable(false);
    tv->setAllColumnsShowFocus(true);
    tv->setSelectionMode(cd.multi_select ? QAbstractItemView::ExtendedSelection
                                         : QAbstractItemView::SingleSelection);
    tv->setSelectionBehavior(QAbstractItemView::SelectRows);
    tv->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tv->setVerticalScrollBarPolicy(ScrollBar(cd.vscroll));
    tv->setHorizontalScrollBarPolicy(ScrollBar(cd.hscroll));
    tv->setModel(model);
    auto* delegate = new ListDelegate(model, tv);
    delegate->dux1000 = dux1000_;
    tv->setItemDelegate(delegate);
    SetUpListHeader(tv, it.field, cd, cs);
    ConnectTreeList(tv, it.field);
    tv->viewport()->installEventFilter(this);
    it.tree = tv;
    if (model->rowCount() > 0 && cs.selected.size() > 1) {
        programmatic_ = true;
        SetSelectedRows(it.field, cs.selected);
        programmatic_ = false;
    } else if (model->rowCount() > 0) {
        // A list opens on a current row (the one asked for, else the first), so that
        // focusing it later does not invent a selection of its own.
        int row = cs.choice >= 1 && cs.choice <= model->rowCount() ? cs.choice : 1;
        programmatic_ = true;
        tv->setCurrentIndex(model->index(row - 1, 0));
        programmatic_ = false;
    }
    it.widget = tv;
}

// Column widths and resizing, header texts, and the sort indicator of a sortable list.
void GuiWindow::SetUpListHeader(QTreeView* tv, int field, const ControlDef& cd, const CtlState& cs) {
    QHeaderView* header = tv->header();
    bool headers = false;
    for (const auto& c : cs.format.columns) headers = headers || !c.header.empty();
    tv->setHeaderHidden(!headers);
    header->setStretchLastSection(false);
    header->setSectionsMovable(false);
    for (int i = 0; i < static_cast<int>(cs.format.columns.size()); ++i) {
        const ListColumn& c = cs.format.columns[i];
        header->setSectionResizeMode(i, c.resizable ? QHeaderView::Interactive : QHeaderView::Fixed);
        tv->setColumnWidth(i, PxX(c.width));
    }
    if (!cd.sortable) return;
    header->setSectionsClickable(true);
    header->setSortIndicatorShown(cs.sort_column > 0);
    if (cs.sort_column > 0)
        header->setSortIndicator(cs.sort_column - 1,
                                 cs.sort_descending ? Qt::DescendingOrder : Qt::AscendingOrder);
    connect(header, &QHeaderView::sectionClicked, this,
            [this, field](int section) { Emit(Event::HeaderPressed, field, 0, section + 1); });
}

// A new current row gives NewSelection; with Imm, letting go of the scroll bar's thumb
// gives ScrollDrag with its position in percent.
void GuiWindow::ConnectTreeList(QTreeView* tv, int field) {
    connect(tv->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this, field](const QModelIndex& cur, const QModelIndex&) {
                if (!programmatic_ && cur.isValid()) Emit(Event::NewSelection, field, 0, cur.row() + 1);
            });
    connect(tv->verticalScrollBar(), &QScrollBar::sliderReleased, this, [this, field, tv] {
        Item& i = items_[field - 1];
        if (!i.imm) return;
        QScrollBar* sb = tv->verticalScrollBar();
        int range = sb->maximum() - sb->minimum();
        int pct = range > 0 ? (sb->value() - sb->minimum()) * 100 / range : 0;
        Emit(Event::ScrollDrag, field, 0, pct);
    });
}

void GuiWindow::MakeSheet(Item& it, const ControlDef&, const CtlState&) {
    auto* t = new QTabWidget(client_);
    connect(t, &QTabWidget::currentChanged, this, [this, field = it.field](int i) {
        UpdateVisibility();
        if (!programmatic_) Emit(Event::NewSelection, field, 0, i + 1);
    });
    it.widget = t;
}

// A tab is a page of the sheet defined before it; it has no widget of its own.
void GuiWindow::MakeTab(Item& it, const ControlDef&, const CtlState& cs) {
    if (it.parent <= 0 || it.parent >= it.field) return;
    auto* t = qobject_cast<QTabWidget*>(items_[it.parent - 1].widget);
    if (!t) return;
    programmatic_ = true;
    it.tab_index = t->addTab(new QWidget, Q(cs.text));
    programmatic_ = false;
}

// Panels (a sunken frame) and regions (an invisible rectangle).
void GuiWindow::MakeFrame(Item& it, const ControlDef& cd, const CtlState&) {
    auto* f = new QFrame(client_);
    if (cd.type == ControlType::Panel) f->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    it.widget = f;
}

void GuiWindow::MakeGroup(Item& it, const ControlDef&, const CtlState& cs) {
    it.widget = new QGroupBox(Q(cs.text), client_);
}

void GuiWindow::MakeImage(Item& it, const ControlDef&, const CtlState& cs) {
    auto* l = new QLabel(client_);
    QIcon ic = IconFor(cs.icon);
    if (!ic.isNull()) l->setPixmap(ic.pixmap(32, 32));
    it.widget = l;
}

void GuiWindow::MakeSpin(Item& it, const ControlDef&, const CtlState& cs) {
    const int field = it.field;
    auto* s = new QSpinBox(client_);
    s->setRange(-2147483647, 2147483647);
    s->setValue(static_cast<int>(std::strtol(cs.text.c_str(), nullptr, 10)));
    connect(s, &QSpinBox::editingFinished, this, [this, field] {
        auto* sp = qobject_cast<QSpinBox*>(items_[field - 1].widget);
        if (sp) EmitText(Event::Accepted, field, std::to_string(sp->value()));
    });
    it.widget = s;
}

}  // namespace dt::ui::detail
