// The desktop around the program (see desktop.h): the clipboard through Qt's, the file
// manager through its D-Bus interface.
#include "ui/desktop.h"

#include <QClipboard>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QGuiApplication>
#include <QStringList>

#include "ui/src/core.h"

namespace dt::ui {

bool SetClipboardText(std::string_view text) {
    const QString t = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    bool done = false;
    detail::Invoke([&] {
        if (QClipboard* c = QGuiApplication::clipboard()) {
            c->setText(t);
            done = true;
        }
    });
    return done;
}

std::string ClipboardText() {
    std::string text;
    detail::Invoke([&] {
        if (QClipboard* c = QGuiApplication::clipboard()) text = c->text().toUtf8().toStdString();
    });
    return text;
}

std::string FileUri(std::string_view absolute_path) {
    static const char hex[] = "0123456789ABCDEF";
    std::string uri = "file://";
    for (const char ch : absolute_path) {
        const auto c = static_cast<unsigned char>(ch);
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                           c == '-' || c == '.' || c == '_' || c == '~' || c == '/';
        if (plain) {
            uri += ch;
        } else {
            uri += '%';
            uri += hex[c >> 4];
            uri += hex[c & 0x0F];
        }
    }
    return uri;
}

ShowItemsResult ShowInFileManager(const std::vector<std::string>& paths, int timeout_ms) {
    // The call is made on the calling thread: QtDBus serves blocking calls from any thread,
    // and the GUI thread stays free (a file manager in this process would answer there).
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return ShowItemsResult::NoBus;
    QStringList uris;
    for (const std::string& p : paths) uris << QString::fromLatin1(FileUri(p).c_str());
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << uris << QString();
    const QDBusMessage reply = bus.call(call, QDBus::Block, timeout_ms);
    return reply.type() == QDBusMessage::ReplyMessage ? ShowItemsResult::Shown
                                                      : ShowItemsResult::NoFileManager;
}

}  // namespace dt::ui
