#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

// One window per user: the first program listens on a local socket, a later
// one asks it to come to the front and ends.
class SingleInstance : public QObject
{
    Q_OBJECT
public:
    explicit SingleInstance(const QString &aName = defaultName(), QObject *aParent = nullptr);
    ~SingleInstance() override;

    // True when this process is the one to run. False when another answered
    // and has been asked to raise its window.
    bool claim();
    QString name() const { return mName; }

    // Per user and home folder, so that a test's home has a window of its own.
    static QString defaultName();

Q_SIGNALS:
    void raiseRequested();

private:
    void onNewConnection();

    QString mName;
    QLocalServer *mServer = nullptr;
};
