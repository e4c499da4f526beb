#pragma once
// The German text for a network failure: one sentence of ours that names the
// server and says what to do. Qt's own text is logged (velmora.net), never
// shown: even with its German catalogue some of it stays English.

#include <QNetworkReply>
#include <QString>
#include <QUrl>

// `qtText` is the reply's errorString(), `url` the address that was asked.
QString networkErrorText(QNetworkReply::NetworkError error, const QString &qtText, const QUrl &url);
