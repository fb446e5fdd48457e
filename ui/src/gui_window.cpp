// The GUI side of a window (see gui_window.h); its building is in gui_controls.cpp.
#include "ui/src/gui_window.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFontDatabase>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QStyle>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QTreeView>
#include <QWindow>

#include <algorithm>
#include <cmath>

#include "ui/src/value_format.h"
#include "ui/src/visible_text.h"

namespace dt::ui::detail {

namespace {

std::string S(const QString& s) {
    return s.toUtf8().toStdString();
}

// The text a display-only widget was given (see Shown).
constexpr const char* kRawText = "dtRawText";
std::string RawText(const QWidget* w, const QString& shown) {
    const QVariant v = w->property(kRawText);
    return v.isValid() ? v.toByteArray().toStdString() : S(shown);
}

QColor ColorOf(long bgr) {
    return QColor(static_cast<int>(bgr & 0xFF), static_cast<int>((bgr >> 8) & 0xFF),
                  static_cast<int>((bgr >> 16) & 0xFF));
}

Qt::Alignment AlignOf(char a) {
    switch (a) {
        case 'R':
        case 'D':
            return Qt::AlignRight | Qt::AlignVCenter;
        case 'C':
            return Qt::AlignHCenter | Qt::AlignVCenter;
        default:
            return Qt::AlignLeft | Qt::AlignVCenter;
    }
}

bool IsTextType(UseType t) {
    return t == UseType::String || t == UseType::CString;
}

}  // namespace

QString Shown(QWidget* w, const std::string& raw, bool keep_line_breaks) {
    w->setProperty(kRawText, QByteArray(raw.data(), static_cast<qsizetype>(raw.size())));
    return Q(VisibleText(raw, keep_line_breaks));
}

QFont FontFor(const std::string& family, int size, const QFont& base) {
    QFont f = base;
    if (!family.empty() && family != "MS Sans Serif" && family != "System" && family != "MS Shell Dlg") {
        // Other families (Arial, Helvetica...) become the nearest installed sans family.
        QString fam = Q(family);
        if (!QFontDatabase::families().contains(fam, Qt::CaseInsensitive))
            fam = QStringLiteral("DejaVu Sans");
        f.setFamily(fam);
    }
    if (size > 0) f.setPointSize(size);
    return f;
}

int KeyCodeOf(int k, Qt::KeyboardModifiers mods) {
    int code = 0;
    if (k >= Qt::Key_A && k <= Qt::Key_Z)
        code = 'A' + (k - Qt::Key_A);
    else if (k >= Qt::Key_0 && k <= Qt::Key_9)
        code = '0' + (k - Qt::Key_0);
    else if (k >= Qt::Key_F1 && k <= Qt::Key_F12)
        code = key::F1 + (k - Qt::Key_F1);
    else {
        switch (k) {
            case Qt::Key_Return:
            case Qt::Key_Enter:
                code = key::Enter;
                break;
            case Qt::Key_Escape:
                code = key::Esc;
                break;
            case Qt::Key_Tab:
            case Qt::Key_Backtab:
                code = key::Tab;
                break;
            case Qt::Key_Backspace:
                code = key::BackSpace;
                break;
            case Qt::Key_Space:
                code = key::Space;
                break;
            case Qt::Key_PageUp:
                code = key::PgUp;
                break;
            case Qt::Key_PageDown:
                code = key::PgDn;
                break;
            case Qt::Key_End:
                code = key::End;
                break;
            case Qt::Key_Home:
                code = key::Home;
                break;
            case Qt::Key_Left:
                code = key::Left;
                break;
            case Qt::Key_Up:
                code = key::Up;
                break;
            case Qt::Key_Right:
                code = key::Right;
                break;
            case Qt::Key_Down:
                code = key::Down;
                break;
            case Qt::Key_Insert:
                code = key::Insert;
                break;
            case Qt::Key_Delete:
                code = key::Delete;
                break;
            default:
                return 0;
        }
    }
    if (mods & Qt::ShiftModifier) code |= key::kShift;
    if (mods & Qt::ControlModifier) code |= key::kCtrl;
    if (mods & Qt::AltModifier) code |= key::kAlt;
    return code;
}

// ---------------------------------------------------------------- ListModel

ListModel::ListModel(std::shared_ptr<ListSource> src, ListFormat fmt, QObject* parent)
    : QAbstractTableModel(parent), src_(std::move(src)), fmt_(std::move(fmt)) {
    if (src_) {
        version_ = src_->Version();
        rows_ = static_cast<int>(std::min<std::size_t>(src_->Records(), 0x7FFFFFFF));
    }
}

int ListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rows_;
}

int ListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : std::max<int>(1, static_cast<int>(fmt_.columns.size()));
}

