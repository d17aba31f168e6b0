#pragma once

#include <QObject>

class QSocketNotifier;

// SIGTERM and SIGINT delivered to the event loop as a signal, so that the
// window closes the way its close button does, run or no run.
class QuitSignals : public QObject
{
    Q_OBJECT
public:
    explicit QuitSignals(QObject *aParent = nullptr);
    ~QuitSignals() override;

Q_SIGNALS:
    void quitRequested(int aSignal);

private:
    QSocketNotifier *mNotifier = nullptr;
};
