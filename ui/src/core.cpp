// The GUI thread, the runtime threads and the blocking hand-over between them.
#include "ui/src/core.h"

#include <pthread.h>

#include <QApplication>
#include <QCoreApplication>
#include <QFont>
#include <QFontDatabase>
#include <QMetaObject>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <map>
#include <thread>

#include "runtime/thread_number.h"
#include "ui/application.h"
#include "ui/src/window_state.h"
#include "ui/window.h"

namespace dt::ui {
namespace detail {

namespace {

constexpr std::size_t kMinStack = 8u << 20;  // window loops, drivers and Qt calls run on these stacks

struct Runtime {
    std::mutex m;
    std::map<int, std::shared_ptr<ThreadContext>> contexts;  // live runtime threads
    std::vector<pthread_t> to_join;                          // started threads not yet joined
    int next_id = 1;
    std::atomic<bool> running{false};
    QObject* bridge = nullptr;  // lives on the GUI thread while running
    std::shared_ptr<ThreadContext> gui_context;
};

Runtime& R() {
    static Runtime r;
    return r;
}

thread_local std::shared_ptr<ThreadContext> tls_context;

struct ThreadStart {
    std::function<void()> fn;
    std::shared_ptr<ThreadContext> ctx;
};

void* Trampoline(void* arg) {
    std::unique_ptr<ThreadStart> s(static_cast<ThreadStart*>(arg));
    tls_context = s->ctx;
    SetRuntimeThreadNumber(s->ctx->id);
    s->fn();
    {
        std::lock_guard lock(R().m);
        R().contexts.erase(s->ctx->id);
    }
    tls_context.reset();
    SetRuntimeThreadNumber(0);
    return nullptr;
}

// Starts fn on a new thread with its own context; returns the thread number or 0.
int StartThread(std::function<void()> fn, std::size_t stack_size) {
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0) return 0;
    std::size_t size = std::max(stack_size, kMinStack);
    pthread_attr_setstacksize(&attr, size);
    auto start = std::make_unique<ThreadStart>();
    start->fn = std::move(fn);
    int id;
    {
        std::lock_guard lock(R().m);
        id = R().next_id++;
        start->ctx = std::make_shared<ThreadContext>(id);
        R().contexts[id] = start->ctx;
    }
    pthread_t t;
    ThreadStart* raw = start.release();
    int rc = pthread_create(&t, &attr, Trampoline, raw);
    pthread_attr_destroy(&attr);
    std::lock_guard lock(R().m);
    if (rc != 0) {
        R().contexts.erase(id);
        delete raw;
        return 0;
    }
    R().to_join.push_back(t);
    return id;
}

// Sends CloseDown to every window of every runtime thread but the caller's, then waits
// for all those threads to end (threads they start meanwhile included).
void CloseDownOthers() {
    int self = tls_context ? tls_context->id : 0;
    pthread_t me = pthread_self();
    for (;;) {
        std::vector<std::shared_ptr<ThreadContext>> others;
        std::vector<pthread_t> joins;
        {
            std::lock_guard lock(R().m);
            for (auto& [id, c] : R().contexts)
                if (id != self) others.push_back(c);
            for (pthread_t t : R().to_join)
                if (!pthread_equal(t, me)) joins.push_back(t);
            R().to_join.erase(std::remove_if(R().to_join.begin(), R().to_join.end(),
                                             [&](pthread_t t) { return !pthread_equal(t, me); }),
                              R().to_join.end());
        }
        if (joins.empty()) return;
        for (auto& c : others) {
            std::vector<std::uint64_t> ids;
            {
                std::lock_guard lock(c->m);
                for (WindowState* w : c->windows) ids.push_back(w->id);
            }
            for (auto id : ids) {
                EventRecord e;
                e.window = id;
                e.event = Event::CloseDown;
                c->Push(e);
            }
        }
        for (pthread_t t : joins) pthread_join(t, nullptr);
    }
}

}  // namespace

void ThreadContext::Push(EventRecord e) {
    {
        std::lock_guard lock(m);
        switch (e.event) {
            case Event::Timer:
            case Event::Sized:
            case Event::Moved:
            case Event::GainFocus:
            case Event::LoseFocus:
                for (const auto& q : queue)
                    if (q.window == e.window && q.event == e.event) return;
                break;
            default:
                break;
        }
        queue.push_back(std::move(e));
    }
    cv.notify_all();
    if (this == R().gui_context.get() && R().running && QThread::currentThread() != qApp->thread()) {
        // Wake a loop that waits inside the GUI thread's own event processing.
        QMetaObject::invokeMethod(
            R().bridge, [] {}, Qt::QueuedConnection);
    }
}

ThreadContext* CurrentContext() {
    if (tls_context) return tls_context.get();
    if (R().running && qApp && QThread::currentThread() == qApp->thread()) return GuiContext();
    return nullptr;
}

std::shared_ptr<ThreadContext> CurrentContextShared() {
    if (tls_context) return tls_context;
    if (R().running && qApp && QThread::currentThread() == qApp->thread()) {
        GuiContext();
        return R().gui_context;
    }
    return nullptr;
}

ThreadContext* GuiContext() {
    std::lock_guard lock(R().m);
    if (!R().gui_context) R().gui_context = std::make_shared<ThreadContext>(0);
    return R().gui_context.get();
}

std::shared_ptr<ThreadContext> ContextOf(int n) {
    std::lock_guard lock(R().m);
    auto it = R().contexts.find(n);
    return it == R().contexts.end() ? nullptr : it->second;
}

bool GuiRunning() {
    return R().running.load();
}

bool Invoke(const std::function<void()>& fn) {
    if (!R().running) return false;
    if (QThread::currentThread() == qApp->thread()) {
        fn();
        return true;
    }
    return QMetaObject::invokeMethod(R().bridge, fn, Qt::BlockingQueuedConnection);
}

}  // namespace detail

