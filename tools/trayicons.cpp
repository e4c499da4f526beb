// Paints the app's tray symbols as an XEmbed tray shows them, at the size of
// the tray's icon window: velmora-tray-icons WIDTH HEIGHT DIRECTORY writes
// timer.png and record.circle.fill.png. Tests read the tray icon's state by
// comparing the screen with these.

#include "tray/symbols.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <cstdio>

int main(int argc, char *argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int width = args.value(1).toInt(), height = args.value(2).toInt();
    if (args.size() != 4 || width <= 0 || height <= 0) {
        std::fputs("Aufruf: velmora-tray-icons BREITE HÖHE ORDNER\n", stderr);
        return 2;
    }
    for (const QString &name : {QStringLiteral("timer"), QStringLiteral("record.circle.fill")}) {
        QImage image(width, height, QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        symbolIcon(name).paint(&painter, image.rect());
        painter.end();
        if (!image.save(args[3] + QLatin1Char('/') + name + QStringLiteral(".png"))) {
            std::fprintf(stderr, "velmora-tray-icons: %s nicht schreibbar\n", qPrintable(args[3]));
            return 1;
        }
    }
    return 0;
}
