#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

class QNetworkAccessManager;
class QNetworkReply;

// Fetches the vendor's update notice: three lines of UTF-8 text, the title, an
// identifier the user can silence, and the notice itself.
class SoftwareUpdateWatcher : public QObject
{
    Q_OBJECT
public:
    static constexpr qint64 MaxNoticeBytes = 64 * 1024;
    static constexpr int DefaultTimeoutMs = 20000;

    explicit SoftwareUpdateWatcher(QObject *aParent = nullptr);
    ~SoftwareUpdateWatcher() override;

    // A request still under way is dropped.
    void getUpdateInfo(const QString &aUrl);
    // Applies to requests started afterwards.
    void setTimeout(int aMilliseconds) { mTimeoutMs = aMilliseconds; }

    QString title() const { return mTitle; }
    QString text() const { return mText; }
    QString identifier() const { return mIdentifier; }

Q_SIGNALS:
    // The three fields hold a notice with a text.
    void updateInfoFound();
    // The check is over, whether or not a notice was found.
    void checkFinished();

private Q_SLOTS:
    void updateInfoComplete();

private:
    void limitBody();

    QString mTitle;
    QString mText;
    QString mIdentifier;
    QNetworkAccessManager *mHttp;
    QPointer<QNetworkReply> mReply;
    int mTimeoutMs = DefaultTimeoutMs;
};