std::string ListModel::CellText(int row, int column) const {
    if (!src_) return {};
    const auto& fields = src_->Fields();
    std::string out;
    if (fmt_.columns.empty()) {
        // No format: the first field as text.
        if (fields.empty()) return {};
        src_->WithRow(row + 1, [&](const char* e) {
            out = FormatValue(fields[0].type, e + fields[0].offset, fields[0].size, "");
        });
        return out;
    }
    if (column < 0 || column >= static_cast<int>(fmt_.columns.size())) return {};
    const ListColumn& c = fmt_.columns[column];
    if (c.field < 0 || c.field >= static_cast<int>(fields.size())) return {};
    const QueueField& f = fields[c.field];
    src_->WithRow(row + 1,
                  [&](const char* e) { out = FormatValue(f.type, e + f.offset, f.size, c.picture); });
    if (!IsTextType(f.type)) {
        std::size_t b = out.find_first_not_of(' ');
        out = b == std::string::npos ? std::string() : out.substr(b);
    }
    return out;
}

long ListModel::CellColor(int row, int column, int which) const {
    if (!src_ || column < 0 || column >= static_cast<int>(fmt_.columns.size())) return -1;
    const ListColumn& c = fmt_.columns[column];
    const auto& fields = src_->Fields();
    int fi = c.color_field + which;
    if (c.color_field < 0 || fi >= static_cast<int>(fields.size())) return -1;
    const QueueField& f = fields[fi];
    long v = -1;
    src_->WithRow(row + 1,
                  [&](const char* e) { v = static_cast<long>(NumberOf(f.type, e + f.offset, f.size)); });
    return v;
}

QVariant ListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rows_) return {};
    // A name's control characters show as symbols, never as line breaks or tabs.
    if (role == Qt::DisplayRole) return Q(VisibleText(CellText(index.row(), index.column())));
    if (role == Qt::TextAlignmentRole && index.column() < static_cast<int>(fmt_.columns.size()))
        return static_cast<int>(AlignOf(fmt_.columns[index.column()].align));
    if (role == Qt::ForegroundRole) {
        long v = CellColor(index.row(), index.column(), 0);
        if (v != -1) return ColorOf(v);
    }
    if (role == Qt::BackgroundRole) {
        long v = CellColor(index.row(), index.column(), 1);
        if (v != -1) return ColorOf(v);
    }
    return {};
}

QVariant ListModel::headerData(int section, Qt::Orientation o, int role) const {
    if (o != Qt::Horizontal || section < 0 || section >= static_cast<int>(fmt_.columns.size())) return {};
    const ListColumn& c = fmt_.columns[section];
    if (role == Qt::DisplayRole) return Q(VisibleText(c.header));
    if (role == Qt::TextAlignmentRole) return static_cast<int>(AlignOf(c.header_align));
    return {};
}

bool ListModel::Sync() {
    if (!src_) return false;
    unsigned long v = src_->Version();
    if (v == version_) return false;
    version_ = v;
    int n = static_cast<int>(std::min<std::size_t>(src_->Records(), 0x7FFFFFFF));
    if (n > rows_) {
        beginInsertRows({}, rows_, n - 1);
        rows_ = n;
        endInsertRows();
    } else if (n < rows_) {
        beginRemoveRows({}, n, rows_ - 1);
        rows_ = n;
        endRemoveRows();
    }
    if (rows_ > 0) emit dataChanged(index(0, 0), index(rows_ - 1, columnCount() - 1));
    return true;
}

void ListDelegate::paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const ListFormat& fmt = model_->Format();
    int col = index.column();
    const ListColumn* c = col < static_cast<int>(fmt.columns.size()) ? &fmt.columns[col] : nullptr;
    bool selected = opt.state & QStyle::State_Selected;
    if (selected && c && c->colors) {
        long sf = model_->CellColor(index.row(), col, 2), sb = model_->CellColor(index.row(), col, 3);
        if (sf != -1) opt.palette.setColor(QPalette::HighlightedText, ColorOf(sf));
        if (sb != -1) opt.palette.setColor(QPalette::Highlight, ColorOf(sb));
    }
    QString text = opt.text;
    opt.text.clear();
    const QWidget* w = opt.widget;
    QStyle* style = w ? w->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &opt, p, w);
    QRect r = opt.rect.adjusted(2, 0, -2, 0);
    if (c) {
        int indent = c->indent * dux1000 / 1000;
        if (c->align == 'R' || c->align == 'D')
            r.adjust(0, 0, -indent, 0);
        else if (c->align != 'C')
            r.adjust(indent, 0, 0, 0);
    }
    p->save();
    QFont f = opt.font;
    if (c && c->underline) f.setUnderline(true);
    p->setFont(f);
    QColor fg = selected ? opt.palette.color(QPalette::HighlightedText) : opt.palette.color(QPalette::Text);
    if (!selected) {
        QVariant v = index.data(Qt::ForegroundRole);
        if (v.canConvert<QColor>()) fg = v.value<QColor>();
    }
    p->setPen(fg);
    p->drawText(r, static_cast<int>(AlignOf(c ? c->align : 'L')),
                opt.fontMetrics.elidedText(text, Qt::ElideRight, r.width()));
    if (c && c->right_border) {
        p->setPen(opt.palette.color(QPalette::Mid));
        p->drawLine(opt.rect.topRight(), opt.rect.bottomRight());
    }
    p->restore();
}

