#pragma once

#include <QByteArray>
#include <QTcpServer>

// Answers every request on 127.0.0.1 with the same raw bytes, then closes the
// connection; with no bytes set it reads the request and never answers.
class CannedHttpServer : public QTcpServer
{
    Q_OBJECT
public:
    explicit CannedHttpServer(QObject *aParent = nullptr);

    bool start();
    QString baseAddress() const;
    void setAnswer(const QByteArray &aRaw) { mAnswer = aRaw; }
    // The path of the last request line, empty before one arrived.
    QByteArray lastPath() const { return mLastPath; }

    static QByteArray answer(int aStatus, const QByteArray &aBody, bool aDeclareLength = true);

private:
    void serve();

    QByteArray mAnswer;
    QByteArray mLastPath;
};
