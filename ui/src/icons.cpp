// The program's own icons, drawn in code: the application icon, a magnifier (Search) and
// a disk (Scan). Names are those window definitions use.
#include <QIcon>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <map>

#include "ui/application.h"
#include "ui/src/gui_window.h"

namespace dt::ui {

namespace detail {

namespace {

QPixmap Canvas(int size) {
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    return pm;
}

QPixmap Magnifier(int s) {
    QPixmap pm = Canvas(s);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    double r = s * 0.28;
    QPointF c(s * 0.40, s * 0.40);
    p.setPen(QPen(QColor(40, 40, 40), s * 0.10));
    p.setBrush(QColor(200, 225, 255));
    p.drawEllipse(c, r, r);
    p.setPen(QPen(QColor(120, 70, 20), s * 0.14, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(s * 0.62, s * 0.62), QPointF(s * 0.88, s * 0.88));
    return pm;
}

QPixmap Disk(int s) {
    QPixmap pm = Canvas(s);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QRectF body(s * 0.08, s * 0.30, s * 0.84, s * 0.42);
    p.setPen(QPen(QColor(40, 40, 40), s * 0.05));
    p.setBrush(QColor(150, 150, 160));
    p.drawRoundedRect(body, s * 0.06, s * 0.06);
    p.setBrush(QColor(90, 200, 90));
    p.setPen(Qt::NoPen);
    p.drawEllipse(QPointF(s * 0.78, s * 0.51), s * 0.06, s * 0.06);
    p.setPen(QPen(QColor(60, 60, 60), s * 0.04));
    p.drawLine(QPointF(s * 0.18, s * 0.51), QPointF(s * 0.60, s * 0.51));
    return pm;
}

QPixmap AppIcon(int s) {
    QPixmap pm = Disk(s);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QPixmap m = Magnifier(s * 2 / 3);
    p.drawPixmap(s - m.width(), s - m.height(), m);
    return pm;
}

}  // namespace

QIcon IconFor(const std::string& name) {
    static std::map<std::string, QIcon> cache;  // GUI thread only
    std::string key;
    if (name == "app" || name == "GO.ICO" || name == "go.ico")
        key = "app";
    else if (name == "search" || name == "32525")
        key = "search";
    else if (name == "scan" || name == "32528")
        key = "scan";
    else
        return QIcon();
    auto it = cache.find(key);
    if (it != cache.end()) return it->second;
    QIcon icon;
    for (int s : {16, 24, 32, 48}) {
        if (key == "app")
            icon.addPixmap(AppIcon(s));
        else if (key == "search")
            icon.addPixmap(Magnifier(s));
        else
            icon.addPixmap(Disk(s));
    }
    cache[key] = icon;
    return icon;
}

}  // namespace detail

std::vector<std::string> Application::IconNames() {
    return {"app", "search", "scan", "GO.ICO", "32525", "32528"};
}

}  // namespace dt::ui