// ---------------------------------------------------------------- GuiWindow

GuiWindow::GuiWindow(const WindowState& st) : ctx_(st.ctx), id_(st.id) {
    Build(st);
}

GuiWindow::~GuiWindow() = default;

int GuiWindow::PxX(int du) const {
    return static_cast<int>(std::lround(du * static_cast<double>(dux1000_) / 1000));
}
int GuiWindow::PxY(int du) const {
    return static_cast<int>(std::lround(du * static_cast<double>(duy1000_) / 1000));
}
int GuiWindow::DuX(int px) const {
    return static_cast<int>(std::lround(px * 1000.0 / dux1000_));
}
int GuiWindow::DuY(int px) const {
    return static_cast<int>(std::lround(px * 1000.0 / duy1000_));
}

GuiWindow::Item* GuiWindow::ItemOf(int field) {
    return field >= 1 && field <= static_cast<int>(items_.size()) ? &items_[field - 1] : nullptr;
}
const GuiWindow::Item* GuiWindow::ItemOf(int field) const {
    return field >= 1 && field <= static_cast<int>(items_.size()) ? &items_[field - 1] : nullptr;
}

QWidget* GuiWindow::Widget(int field) const {
    const Item* it = ItemOf(field);
    return it ? it->widget : nullptr;
}

ListModel* GuiWindow::Model(int field) const {
    const Item* it = ItemOf(field);
    return it ? it->model : nullptr;
}

int GuiWindow::FieldOfWidget(QObject* o) const {
    for (const Item& it : items_) {
        if (!it.widget) continue;
        if (o == it.widget || (it.tree && o == it.tree->viewport())) return it.field;
    }
    return 0;
}

void GuiWindow::UpdateVisibility() {
    for (Item& it : items_) {
        bool visible = !it.hidden;
        // A control on a tab shows only while its tab is the sheet's current one.
        int p = it.parent;
        int guard = 0;
        while (visible && p > 0 && guard++ < 64) {
            const Item* par = ItemOf(p);
            if (!par) break;
            if (par->hidden) visible = false;
            if (par->type == ControlType::Tab && par->parent > 0) {
                const Item* sheet = ItemOf(par->parent);
                auto* t = sheet ? qobject_cast<QTabWidget*>(sheet->widget) : nullptr;
                if (t && t->currentIndex() != par->tab_index) visible = false;
            }
            p = par->parent;
        }
        if (it.widget) it.widget->setVisible(visible);
        if (it.action) it.action->setVisible(!it.hidden);
        if (it.type == ControlType::Tab && it.parent > 0) {
            const Item* sheet = ItemOf(it.parent);
            auto* t = sheet ? qobject_cast<QTabWidget*>(sheet->widget) : nullptr;
            if (t) t->setTabVisible(it.tab_index, !it.hidden);
        }
    }
}

void GuiWindow::Emit(Event e, int field, int key, int value, bool user, const QPoint* pos) {
    if (user && blocked_) return;
    auto c = ctx_.lock();
    if (!c) return;
    EventRecord r;
    r.window = id_;
    r.event = e;
    r.field = field;
    r.keycode = key;
    r.value = value;
    r.user_input = user;
    QPoint p = pos ? *pos : client_->mapFromGlobal(QCursor::pos());
    r.mouse_x = DuX(p.x());
    r.mouse_y = DuY(p.y());
    c->Push(std::move(r));
}

void GuiWindow::EmitText(Event e, int field, const std::string& text) {
    if (blocked_) return;
    auto c = ctx_.lock();
    if (!c) return;
    EventRecord r;
    r.window = id_;
    r.event = e;
    r.field = field;
    r.has_text = true;
    r.text = text;
    r.user_input = true;
    c->Push(std::move(r));
}

void GuiWindow::EntryAccepted(Item& it) {
    it.modified = false;
    it.touched = false;
    auto* e = qobject_cast<QLineEdit*>(it.widget);
    if (e) EmitText(Event::Accepted, it.field, S(e->text()));
}

bool GuiWindow::IsAlerted(const Item& it, int key) const {
    return it.alerts.count(key) > 0 || window_alerts_.count(key) > 0;
}

