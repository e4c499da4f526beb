// The memory baseline: the least a Qt Widgets tray app with a small panel
// needs. A tray icon drawn once into pixmaps, a right-click menu, and a
// hidden 340-wide panel with a few labels, fields and buttons that a left
// click shows. No network, no keyring, no SVG.

#include <QApplication>
#include <QComboBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QVBoxLayout>
#include <QWidget>

namespace {

QIcon drawnIcon() {
    QIcon icon;
    for (const int size : {16, 22, 24, 32, 48}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(Qt::black, size / 10.0));
        painter.drawEllipse(QRectF(size * 0.15, size * 0.2, size * 0.7, size * 0.7));
        painter.drawLine(QPointF(size * 0.5, size * 0.55), QPointF(size * 0.5, size * 0.35));
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace

int main(int argc, char *argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("minimal-tray"));
    QApplication::setQuitOnLastWindowClosed(false);

    QWidget panel;
    panel.setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    panel.setFixedWidth(340);
    auto *layout = new QVBoxLayout(&panel);
    layout->addWidget(new QLabel(QStringLiteral("<b>Zeiterfassung</b>")));
    layout->addWidget(new QLabel(QStringLiteral("Kein Timer läuft.")));
    auto *client = new QComboBox;
    client->addItems({QStringLiteral("Kunde A"), QStringLiteral("Kunde B")});
    layout->addWidget(client);
    auto *note = new QLineEdit;
    note->setPlaceholderText(QStringLiteral("Notiz"));
    layout->addWidget(note);
    auto *start = new QPushButton(QStringLiteral("Starten"));
    layout->addWidget(start);
    auto *quit = new QPushButton(QStringLiteral("Beenden"));
    layout->addWidget(quit);
    QObject::connect(quit, &QPushButton::clicked, &application, &QApplication::quit);

    QMenu menu;
    QObject::connect(menu.addAction(QStringLiteral("Öffnen")), &QAction::triggered, &panel,
                     &QWidget::show);
    QObject::connect(menu.addAction(QStringLiteral("Beenden")), &QAction::triggered, &application,
                     &QApplication::quit);

    QSystemTrayIcon tray(drawnIcon());
    tray.setToolTip(QStringLiteral("Minimal"));
    tray.setContextMenu(&menu);
    QObject::connect(&tray, &QSystemTrayIcon::activated, &panel,
                     [&panel](QSystemTrayIcon::ActivationReason reason) {
                         if (reason == QSystemTrayIcon::Trigger)
                             panel.setVisible(!panel.isVisible());
                     });
    tray.show();
    return QApplication::exec();
}