using detail::R;

int RunApplication(int argc, char** argv, std::function<int()> main_procedure) {
    int qargc = argc;
    std::unique_ptr<QApplication> own;
    if (!QApplication::instance()) own = std::make_unique<QApplication>(qargc, argv);
    QApplication::setQuitOnLastWindowClosed(false);  // the main procedure ends the loop, not a closed window
    auto* bridge = new QObject;
    R().bridge = bridge;
    R().running = true;
    int result = 0;
    int id = detail::StartThread(
        [&result, main = std::move(main_procedure)] {
            result = main ? main() : 0;
            detail::CloseDownOthers();
            QMetaObject::invokeMethod(
                qApp, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
        },
        0);
    if (id == 0) {
        result = -1;
    } else {
        QApplication::exec();
        // Thread 1 has posted the exit after every other thread ended; join it.
        std::vector<pthread_t> joins;
        {
            std::lock_guard lock(R().m);
            joins.swap(R().to_join);
        }
        for (pthread_t t : joins) pthread_join(t, nullptr);
    }
    R().running = false;
    {
        std::lock_guard lock(R().m);
        R().gui_context.reset();
    }
    R().bridge = nullptr;
    delete bridge;
    own.reset();
    return result;
}

int Start(std::function<void()> procedure, std::size_t stack_size) {
    if (!R().running || !procedure) return 0;
    return detail::StartThread(std::move(procedure), stack_size);
}

int ThreadId() {
    auto* c = detail::tls_context.get();
    return c ? c->id : 0;
}

bool OnGuiThread() {
    return R().running && qApp && QThread::currentThread() == qApp->thread();
}

bool Post(Event e, int field, int thread) {
    std::shared_ptr<detail::ThreadContext> c =
        thread == 0 ? detail::CurrentContextShared() : detail::ContextOf(thread);
    if (!c) return false;
    detail::EventRecord r;
    {
        std::lock_guard lock(c->m);
        detail::WindowState* w = c->active;
        if (!w && !c->windows.empty()) w = c->windows.back();
        if (!w) return false;
        r.window = w->id;
    }
    r.event = e;
    r.field = field;
    c->Push(std::move(r));
    return true;
}

Window* ActiveWindow() {
    detail::ThreadContext* c = detail::CurrentContext();
    if (!c) return nullptr;
    std::lock_guard lock(c->m);
    detail::WindowState* w = c->active;
    if (!w && !c->windows.empty()) w = c->windows.back();
    return w ? w->owner : nullptr;
}

bool Application::HasDisplay() {
    const char* p = std::getenv("QT_QPA_PLATFORM");
    if (p && std::string_view(p).starts_with("offscreen")) return false;
    const char* d = std::getenv("DISPLAY");
    const char* wl = std::getenv("WAYLAND_DISPLAY");
    return (d && *d) || (wl && *wl);
}

void Application::UseOffscreen() {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
}

bool Application::Offscreen() {
    if (R().running && qApp) return QGuiApplication::platformName() == QLatin1String("offscreen");
    return !HasDisplay();
}

bool Application::Running() {
    return R().running;
}

std::string Application::UiFontFamily() {
    if (!R().running) return "DejaVu Sans";
    std::string f;
    detail::Invoke([&] { f = QApplication::font().family().toStdString(); });
    return f;
}

int Application::UiFontSize() {
    if (!R().running) return 9;
    int s = 9;
    detail::Invoke([&] {
        int p = QApplication::font().pointSize();
        if (p > 0) s = p;
    });
    return s;
}

}  // namespace dt::ui