// Keys on a list: alerted keys give AlertKey; Enter accepts; with Imm the edges of the
// list give the scroll events so that a paging browse can fetch more rows.
bool GuiWindow::ListKey(Item& it, int key) {
    if (IsAlerted(it, key)) {
        Emit(Event::AlertKey, it.field, key);
        return true;
    }
    if (key == key::Enter) {
        Emit(Event::Accepted, it.field, key, Choice(it.field));
        return true;
    }
    if (!it.imm || !it.tree) return false;
    int row = it.tree->currentIndex().isValid() ? it.tree->currentIndex().row() : -1;
    int last = it.model ? it.model->rowCount() - 1 : -1;
    switch (key) {
        case key::Up:
            if (row <= 0) return Emit(Event::ScrollUp, it.field, key), true;
            break;
        case key::Down:
            if (row >= last) return Emit(Event::ScrollDown, it.field, key), true;
            break;
        case key::PgUp:
            if (row <= 0) return Emit(Event::PageUp, it.field, key), true;
            break;
        case key::PgDn:
            if (row >= last) return Emit(Event::PageDown, it.field, key), true;
            break;
        case key::kCtrl | key::Home:
            return Emit(Event::ScrollTop, it.field, key), true;
        case key::kCtrl | key::End:
            return Emit(Event::ScrollBottom, it.field, key), true;
        default:
            break;
    }
    return false;
}

bool GuiWindow::eventFilter(QObject* o, QEvent* e) {
    int field = FieldOfWidget(o);
    Item* it = ItemOf(field);
    if (!it) return QMainWindow::eventFilter(o, e);
    switch (e->type()) {
        case QEvent::KeyPress: {
            if (blocked_) return true;
            auto* k = static_cast<QKeyEvent*>(e);
            int code = KeyCodeOf(k->key(), k->modifiers());
            if (code == 0) break;
            if (it->tree) {
                if (ListKey(*it, code)) return true;
                if (it->imm && !k->text().isEmpty() && k->text()[0].isPrint() && !(code & key::kCtrl)) {
                    Emit(Event::Locate, field, code);
                    return true;
                }
                break;
            }
            if (IsAlerted(*it, code)) {
                Emit(Event::AlertKey, field, code);
                return true;
            }
            break;
        }
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseButtonRelease: {
            if (blocked_) return true;
            auto* m = static_cast<QMouseEvent*>(e);
            int code = 0;
            bool dbl = e->type() == QEvent::MouseButtonDblClick;
            bool up = e->type() == QEvent::MouseButtonRelease;
            if (m->button() == Qt::LeftButton)
                code = up ? key::MouseLeftUp : dbl ? key::MouseLeft2 : key::MouseLeft;
            else if (m->button() == Qt::RightButton)
                code = up ? key::MouseRightUp : dbl ? key::MouseRight2 : key::MouseRight;
            else if (m->button() == Qt::MiddleButton && !up)
                code = key::MouseCenter;
            if (code == 0) break;
            QWidget* w = qobject_cast<QWidget*>(o);
            QPoint pos = w ? w->mapTo(client_, m->position().toPoint()) : QPoint();
            if (it->tree && (code == key::MouseRight || code == key::MouseLeft2)) {
                // The row under the mouse becomes current first, so the handler reads it. A
                // right click on a row of a selection of several keeps the selection.
                QModelIndex idx = it->tree->indexAt(m->position().toPoint());
                QItemSelectionModel* sel = it->tree->selectionModel();
                if (idx.isValid() && code == key::MouseRight && sel->isRowSelected(idx.row()) &&
                    sel->selectedRows().size() > 1)
                    sel->setCurrentIndex(idx, QItemSelectionModel::NoUpdate);
                else if (idx.isValid())
                    it->tree->setCurrentIndex(idx);
            }
            if (IsAlerted(*it, code)) {
                Emit(Event::AlertKey, field, code, 0, true, &pos);
                if (code != key::MouseLeft) return true;
                break;
            }
            if (it->tree && code == key::MouseLeft2) {
                Emit(Event::Accepted, field, code, Choice(field), true, &pos);
                return true;
            }
            break;
        }
        case QEvent::FocusIn: {
            auto* f = static_cast<QFocusEvent*>(e);
            if (f->reason() == Qt::MouseFocusReason || f->reason() == Qt::TabFocusReason ||
                f->reason() == Qt::BacktabFocusReason || f->reason() == Qt::ShortcutFocusReason)
                Emit(Event::Selected, field);
            break;
        }
        case QEvent::Wheel: {
            if (blocked_) return true;
            if (it->tree && it->imm) {
                auto* w = static_cast<QWheelEvent*>(e);
                QScrollBar* sb = it->tree->verticalScrollBar();
                int dy = w->angleDelta().y();
                if (dy > 0 && sb->value() == sb->minimum()) Emit(Event::ScrollUp, field);
                if (dy < 0 && sb->value() == sb->maximum()) Emit(Event::ScrollDown, field);
            }
            break;
        }
        default:
            break;
    }
    return QMainWindow::eventFilter(o, e);
}

