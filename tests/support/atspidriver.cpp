#include "atspidriver.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {

// Each driver step waits up to its own timeout (30 s) first.
constexpr int replyTimeoutMs = 90000;

QString shellQuoted(QString word) {
    return QLatin1Char('\'') + word.replace(QLatin1Char('\''), QLatin1String("'\"'\"'")) +
           QLatin1Char('\'');
}

} // namespace

AtspiDriver::~AtspiDriver() {
    m_process.closeWriteChannel();
    if (!m_process.waitForFinished(5000))
        m_process.kill();
    m_process.waitForFinished(5000);
}

bool AtspiDriver::start(const QProcessEnvironment &environment) {
    m_process.setProcessEnvironment(environment);
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(QStringLiteral(VELMORA_SOURCE_DIR "/tools/atspi-driver/velmora_driver.py"),
                    {QStringLiteral("serve")});
    return m_process.waitForStarted();
}

bool AtspiDriver::run(const QStringList &command, QString *out) {
    QStringList quoted;
    for (const QString &word : command)
        quoted << shellQuoted(word);
    m_process.write((quoted.join(QLatin1Char(' ')) + QLatin1Char('\n')).toUtf8());
    while (!m_process.canReadLine() && m_process.state() == QProcess::Running &&
           m_process.waitForReadyRead(replyTimeoutMs)) {
    }
    const QJsonObject reply = QJsonDocument::fromJson(m_process.readLine()).object();
    if (reply.isEmpty()) {
        *out = command.join(QLatin1Char(' ')) + QStringLiteral(": no answer from the driver");
        return false;
    }
    const bool ok = reply.value(QStringLiteral("ok")).toBool();
    *out = reply.value(ok ? QStringLiteral("out") : QStringLiteral("error")).toString();
    if (!ok)
        out->prepend(command.join(QLatin1Char(' ')) + QStringLiteral(": "));
    return ok;
}
