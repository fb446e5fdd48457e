// Message boxes, popup menus, cursor and beep, with the answers tests queue for them.
#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>

#include <deque>
#include <mutex>

#include "ui/application.h"
#include "ui/src/core.h"
#include "ui/src/gui_window.h"
#include "ui/src/popup_text.h"
#include "ui/src/window_state.h"
#include "ui/testing.h"
#include "ui/window.h"

namespace dt::ui {

namespace {

struct Answers {
    std::mutex m;
    std::deque<int> messages;
    std::deque<int> popups;
    std::vector<testing::ShownMessage> shown;
    std::vector<std::string> shown_popups;
};

Answers& A() {
    static Answers a;
    return a;
}

constexpr int kButtonOrder[] = {button::Ok,    button::Yes,    button::No,    button::Abort,
                                button::Retry, button::Ignore, button::Cancel};

QMessageBox::StandardButton StandardOf(int b) {
    switch (b) {
        case button::Ok:
            return QMessageBox::Ok;
        case button::Yes:
            return QMessageBox::Yes;
        case button::No:
            return QMessageBox::No;
        case button::Abort:
            return QMessageBox::Abort;
        case button::Retry:
            return QMessageBox::Retry;
        case button::Ignore:
            return QMessageBox::Ignore;
        case button::Cancel:
            return QMessageBox::Cancel;
        default:
            return QMessageBox::NoButton;
    }
}

// The GUI window over which the calling thread's dialogs appear (nullptr: none).
detail::GuiWindow* ParentGui() {
    Window* w = ActiveWindow();
    return w ? w->State()->gui : nullptr;
}

}  // namespace

int Message(std::string_view text, std::string_view caption, MessageIcon icon, int buttons,
            int default_button) {
    if ((buttons & 127) == 0) buttons = button::Ok;
    int first = 0;
    for (int b : kButtonOrder)
        if (buttons & b) {
            first = b;
            break;
        }
    if (!(buttons & default_button)) default_button = first;
    // Closing the box without a button: Cancel when offered, else No, else the default.
    int escape = (buttons & button::Cancel) ? button::Cancel
                 : (buttons & button::No)   ? button::No
                                            : default_button;

    testing::ShownMessage shown{std::string(text), std::string(caption), icon, buttons, default_button, 0};
    int answer = 0;
    bool have = false;
    {
        std::lock_guard lock(A().m);
        if (!A().messages.empty()) {
            answer = A().messages.front();
            A().messages.pop_front();
            have = true;
        }
    }
    if (have) {
        // An answer the box does not offer cannot be given by a user: the box is closed instead.
        if (!(buttons & answer)) answer = escape;
    } else if (Application::Offscreen() || !detail::GuiRunning()) {
        answer = default_button;  // nobody can answer: never wait
    } else {
        detail::GuiWindow* parent = ParentGui();
        detail::Invoke([&] {
            QString t = QString::fromUtf8(text.data(), static_cast<int>(text.size()));
            t.replace(QLatin1Char('|'), QLatin1Char('\n'));
            QMessageBox box(parent);
            box.setWindowTitle(QString::fromUtf8(caption.data(), static_cast<int>(caption.size())));
            box.setText(t);
            switch (icon) {
                case MessageIcon::Question:
                    box.setIcon(QMessageBox::Question);
                    break;
                case MessageIcon::Stop:
                    box.setIcon(QMessageBox::Critical);
                    break;
                case MessageIcon::Exclamation:
                    box.setIcon(QMessageBox::Warning);
                    break;
                case MessageIcon::Information:
                    box.setIcon(QMessageBox::Information);
                    break;
                case MessageIcon::None:
                    break;
            }
            for (int b : kButtonOrder)
                if (buttons & b) box.addButton(StandardOf(b));
            box.setDefaultButton(StandardOf(default_button));
            box.setEscapeButton(box.button(StandardOf(escape)));
            box.exec();
            answer = escape;
            for (int b : kButtonOrder)
                if ((buttons & b) && box.clickedButton() == box.button(StandardOf(b))) answer = b;
        });
    }
    shown.answer = answer;
    std::lock_guard lock(A().m);
    A().shown.push_back(std::move(shown));
    return answer;
}

int Popup(std::string_view menu, int x, int y) {
    std::vector<detail::PopupItem> items = detail::ParsePopup(menu);
    int answer = 0;
    bool have = false;
    {
        std::lock_guard lock(A().m);
        A().shown_popups.emplace_back(menu);
        if (!A().popups.empty()) {
            answer = A().popups.front();
            A().popups.pop_front();
            have = true;
        }
    }
    if (have) {
        // Only an enabled, selectable entry can be chosen; anything else is a cancel.
        bool ok = false;
        for (const auto& it : items)
            if (it.number == answer && answer > 0 && !it.disabled) ok = true;
        return ok ? answer : 0;
    }
    if (Application::Offscreen() || !detail::GuiRunning() || items.empty()) return 0;
    detail::GuiWindow* parent = ParentGui();
    detail::Invoke([&] {
        QMenu root(parent);
        std::vector<QMenu*> stack{&root};
        for (const auto& it : items) {
            while (static_cast<int>(stack.size()) > it.depth && stack.size() > 1) stack.pop_back();
            QMenu* m = stack.back();
            if (it.separator) {
                m->addSeparator();
                continue;
            }
            QString t = QString::fromUtf8(it.text.data(), static_cast<int>(it.text.size()));
            if (it.submenu) {
                QMenu* sub = m->addMenu(t);
                sub->setEnabled(!it.disabled);
                stack.push_back(sub);
                continue;
            }
            QAction* a = m->addAction(t);
            a->setEnabled(!it.disabled);
            if (it.check) {
                a->setCheckable(true);
                a->setChecked(it.check == 1);
            }
            a->setData(it.number);
        }
        QPoint pos = QCursor::pos();
        if (parent && (x != 0 || y != 0)) {
            QPoint p = parent->centralWidget()->mapToGlobal(QPoint(parent->PxX(x), parent->PxY(y)));
            if (x != 0) pos.setX(p.x());
            if (y != 0) pos.setY(p.y());
        }
        QAction* chosen = root.exec(pos);
        answer = chosen ? chosen->data().toInt() : 0;
    });
    return answer;
}

void SetCursor(Cursor c) {
    detail::Invoke([c] {
        while (QGuiApplication::overrideCursor()) QGuiApplication::restoreOverrideCursor();
        if (c == Cursor::Wait) QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    });
}

void Beep() {
    detail::Invoke([] { QApplication::beep(); });
}

namespace testing {

void AnswerMessage(int b) {
    std::lock_guard lock(A().m);
    A().messages.push_back(b);
}

void AnswerPopup(int selection) {
    std::lock_guard lock(A().m);
    A().popups.push_back(selection);
}

std::vector<ShownMessage> TakeShownMessages() {
    std::lock_guard lock(A().m);
    std::vector<ShownMessage> out;
    out.swap(A().shown);
    return out;
}

std::vector<std::string> TakeShownPopups() {
    std::lock_guard lock(A().m);
    std::vector<std::string> out;
    out.swap(A().shown_popups);
    return out;
}

void ResetAnswers() {
    std::lock_guard lock(A().m);
    A().messages.clear();
    A().popups.clear();
    A().shown.clear();
    A().shown_popups.clear();
}

}  // namespace testing

}  // namespace dt::ui