void GuiWindow::closeEvent(QCloseEvent* e) {
    if (closing_) {
        e->accept();
        return;
    }
    e->ignore();
    Emit(Event::CloseWindow, 0);
}

void GuiWindow::resizeEvent(QResizeEvent* e) {
    QMainWindow::resizeEvent(e);
    if (isVisible()) Emit(Event::Sized, 0, 0, 0, false);
}

void GuiWindow::moveEvent(QMoveEvent* e) {
    QMainWindow::moveEvent(e);
    if (isVisible()) Emit(Event::Moved, 0, 0, 0, false);
}

void GuiWindow::changeEvent(QEvent* e) {
    QMainWindow::changeEvent(e);
    if (e->type() == QEvent::WindowStateChange) {
        if (windowState() & Qt::WindowMinimized)
            Emit(Event::Iconized, 0, 0, 0, false);
        else if (windowState() & Qt::WindowMaximized)
            Emit(Event::Maximized, 0, 0, 0, false);
        else
            Emit(Event::Restored, 0, 0, 0, false);
    } else if (e->type() == QEvent::ActivationChange) {
        Emit(isActiveWindow() ? Event::GainFocus : Event::LoseFocus, 0, 0, 0, false);
    }
}

QString MiddleElidedLabel::Painted() const {
    const int room = contentsRect().width() - 2 * margin();
    return fontMetrics().elidedText(text(), Qt::ElideMiddle, std::max(room, 0));
}

void MiddleElidedLabel::paintEvent(QPaintEvent* e) {
    (void)e;
    QPainter p(this);
    drawFrame(&p);
    const QRect r = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
    style()->drawItemText(&p, r, static_cast<int>(alignment()), palette(), isEnabled(), Painted(),
                          foregroundRole());
}

void GuiWindow::SetText(int field, const std::string& text) {
    Item* it = ItemOf(field);
    if (!it) return;
    QString t = Q(text);
    if (it->type == ControlType::Tab && it->parent > 0) {
        auto* s = qobject_cast<QTabWidget*>(Widget(it->parent));
        if (s) s->setTabText(it->tab_index, t);
        return;
    }
    if (it->menu)
        it->menu->setTitle(t);
    else if (it->action)
        it->action->setText(t);
    if (!it->widget) return;
    if (auto* l = qobject_cast<QLabel*>(it->widget)) {
        l->setText(Shown(l, text));
        if (qobject_cast<MiddleElidedLabel*>(l)) l->setToolTip(l->text());
    } else if (auto* e = qobject_cast<QLineEdit*>(it->widget)) {
        const QString shown = e->isReadOnly() && e->echoMode() == QLineEdit::Normal ? Shown(e, text) : t;
        if (e->text() != shown) e->setText(shown);
        it->modified = false;
    } else if (auto* b = qobject_cast<QAbstractButton*>(it->widget))
        b->setText(t);
    else if (auto* p = qobject_cast<QPlainTextEdit*>(it->widget))
        p->setPlainText(Shown(p, text, true));
    else if (auto* g = qobject_cast<QGroupBox*>(it->widget))
        g->setTitle(t);
    else if (auto* s = qobject_cast<QSpinBox*>(it->widget))
        s->setValue(t.toInt());
}

std::string GuiWindow::Text(int field) const {
    if (field == 0) return S(windowTitle());
    const Item* it = ItemOf(field);
    if (!it) return {};
    if (it->type == ControlType::Tab && it->parent > 0) {
        auto* s = qobject_cast<QTabWidget*>(Widget(it->parent));
        return s ? S(s->tabText(it->tab_index)) : std::string();
    }
    if (it->menu) return S(it->menu->title());
    if (it->action) return S(it->action->text());
    if (!it->widget) return {};
    if (auto* l = qobject_cast<QLabel*>(it->widget)) return RawText(l, l->text());
    if (auto* e = qobject_cast<QLineEdit*>(it->widget))
        return e->isReadOnly() && e->echoMode() == QLineEdit::Normal ? RawText(e, e->text()) : S(e->text());
    if (auto* b = qobject_cast<QAbstractButton*>(it->widget)) return S(b->text());
    if (auto* p = qobject_cast<QPlainTextEdit*>(it->widget)) return RawText(p, p->toPlainText());
    if (auto* g = qobject_cast<QGroupBox*>(it->widget)) return S(g->title());
    if (auto* s = qobject_cast<QSpinBox*>(it->widget)) return std::to_string(s->value());
    if (it->model) {
        int row = Choice(field);
        if (row < 1) return {};
        std::string out;
        for (int c = 0; c < it->model->columnCount(); ++c) {
            if (c) out += '\t';
            out += it->model->CellText(row - 1, c);
        }
        return out;
    }
    return {};
}

