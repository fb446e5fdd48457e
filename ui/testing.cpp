// Test hooks of the window layer (see testing.h).
#include "ui/testing.h"

#include <QApplication>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScreen>
#include <QTreeView>
#include <QWidget>

#include <cstdlib>

#include "platform/text.h"
#include "runtime/picture.h"
#include "runtime/stddate.h"
#include "ui/src/gui_window.h"
#include "ui/src/window_state.h"

namespace dt::ui {
namespace detail {
void ShowWidgets(WindowState& s);
}

namespace testing {

namespace {

detail::GuiWindow* Gui(Window& w, bool create) {
    detail::WindowState* s = w.State();
    if (!s->gui && create) detail::ShowWidgets(*s);
    return s->gui;
}

}  // namespace

void EnsureOffscreen() {
    if (!std::getenv("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
}

bool Click(Window& w, int field) {
    detail::GuiWindow* g = Gui(w, true);
    bool ok = false;
    if (g) detail::Invoke([&] { ok = g->ClickField(field); });
    return ok;
}

bool Type(Window& w, int field, std::string_view text) {
    detail::GuiWindow* g = Gui(w, true);
    bool ok = false;
    std::string t(text);
    if (g) detail::Invoke([&] { ok = g->TypeInto(field, t); });
    return ok;
}

bool TypeKeys(Window& w, int field, std::string_view text) {
    detail::GuiWindow* g = Gui(w, true);
    bool ok = false;
    std::string t(text);
    if (g) detail::Invoke([&] { ok = g->TypeKeys(field, t); });
    return ok;
}

bool PressKey(Window& w, int field, int keycode) {
    detail::GuiWindow* g = Gui(w, true);
    bool ok = false;
    if (g) detail::Invoke([&] { ok = g->Press(field, keycode); });
    return ok;
}

bool ClickHeader(Window& w, int field, int column) {
    detail::GuiWindow* g = Gui(w, true);
    bool ok = false;
    if (g)
        detail::Invoke([&] {
            auto* tree = qobject_cast<QTreeView*>(g->Widget(field));
            if (!tree || tree->isHeaderHidden() || column < 1 || column > tree->header()->count()) return;
            emit tree->header()->sectionClicked(column - 1);
            ok = true;
        });
    return ok;
}

bool CloseBox(Window& w) {
    detail::GuiWindow* g = Gui(w, false);
    if (!g) return false;
    detail::Invoke([&] { g->close(); });
    return true;
}

std::string ControlText(Window& w, int field) {
    detail::GuiWindow* g = Gui(w, false);
    if (!g) return w.Text(field);
    std::string t;
    detail::Invoke([&] { t = g->Text(field); });
    return t;
}

std::string StatusBarText(Window& w, int zone) {
    detail::GuiWindow* g = Gui(w, false);
    if (!g) return w.StatusText(zone);
    std::string t;
    detail::Invoke([&] { t = g->Status(zone); });
    return t;
}

std::string DisplayedText(Window& w, int field, int row) {
    std::string t;
    detail::GuiWindow* g = Gui(w, true);
    if (!g) return t;
    detail::Invoke([&] {
        if (detail::ListModel* m = g->Model(field)) {
            m->Sync();
            for (int c = 0; c < m->columnCount() && row >= 1 && row <= m->rowCount(); ++c) {
                if (c) t += " | ";
                t += m->data(m->index(row - 1, c), Qt::DisplayRole).toString().toUtf8().toStdString();
            }
            return;
        }
        QWidget* wd = g->Widget(field);
        if (auto* m = qobject_cast<detail::MiddleElidedLabel*>(wd))
            t = m->Painted().toUtf8().toStdString();
        else if (auto* l = qobject_cast<QLabel*>(wd))
            t = l->text().toUtf8().toStdString();
        else if (auto* e = qobject_cast<QLineEdit*>(wd))
            t = e->text().toUtf8().toStdString();
        else if (auto* p = qobject_cast<QPlainTextEdit*>(wd))
            t = p->toPlainText().toUtf8().toStdString();
    });
    return t;
}

std::vector<std::string> ListRows(Window& w, int field, std::size_t first, std::size_t count) {
    std::vector<std::string> rows;
    detail::GuiWindow* g = Gui(w, true);
    if (!g || first < 1) return rows;
    detail::Invoke([&] {
        detail::ListModel* m = g->Model(field);
        if (!m) return;
        m->Sync();
        std::size_t n = static_cast<std::size_t>(m->rowCount());
        for (std::size_t r = first; r < first + count && r <= n; ++r) {
            std::string line;
            for (int c = 0; c < m->columnCount(); ++c) {
                if (c) line += '\t';
                line += m->CellText(static_cast<int>(r - 1), c);
            }
            rows.push_back(std::move(line));
        }
    });
    return rows;
}

std::size_t ListRowCount(Window& w, int field) {
    detail::GuiWindow* g = Gui(w, true);
    std::size_t n = 0;
    if (g)
        detail::Invoke([&] {
            detail::ListModel* m = g->Model(field);
            if (!m) return;
            m->Sync();
            n = static_cast<std::size_t>(m->rowCount());
        });
    return n;
}

std::vector<std::string> ListHeaders(Window& w, int field) {
    std::vector<std::string> out;
    detail::WindowState* s = w.State();
    const detail::CtlState* c = s->Ctl(field);
    if (!c) return out;
    for (const auto& col : c->format.columns) out.push_back(col.header);
    return out;
}

namespace {

// The values a picture of `kind` can show that may be the widest.
std::vector<double> Candidates(PictureKind kind, UseType type) {
    std::vector<double> v;
    if (kind == PictureKind::Date) {
        for (LONG d = MakeDate(2028, 1, 1); d <= MakeDate(2028, 12, 31); ++d) v.push_back(d);
    } else if (kind == PictureKind::Time) {
        for (int h = 0; h < 24; ++h)
            for (int m = 0; m < 60; ++m) v.push_back(MakeTime(h, m, 59, 99));
    } else if (kind == PictureKind::Number) {
        if (type == UseType::ULong) {
            v = {4294967295.0};
        } else if (type == UseType::Long) {
            v = {-2147483648.0, 2147483647.0};
        } else if (type == UseType::Short || type == UseType::UShort || type == UseType::Byte) {
            v = {-32768.0, 65535.0};
        } else if (type == UseType::Int64) {
            // File sizes: the widest a 13-place picture shows (larger ones show as "#").
            v = {9999999999.0};
        } else {
            v = {-9999999999.0, 99999999999.0};
        }
    }
    return v;
}

}  // namespace

std::vector<ColumnFit> ColumnFits(Window& w, int field) {
    std::vector<ColumnFit> fits;
    detail::GuiWindow* g = Gui(w, true);
    if (!g) return fits;
    detail::Invoke([&] {
        if (!g->isVisible()) g->show();
        auto* tree = qobject_cast<QTreeView*>(g->Widget(field));
        detail::ListModel* m = g->Model(field);
        if (!tree || !m) return;
        const ListFormat& f = m->Format();
        const QFontMetrics fm(tree->font());
        const detail::WindowState* st = w.State();
        const detail::CtlState* cs = st->Ctl(field);
        const auto& fields = st->Def(*cs).from ? st->Def(*cs).from->Fields() : std::vector<QueueField>{};
        for (int i = 0; i < static_cast<int>(f.columns.size()); ++i) {
            const ListColumn& c = f.columns[i];
            ColumnFit fit;
            fit.header = c.header;
            fit.width = tree->columnWidth(i);
            fit.header_needed = tree->header()->sectionSizeHint(i);
            const UseType type = c.field >= 0 && c.field < static_cast<int>(fields.size())
                                     ? fields[c.field].type
                                     : UseType::None;
            const PictureInfo info = DescribePicture(c.picture);
            int widest = 0;
            for (double value : Candidates(info.kind, type)) {
                std::string text = Format(value, c.picture);
                text = std::string(ClipBoth(text));
                const int px = fm.horizontalAdvance(QString::fromStdString(text));
                if (px > widest) {
                    widest = px;
                    fit.widest = text;
                }
            }
            // The cell's painter keeps 2 pixels each side and the column's indent.
            if (!fit.widest.empty()) fit.value_needed = widest + 4 + c.indent * g->DuX1000() / 1000;
            fits.push_back(std::move(fit));
        }
    });
    return fits;
}

bool HasWidgets(Window& w) {
    return w.State()->gui != nullptr;
}

bool InputBlocked(Window& w) {
    return w.State()->blocked;
}

bool Screenshot(Window& w, const std::string& png_path) {
    detail::GuiWindow* g = Gui(w, true);
    bool ok = false;
    if (g)
        detail::Invoke([&] {
            if (!g->isVisible()) g->show();
            ok = g->grab().save(QString::fromStdString(png_path), "PNG");
        });
    return ok;
}

Rect PixelRect(Window& w, int field) {
    detail::GuiWindow* g = Gui(w, true);
    Rect r;
    if (g) detail::Invoke([&] { r = g->GetRect(field); });
    return r;
}

Rect WindowPixelRect(Window& w) {
    detail::GuiWindow* g = Gui(w, true);
    Rect r;
    if (g)
        detail::Invoke([&] {
            const QRect q = g->geometry();
            r = {q.x(), q.y(), q.width(), q.height()};
        });
    return r;
}

Rect ScreenPixelRect() {
    Rect r;
    detail::Invoke([&] {
        if (QScreen* s = QApplication::primaryScreen()) {
            const QRect q = s->availableGeometry();
            r = {q.x(), q.y(), q.width(), q.height()};
        }
    });
    return r;
}

bool TextFits(Window& w, int field) {
    detail::GuiWindow* g = Gui(w, true);
    bool fits = false;
    if (g)
        detail::Invoke([&] {
            if (QWidget* wd = g->Widget(field)) fits = wd->sizeHint().width() <= wd->width();
        });
    return fits;
}

std::string ToolTip(Window& w, int field) {
    detail::GuiWindow* g = Gui(w, true);
    std::string t;
    if (g)
        detail::Invoke([&] {
            if (QWidget* wd = g->Widget(field)) t = wd->toolTip().toUtf8().toStdString();
        });
    return t;
}

int DialogUnitX1000(Window& w) {
    detail::GuiWindow* g = Gui(w, true);
    int v = 0;
    if (g) detail::Invoke([&] { v = g->DuX1000(); });
    return v;
}

int DialogUnitY1000(Window& w) {
    detail::GuiWindow* g = Gui(w, true);
    int v = 0;
    if (g) detail::Invoke([&] { v = g->DuY1000(); });
    return v;
}

}  // namespace testing
}  // namespace dt::ui
