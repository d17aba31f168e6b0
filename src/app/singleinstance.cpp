#include "singleinstance.h"

#include "core/logger.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>

#include <unistd.h>

namespace {
constexpr int ConnectTimeoutMs = 2000;
const QByteArray RaiseRequest = "raise\n";
} // namespace

SingleInstance::SingleInstance(const QString &aName, QObject *aParent)
    : QObject(aParent), mName(aName)
{}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::defaultName()
{
    const QByteArray home =
        QCryptographicHash::hash(QFile::encodeName(QDir::homePath()), QCryptographicHash::Sha1)
            .toHex()
            .left(12);
    return QStringLiteral("mobrelay-%1-%2").arg(::getuid()).arg(QString::fromLatin1(home));
}

bool SingleInstance::claim()
{
    LogScope scope("SingleInstance::claim");
    QLocalSocket other;
    other.connectToServer(mName);
    if (other.waitForConnected(ConnectTimeoutMs)) {
        other.write(RaiseRequest);
        other.waitForBytesWritten(ConnectTimeoutMs);
        other.disconnectFromServer();
        return false;
    }
    mServer = new QLocalServer(this);
    mServer->setSocketOptions(QLocalServer::UserAccessOption);
    connect(mServer, &QLocalServer::newConnection, this, &SingleInstance::onNewConnection);
    if (!mServer->listen(mName)) {
        // Nobody answered, so the name is what a crashed window left behind.
        QLocalServer::removeServer(mName);
        if (!mServer->listen(mName))
            Logger::instance().value("Cannot listen for other instances", mServer->errorString());
    }
    return true;
}

void SingleInstance::onNewConnection()
{
    while (QLocalSocket *socket = mServer->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (socket->readAll().contains(RaiseRequest))
                Q_EMIT raiseRequested();
        });
    }
}
