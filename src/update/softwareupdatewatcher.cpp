#include "update/softwareupdatewatcher.h"

#include "core/logger.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

SoftwareUpdateWatcher::SoftwareUpdateWatcher(QObject *aParent)
    : QObject(aParent), mHttp(new QNetworkAccessManager(this))
{}

SoftwareUpdateWatcher::~SoftwareUpdateWatcher()
{
    if (mReply) {
        mReply->disconnect(this);
        mReply->abort();
    }
}

void SoftwareUpdateWatcher::getUpdateInfo(const QString &aUrl)
{
    LogScope scope("SoftwareUpdateWatcher::getUpdateInfo");
    Logger::instance().value("url", aUrl);
    if (mReply) {
        QNetworkReply *old = mReply;
        mReply = nullptr;
        old->abort();
    }
    QNetworkRequest request{QUrl(aUrl)};
    request.setTransferTimeout(mTimeoutMs);
    mReply = mHttp->get(request);
    connect(mReply, &QNetworkReply::metaDataChanged, this, &SoftwareUpdateWatcher::limitBody);
    connect(mReply, &QNetworkReply::readyRead, this, &SoftwareUpdateWatcher::limitBody);
    connect(mReply, &QNetworkReply::finished, this, &SoftwareUpdateWatcher::updateInfoComplete);
}

void SoftwareUpdateWatcher::limitBody()
{
    auto *reply = qobject_cast<QNetworkReply *>(sender());
    if (!reply || reply != mReply)
        return;
    const QVariant declared = reply->header(QNetworkRequest::ContentLengthHeader);
    if ((declared.isValid() && declared.toLongLong() > MaxNoticeBytes) ||
        reply->bytesAvailable() > MaxNoticeBytes) {
        Logger::instance().text("Update notice too large");
        reply->abort();
    }
}

void SoftwareUpdateWatcher::updateInfoComplete()
{
    LogScope scope("SoftwareUpdateWatcher::updateInfoComplete");
    auto *reply = qobject_cast<QNetworkReply *>(sender());
    if (!reply)
        return;
    reply->deleteLater();
    // An aborted earlier request still reports its end.
    if (reply != mReply)
        return;
    mReply = nullptr;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (reply->error() == QNetworkReply::NoError && status == 200) {
        Logger &log = Logger::instance();
        log.text("We have data");
        QByteArray data = reply->read(MaxNoticeBytes + 1);
        if (data.size() <= MaxNoticeBytes) {
            if (data.startsWith("\xEF\xBB\xBF"))
                data.remove(0, 3);
            // Served with CRLF or LF alike: a carriage return left on the
            // identifier would make a silenced notice come back.
            QList<QByteArray> lines = data.split('\n');
            for (QByteArray &line : lines) {
                if (line.endsWith('\r'))
                    line.chop(1);
            }
            lines.resize(qMax<qsizetype>(lines.size(), 3));
            // Without a text there is nothing to show, so the last notice stays.
            if (!lines[2].isEmpty()) {
                mTitle = QString::fromUtf8(lines[0]);
                mIdentifier = QString::fromUtf8(lines[1]);
                mText = QString::fromUtf8(lines[2]);
                Q_EMIT updateInfoFound();
                log.text("Update info found - emitted signal");
            }
        }
    }
    Q_EMIT checkFinished();
}
