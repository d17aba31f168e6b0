#include "cannedhttpserver.h"

#include <QTcpSocket>

CannedHttpServer::CannedHttpServer(QObject *aParent) : QTcpServer(aParent)
{
    connect(this, &QTcpServer::newConnection, this, &CannedHttpServer::serve);
}

bool CannedHttpServer::start()
{
    return listen(QHostAddress::LocalHost, 0);
}

QString CannedHttpServer::baseAddress() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(serverPort());
}

QByteArray CannedHttpServer::answer(int aStatus, const QByteArray &aBody, bool aDeclareLength)
{
    QByteArray raw = "HTTP/1.1 " + QByteArray::number(aStatus) + " Canned\r\n";
    raw += "Content-Type: text/plain\r\nConnection: close\r\n";
    if (aDeclareLength)
        raw += "Content-Length: " + QByteArray::number(aBody.size()) + "\r\n";
    return raw + "\r\n" + aBody;
}

void CannedHttpServer::serve()
{
    while (QTcpSocket *socket = nextPendingConnection()) {
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
            const QByteArray request = socket->peek(socket->bytesAvailable());
            if (!request.contains("\r\n\r\n"))
                return;
            socket->readAll();
            mLastPath = request.split(' ').value(1);
            if (mAnswer.isEmpty())
                return;
            socket->write(mAnswer);
            socket->disconnectFromHost();
        });
    }
}
