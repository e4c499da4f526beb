#include "ui/loadingview.h"

#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

LoadingView::LoadingView(QWidget *parent)
    : QWidget(parent) {
    auto *stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(6);
    // An empty range makes the bar indeterminate; the style animates it only
    // while it is visible.
    auto *bar = new QProgressBar(this);
    bar->setObjectName(QStringLiteral("loadingIndicator"));
    bar->setRange(0, 0);
    bar->setTextVisible(false);
    bar->setFixedHeight(6);
    bar->setAccessibleName(QStringLiteral("Lade Daten …"));
    stack->addWidget(bar);
    auto *label = new QLabel(QStringLiteral("Lade Daten …"), this);
    label->setObjectName(QStringLiteral("loadingLabel"));
    stack->addWidget(label);
}
