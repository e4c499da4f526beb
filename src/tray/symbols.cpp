#include "tray/symbols.h"

#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

// Outside any namespace, as Q_INIT_RESOURCE requires.
static void initResources() {
    Q_INIT_RESOURCE(velmora);
}

void registerTraySymbols() {
    static const bool registered = (initResources(), true);
    Q_UNUSED(registered);
}

QString trayIconName(const std::optional<State> &state) {
    return state && state->running ? QStringLiteral("record.circle.fill") : QStringLiteral("timer");
}

QIcon symbolIcon(const QString &name) {
    registerTraySymbols();
    QSvgRenderer renderer(QStringLiteral(":/icons/%1.svg").arg(name));
    if (!renderer.isValid())
        return {};
    // Pixmaps at the sizes trays ask for; XEmbed trays take pixmaps anyway.
    QIcon icon;
    for (const int size : {16, 20, 22, 24, 32, 40, 44, 48, 64, 96, 128}) {
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter);
        painter.end();
        icon.addPixmap(QPixmap::fromImage(image));
    }
    return icon;
}