void GuiWindow::SetRect(int field, Rect r) {
    Item* it = ItemOf(field);
    if (!it) return;
    it->du = r;
    Layout(*it);
}

Rect GuiWindow::GetRect(int field) const {
    const Item* it = ItemOf(field);
    if (!it || !it->widget) return {};
    QRect g = it->widget->geometry();
    return Rect{g.x(), g.y(), g.width(), g.height()};
}

void GuiWindow::SetHidden(int field, bool hidden) {
    Item* it = ItemOf(field);
    if (!it) return;
    it->hidden = hidden;
    UpdateVisibility();
}

void GuiWindow::SetDisabled(int field, bool disabled) {
    Item* it = ItemOf(field);
    if (!it) return;
    if (it->widget) it->widget->setEnabled(!disabled);
    if (it->action) it->action->setEnabled(!disabled);
    if (it->type == ControlType::Tab && it->parent > 0) {
        auto* s = qobject_cast<QTabWidget*>(Widget(it->parent));
        if (s) s->setTabEnabled(it->tab_index, !disabled);
    }
}

void GuiWindow::SetChecked(int field, bool on) {
    Item* it = ItemOf(field);
    if (!it) return;
    if (auto* b = qobject_cast<QAbstractButton*>(it->widget)) b->setChecked(on);
    if (it->action) {
        it->action->setCheckable(true);
        it->action->setChecked(on);
    }
}

bool GuiWindow::Checked(int field) const {
    const Item* it = ItemOf(field);
    if (!it) return false;
    if (auto* b = qobject_cast<QAbstractButton*>(it->widget)) return b->isChecked();
    if (it->action) return it->action->isChecked();
    return false;
}

void GuiWindow::SetChoice(int field, int row) {
    Item* it = ItemOf(field);
    if (!it) return;
    if (auto* t = qobject_cast<QTabWidget*>(it->widget)) {
        programmatic_ = true;
        if (row >= 1 && row <= t->count()) t->setCurrentIndex(row - 1);
        programmatic_ = false;
        return;
    }
    if (!it->model) return;
    it->model->Sync();
    programmatic_ = true;
    if (it->tree) {
        if (row >= 1 && row <= it->model->rowCount()) {
            QModelIndex idx = it->model->index(row - 1, 0);
            it->tree->setCurrentIndex(idx);
            it->tree->scrollTo(idx);
        } else {
            it->tree->setCurrentIndex({});
            it->tree->clearSelection();
        }
    } else if (auto* c = qobject_cast<QComboBox*>(it->widget)) {
        c->setCurrentIndex(row - 1);
    }
    programmatic_ = false;
}

int GuiWindow::Choice(int field) const {
    const Item* it = ItemOf(field);
    if (!it) return 0;
    if (it->tree) {
        QModelIndex i = it->tree->currentIndex();
        return i.isValid() ? i.row() + 1 : 0;
    }
    if (auto* c = qobject_cast<QComboBox*>(it->widget)) return c->currentIndex() + 1;
    if (auto* t = qobject_cast<QTabWidget*>(it->widget)) return t->currentIndex() + 1;
    return 0;
}

std::vector<int> GuiWindow::SelectedRows(int field) const {
    const Item* it = ItemOf(field);
    std::vector<int> rows;
    if (!it || !it->tree) return rows;
    for (const QModelIndex& i : it->tree->selectionModel()->selectedRows()) rows.push_back(i.row() + 1);
    std::sort(rows.begin(), rows.end());
    if (rows.empty() && it->tree->selectionMode() == QAbstractItemView::SingleSelection) {
        const int row = Choice(field);
        if (row > 0) rows.push_back(row);
    }
    return rows;
}

