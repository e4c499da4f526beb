#pragma once
// The German text for a network failure. Qt's own text is kept when Qt's
// German catalogue is installed (it names details such as the host); without
// the catalogue Qt's text is English, and the app's own text stands in.

#include <QNetworkReply>
#include <QString>
#include <QUrl>

// `qtText` is the reply's errorString(), `url` the address that was asked.
QString networkErrorText(QNetworkReply::NetworkError error, const QString &qtText, const QUrl &url);

// Whether Qt's German catalogue is installed in this application.
bool qtSpeaksGerman();
