#include "QtDispatcher.h"

#include "Prompt.h"

#include <QCoreApplication>
#include <QTimer>

void TQtDispatcher::Posted() {
    // Runs on the worker's thread; the queued call lands on the window's thread.
    QMetaObject::invokeMethod(this, [this] { Serve(); }, Qt::QueuedConnection);
}

void TQtDispatcher::Serve() {
    TPumpedDispatcher::ProcessMessages();
    // Held by an open question: look again shortly (the question's nested loop runs on).
    if (OpenQuestions() > 0 && HasWaiting()) QTimer::singleShot(20, this, [this] { Serve(); });
}

void TQtDispatcher::ProcessMessages() {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    TPumpedDispatcher::ProcessMessages();
}
