#include "app/singleinstance.h"
#include "app/velmoratimeapp.h"

#include <QApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QTranslator>

int main(int argc, char *argv[]) {
    QApplication application(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("velmora"));
    QApplication::setApplicationName(QStringLiteral("VelmoraTime"));
    QApplication::setApplicationDisplayName(QStringLiteral("velmora Zeit"));
    QApplication::setApplicationVersion(QStringLiteral(VELMORA_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("velmora-time"));
    // The panel lives on after its window closes; only "Beenden" quits.
    QApplication::setQuitOnLastWindowClosed(false);

    // Qt's own texts, network failures among them, in German like the rest.
    QTranslator qtTexts;
    if (qtTexts.load(QStringLiteral("qtbase_de"),
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTexts);

    SingleInstance instance;
    if (instance.claim() == SingleInstance::Role::HandedOver)
        return 0;

    VelmoraTimeApp app;
    QApplication::setWindowIcon(QIcon::fromTheme(
        QStringLiteral("velmora-time"), QIcon(QStringLiteral(":/icons/velmora-time.svg"))));
    QObject::connect(&instance, &SingleInstance::showRequested, &app, &VelmoraTimeApp::showPanel);
    return QApplication::exec();
}
