#include "testsupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLibraryInfo>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTest>
#include <QTranslator>

namespace testsupport {

bool loadQtGermanTranslations() {
    // Owned by the application object, like the program's own translator.
    auto *translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(QStringLiteral("qtbase_de"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

namespace {
QString testCertificateFile() {
    return QStringLiteral(VELMORA_TEST_CERT_DIR "/server.crt");
}
} // namespace

DevServerOptions httpsServerOptions() {
    DevServerOptions options;
    options.https = true;
    options.certFile = testCertificateFile();
    options.keyFile = QStringLiteral(VELMORA_TEST_CERT_DIR "/server.key");
    return options;
}

bool trustTestCertificate() {
    const QList<QSslCertificate> certificates = QSslCertificate::fromPath(testCertificateFile());
    if (certificates.isEmpty())
        return false;
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.addCaCertificates(certificates);
    QSslConfiguration::setDefaultConfiguration(configuration);
    return true;
}

void isolateUserDirs(const QString &dir, QProcessEnvironment *environment) {
    const auto point = [&](const char *variable, const QString &sub) {
        const QString path = sub.isEmpty() ? dir : dir + QLatin1Char('/') + sub;
        QDir().mkpath(path);
        if (environment)
            environment->insert(QString::fromLatin1(variable), path);
        else
            qputenv(variable, QFile::encodeName(path));
    };
    point("HOME", QString());
    point("XDG_CONFIG_HOME", QStringLiteral(".config"));
    point("XDG_DATA_HOME", QStringLiteral(".local/share"));
    point("XDG_CACHE_HOME", QStringLiteral(".cache"));
}

QStringList filesContaining(const QString &dir, const QByteArray &needle) {
    QStringList found;
    QDirIterator it(dir, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile file(it.next());
        if (file.open(QIODevice::ReadOnly) && file.readAll().contains(needle))
            found << file.fileName();
    }
    return found;
}

} // namespace testsupport