void GuiWindow::SetSelectedRows(int field, const std::vector<int>& rows) {
    Item* it = ItemOf(field);
    if (!it || !it->tree || !it->model) return;
    it->model->Sync();
    QItemSelectionModel* sel = it->tree->selectionModel();
    const bool was = programmatic_;
    programmatic_ = true;
    sel->clearSelection();
    bool first = true;
    for (int row : rows) {
        if (row < 1 || row > it->model->rowCount()) continue;
        const QModelIndex idx = it->model->index(row - 1, 0);
        if (first) {
            sel->setCurrentIndex(idx, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
            it->tree->scrollTo(idx);
            first = false;
        } else {
            sel->select(idx, QItemSelectionModel::Select | QItemSelectionModel::Rows);
        }
    }
    programmatic_ = was;
}

void GuiWindow::SetSortIndicator(int field, int column, bool descending) {
    Item* it = ItemOf(field);
    if (!it || !it->tree) return;
    QHeaderView* h = it->tree->header();
    h->setSortIndicatorShown(column > 0);
    if (column > 0) h->setSortIndicator(column - 1, descending ? Qt::DescendingOrder : Qt::AscendingOrder);
}

int GuiWindow::SelectedTab(int field) const {
    const Item* it = ItemOf(field);
    auto* t = it ? qobject_cast<QTabWidget*>(it->widget) : nullptr;
    if (!t) return 0;
    for (const Item& x : items_)
        if (x.type == ControlType::Tab && x.parent == field && x.tab_index == t->currentIndex())
            return x.field;
    return 0;
}

void GuiWindow::SetColumnWidth(int field, int column, int du) {
    Item* it = ItemOf(field);
    if (it && it->tree && column >= 1) it->tree->setColumnWidth(column - 1, PxX(du));
}

int GuiWindow::ColumnWidth(int field, int column) const {
    const Item* it = ItemOf(field);
    if (!it || !it->tree || column < 1 || column > it->model->columnCount()) return 0;
    return DuX(it->tree->columnWidth(column - 1));
}

void GuiWindow::SetIcon(int field, const std::string& name) {
    QIcon ic = IconFor(name);
    if (field == 0) {
        setWindowIcon(ic);
        return;
    }
    Item* it = ItemOf(field);
    if (!it) return;
    if (auto* b = qobject_cast<QAbstractButton*>(it->widget))
        b->setIcon(ic);
    else if (auto* l = qobject_cast<QLabel*>(it->widget))
        l->setPixmap(ic.isNull() ? QPixmap() : ic.pixmap(32, 32));
    else if (it->action)
        it->action->setIcon(ic);
}

void GuiWindow::SetFont(int field, const std::string& family, int size) {
    if (field == 0) {
        setFont(FontFor(family, size, font()));
        return;
    }
    QWidget* w = Widget(field);
    if (w) w->setFont(FontFor(family, size, w->font()));
}

void GuiWindow::SetColor(int field, long text, long background) {
    QWidget* w = field == 0 ? client_ : Widget(field);
    if (!w) return;
    QPalette p = w->palette();
    if (text != -1) {
        p.setColor(QPalette::WindowText, ColorOf(text));
        p.setColor(QPalette::Text, ColorOf(text));
    }
    if (background != -1) {
        p.setColor(QPalette::Window, ColorOf(background));
        p.setColor(QPalette::Base, ColorOf(background));
        w->setAutoFillBackground(true);
    }
    w->setPalette(p);
}

void GuiWindow::SetAlerts(int field, const std::set<int>& keys) {
    Item* it = ItemOf(field);
    if (it) it->alerts = keys;
}

void GuiWindow::SetTouched(int field, bool on) {
    Item* it = ItemOf(field);
    if (it) it->touched = on;
}

void GuiWindow::SetImm(int field, bool on) {
    Item* it = ItemOf(field);
    if (it) it->imm = on;
}

void GuiWindow::RefreshList(int field) {
    Item* it = ItemOf(field);
    if (it && it->model) it->model->Sync();
}

void GuiWindow::SetFocusField(int field) {
    Item* it = ItemOf(field);
    if (it && it->type == ControlType::Tab && it->parent > 0) {
        // Selecting a tab brings its page to the front.
        SetChoice(it->parent, it->tab_index + 1);
        return;
    }
    QWidget* w = Widget(field);
    if (w) w->setFocus(Qt::OtherFocusReason);
}

int GuiWindow::FocusField() const {
    QWidget* f = QApplication::focusWidget();
    if (!f) return 0;
    for (const Item& it : items_) {
        if (!it.widget) continue;
        if (f == it.widget || it.widget->isAncestorOf(f)) return it.field;
    }
    return 0;
}

void GuiWindow::SetStatus(int zone, const std::string& text) {
    if (zone >= 1 && zone <= static_cast<int>(zones_.size()))
        zones_[zone - 1]->setText(Shown(zones_[zone - 1], text));
}

std::string GuiWindow::Status(int zone) const {
    if (zone >= 1 && zone <= static_cast<int>(zones_.size()))
        return RawText(zones_[zone - 1], zones_[zone - 1]->text());
    return {};
}

void GuiWindow::SetMin(Rect r) {
    if (!resizable_) return;
    setMinimumSize(r.w > 0 ? PxX(r.w) : 0, r.h > 0 ? PxY(r.h) + extra_h_ : 0);
}

void GuiWindow::SetMax(Rect r) {
    if (!resizable_) return;
    setMaximumSize(r.w > 0 ? PxX(r.w) : QWIDGETSIZE_MAX, r.h > 0 ? PxY(r.h) + extra_h_ : QWIDGETSIZE_MAX);
}

Placement GuiWindow::GetPlacement() const {
    Placement p;
    QRect g = (windowState() & (Qt::WindowMaximized | Qt::WindowMinimized)) ? normalGeometry() : geometry();
    if (!g.isValid()) g = geometry();
    QSize c = client_->size();
    if (windowState() & (Qt::WindowMaximized | Qt::WindowMinimized))
        c = QSize(g.width(), g.height() - extra_h_);
    p.at = Rect{DuX(g.x()), DuY(g.y()), DuX(c.width()), DuY(c.height())};
    p.maximized = windowState() & Qt::WindowMaximized;
    p.iconized = windowState() & Qt::WindowMinimized;
    return p;
}

void GuiWindow::SetPlacement(const Placement& p) {
    setWindowState(Qt::WindowNoState);
    QSize s = size();
    if (p.at.w > 0 && p.at.h > 0) {
        s = QSize(PxX(p.at.w), PxY(p.at.h) + extra_h_);
        if (!resizable_) setFixedSize(s);
    }
    // GetPlacement's position is the area inside the frame (geometry()), and so is
    // setGeometry's; move() would place the frame there, and a window put back where it
    // said it was would move down and right by its frame each time.
    setGeometry(QRect(QPoint(PxX(p.at.x), PxY(p.at.y)), s));
    if (p.maximized)
        setWindowState(Qt::WindowMaximized);
    else if (p.iconized)
        setWindowState(Qt::WindowMinimized);
}

void GuiWindow::SetBlocked(bool on) {
    blocked_ = on;
    client_->setEnabled(!on);
    menuBar()->setEnabled(!on);
}

void GuiWindow::CloseNow() {
    closing_ = true;
    if (timer_) timer_->stop();
    poll_->stop();
    close();
}

bool GuiWindow::ClickField(int field) {
    Item* it = ItemOf(field);
    if (!it || blocked_) return false;
    if (it->action && !it->menu) {
        if (!it->action->isEnabled()) return false;
        it->action->trigger();
        return true;
    }
    if (auto* b = qobject_cast<QAbstractButton*>(it->widget)) {
        // A user can press only what is shown and enabled (a control on another tab is not).
        if (!b->isEnabled() || !b->isVisibleTo(this)) return false;
        b->click();
        return true;
    }
    if (it->tree) return ListKey(*it, key::Enter);
    return false;
}

bool GuiWindow::TypeInto(int field, const std::string& text) {
    Item* it = ItemOf(field);
    auto* e = it ? qobject_cast<QLineEdit*>(it->widget) : nullptr;
    if (!e || e->isReadOnly() || !e->isEnabled() || blocked_) return false;
    QString t = Q(text);
    if (e->text() != t) {
        e->setText(t);
        it->modified = true;
    }
    if (it->modified || it->touched) EntryAccepted(*it);
    return true;
}

bool GuiWindow::TypeKeys(int field, const std::string& text) {
    Item* it = ItemOf(field);
    auto* e = it ? qobject_cast<QLineEdit*>(it->widget) : nullptr;
    if (!e || e->isReadOnly() || !e->isEnabled() || blocked_) return false;
    e->setFocus(Qt::OtherFocusReason);
    for (const QChar c : Q(text)) {
        const bool back = c == QLatin1Char('\b');
        QKeyEvent press(QEvent::KeyPress, back ? Qt::Key_Backspace : 0, Qt::NoModifier,
                        back ? QString() : QString(c));
        QCoreApplication::sendEvent(e, &press);
    }
    return true;
}

bool GuiWindow::Press(int field, int code) {
    Item* it = ItemOf(field);
    if (!it || blocked_) return false;
    if (key::IsMouse(code)) {
        QPoint pos = it->widget ? it->widget->geometry().center() : QPoint();
        if (IsAlerted(*it, code)) {
            Emit(Event::AlertKey, field, code, 0, true, &pos);
            return true;
        }
        if (it->tree && code == key::MouseLeft2) {
            Emit(Event::Accepted, field, code, Choice(field), true, &pos);
            return true;
        }
        return false;
    }
    if (it->tree) return ListKey(*it, code);
    if (IsAlerted(*it, code)) {
        Emit(Event::AlertKey, field, code);
        return true;
    }
    if (code == key::Enter) {
        if (qobject_cast<QLineEdit*>(it->widget)) {
            emit qobject_cast<QLineEdit*>(it->widget)->returnPressed();
            return true;
        }
        return ClickField(field);
    }
    return false;
}

}  // namespace dt::ui::detail
