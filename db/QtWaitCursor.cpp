#include "db/QtWaitCursor.h"

#include <QCursor>
#include <QGuiApplication>

void QtWaitCursor::Show() { QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor)); }

void QtWaitCursor::Hide() { QGuiApplication::restoreOverrideCursor(); }
