// A stand-in for the desktop's file manager on a private session bus: it owns the name
// org.freedesktop.FileManager1, and every ShowItems call appends one line to the log file
// (argv[1]): the URIs separated by blanks, "|" and the start-up id. Once the name is owned
// it creates the file argv[2]. Runs until killed.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QFile>
#include <QObject>
#include <QStringList>

#include <cstdio>

class FileManager final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
  public:
    explicit FileManager(QString log) : log_(std::move(log)) {}

  public slots:
    void ShowItems(const QStringList& uris, const QString& startup_id) {
        QFile f(log_);
        if (!f.open(QIODevice::Append)) return;
        f.write((uris.join(QLatin1Char(' ')) + QLatin1Char('|') + startup_id + QLatin1Char('\n')).toUtf8());
    }

  private:
    QString log_;
};

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    QCoreApplication app(argc, argv);
    QDBusConnection bus = QDBusConnection::sessionBus();
    FileManager manager(QString::fromLocal8Bit(argv[1]));
    if (!bus.registerObject(QStringLiteral("/org/freedesktop/FileManager1"), &manager,
                            QDBusConnection::ExportAllSlots) ||
        !bus.registerService(QStringLiteral("org.freedesktop.FileManager1"))) {
        std::fprintf(stderr, "fake file manager: %s\n", bus.lastError().message().toLocal8Bit().constData());
        return 1;
    }
    QFile ready(QString::fromLocal8Bit(argv[2]));
    if (!ready.open(QIODevice::WriteOnly)) return 1;
    ready.close();
    return app.exec();
}

#include "fake_file_manager.moc"
