// Test hooks of the window layer (see testing.h).
#include "ui/testing.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QWidget>

#include <cstdlib>

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

bool PressKey(Window& w, int field, int keycode) {
    detail::GuiWindow* g = Gui(w, true);
    bool ok = false;
    if (g) detail::Invoke([&] { ok = g->Press(field, keycode); });
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
        if (auto* l = qobject_cast<QLabel*>(wd))
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
