#pragma once
#include "Dispatcher.h"

#include <QObject>

// The worker's synchronous calls on the window's thread: each call queued by the worker
// posts an event that runs the waiting calls from Qt's event loop, nested loops of modal
// dialogs included. While a question of model or worker is open the calls are held (see
// OpenQuestions) and run as soon as it is answered.
class TQtDispatcher : public QObject, public TPumpedDispatcher {
    Q_OBJECT
public:
    explicit TQtDispatcher(QObject* parent = nullptr) : QObject(parent) {}
    void ProcessMessages() override; // also serves the window's own events

protected:
    void Posted() override;

private:
    void Serve();
};
