#include "core/tracklist.h"
#include "settings/syncsettings.h"
#include "testhome.h"
#include "ui/deletetracksconfirm.h"
#include "ui/richtext.h"
#include "ui/syncwarningdialog.h"
#include "ui/updatedialog.h"
#include "ui/usbejectwarning.h"
#include "update/vendorsite.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTextDocument>

// Stands in for the browser: records what the dialogs ask it to open.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> mOpened;
public Q_SLOTS:
    void open(const QUrl &aUrl) { mOpened.append(aUrl); }
};

namespace {
const QString Base = u"http://127.0.0.1:8123"_qs;
const QStringList Schemes = {u"http"_qs, u"https"_qs, u"file"_qs, u"javascript"_qs};

QString plainText(const QString &aHtml)
{
    QTextDocument document;
    document.setHtml(aHtml);
    return document.toPlainText();
}

// "sync<kind>", "update" (with aText) or "eject".
std::unique_ptr<QDialog> makeDialog(const QString &aName, const TrackList &aTracks,
                                    const QString &aText = u"Text"_qs)
{
    if (aName == u"eject")
        return std::make_unique<UsbEjectWarning>();
    if (aName == u"update")
        return std::make_unique<UpdateDialog>(nullptr, u"Mobrelay 1.3"_qs, aText);
    return std::make_unique<SyncWarningDialog>(nullptr, aTracks, aName.mid(4).toInt());
}
} // namespace

class TestDialogs : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void deleteConfirm_data();
    void deleteConfirm();
    void dontShowAgain_data();
    void dontShowAgain();
    void links_data();
    void links();
    void names();

private:
    std::unique_ptr<TestHome> mHome;
    UrlCatcher mBrowser;
    TrackList mTracks;
};

void TestDialogs::initTestCase()
{
    mHome = std::make_unique<TestHome>();
    SyncSettings settings;
    settings.load();
    settings.setGlobalStringValue(VendorSite::BaseKey, Base);
    settings.save();
    for (const QString &scheme : Schemes)
        QDesktopServices::setUrlHandler(scheme, &mBrowser, "open");
    // Same title and artist, two albums: only the album tells them apart.
    for (const QString &album : {u"Live"_qs, u"Studio"_qs})
        mTracks.append(Track(u"Intro"_qs, album, u"Band"_qs, 1, u"/m/"_qs + album, true, true, true,
                             u"Music/"_qs + album));
}

void TestDialogs::cleanupTestCase()
{
    for (const QString &scheme : Schemes)
        QDesktopServices::unsetUrlHandler(scheme);
}

void TestDialogs::deleteConfirm_data()
{
    QTest::addColumn<bool>("tick");
    QTest::addColumn<QString>("action"); // a button's text, or the widget Enter is pressed on
    QTest::addColumn<int>("result");

    QTest::newRow("yes") << false << u"Yes"_qs << 1;
    QTest::newRow("yes, always") << true << u"Yes"_qs << 2;
    QTest::newRow("no") << false << u"No"_qs << 0;
    QTest::newRow("no, box ticked") << true << u"No"_qs << 0;
    QTest::newRow("escape") << true << u"escape"_qs << 0;
    QTest::newRow("enter on the list") << true << u"enter:list"_qs << 0;
    QTest::newRow("enter on the box") << true << u"enter:box"_qs << 0;
    QTest::newRow("enter on yes") << true << u"enter:Yes"_qs << 0;
}

void TestDialogs::deleteConfirm()
{
    QFETCH(bool, tick);
    QFETCH(QString, action);
    QFETCH(int, result);

    DeleteTracksConfirm dialog(mTracks);
    dialog.open();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    auto *list = dialog.findChild<QListWidget *>();
    QCOMPARE(list->count(), 2);
    QCOMPARE(list->item(1)->text(), u"Band \u2013 Studio \u2013 Intro"_qs);
    auto *box = dialog.findChild<QCheckBox *>();
    if (tick)
        QTest::mouseClick(box, Qt::LeftButton);
    QWidget *target = action.endsWith(u"list") ? static_cast<QWidget *>(list) : box;
    for (QPushButton *button : dialog.findChildren<QPushButton *>()) {
        if (action.endsWith(button->text()))
            target = button;
    }
    if (action == u"escape") {
        QTest::keyClick(&dialog, Qt::Key_Escape);
    } else if (action.startsWith(u"enter:")) {
        target->setFocus();
        QTest::keyClick(target, Qt::Key_Return);
    } else {
        QTest::mouseClick(target, Qt::LeftButton);
    }
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), result);
}

void TestDialogs::dontShowAgain_data()
{
    QTest::addColumn<QString>("dialog");
    QTest::addColumn<int>("clicks");

    for (const QString &name : {u"sync0"_qs, u"sync4"_qs, u"update"_qs, u"eject"_qs}) {
        for (int clicks : {0, 1, 2})
            QTest::addRow("%s, box clicked %d times", qPrintable(name), clicks) << name << clicks;
    }
}

void TestDialogs::dontShowAgain()
{
    QFETCH(QString, dialog);
    QFETCH(int, clicks);

    const std::unique_ptr<QDialog> shown = makeDialog(dialog, mTracks);
    QVERIFY(shown->isModal());
    shown->open();
    for (int i = 0; i < clicks; ++i)
        QTest::mouseClick(shown->findChild<QCheckBox *>(), Qt::LeftButton);
    QTest::mouseClick(shown->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok),
                      Qt::LeftButton);
    QVERIFY(!shown->isVisible());
    bool flag = shown->result() == 1;
    if (auto *warning = qobject_cast<SyncWarningDialog *>(shown.get()))
        flag = warning->dontShowAgain();
    else if (auto *update = qobject_cast<UpdateDialog *>(shown.get()))
        flag = update->dontShowAgain();
    QCOMPARE(flag, clicks == 1);
}

void TestDialogs::links_data()
{
    QTest::addColumn<QString>("dialog");
    QTest::addColumn<QString>("notice");
    QTest::addColumn<QStringList>("links");

    QTest::newRow("folder failed")
        << u"sync0"_qs << QString() << QStringList{Base + VendorSite::DirectoryFailed};
    QTest::newRow("copy failed") << u"sync1"_qs << QString()
                                 << QStringList{Base + VendorSite::CopyFailed};
    QTest::newRow("copy protected")
        << u"sync4"_qs << QString() << QStringList{Base + VendorSite::Drm};
    QTest::newRow("unknown kind") << u"sync2"_qs << QString() << QStringList();
    QTest::newRow("eject") << u"eject"_qs << QString() << QStringList{Base + VendorSite::UsbEject};
    QTest::newRow("notice: markup and an address")
        << u"update"_qs << u"<b>1.3</b> & more: see https://mobrelay.net/get?v=1&a=2.\nThanks"_qs
        << QStringList{u"https://mobrelay.net/get?v=1&a=2"_qs};
    QTest::newRow("notice: other schemes")
        << u"update"_qs
        << u"<a href=\"file:///etc/passwd\">x</a> javascript:alert(1) <img src=\"/x.png\">"_qs
        << QStringList();
}

void TestDialogs::links()
{
    QFETCH(QString, dialog);
    QFETCH(QString, notice);
    QFETCH(QStringList, links);

    mBrowser.mOpened.clear();
    const std::unique_ptr<QDialog> shown = makeDialog(dialog, mTracks, notice);
    auto *label = shown->findChild<QLabel *>();
    static const QRegularExpression href(u"href=\"([^\"]*)\""_qs);
    QStringList targets;
    for (auto it = href.globalMatch(label->text()); it.hasNext();)
        targets.append(plainText(it.next().captured(1)));
    QCOMPARE(targets, links);
    // A notice is shown as written: its markup appears as text and nothing loads.
    if (!notice.isEmpty())
        QCOMPARE(plainText(label->text()), notice);

    for (const QString &target :
         targets + QStringList{u"file:///etc/passwd"_qs, u"javascript:x"_qs})
        Q_EMIT label->linkActivated(target);
    QList<QUrl> expected;
    for (const QString &link : links)
        expected.append(QUrl(link));
    QCOMPARE(mBrowser.mOpened, expected);
}

void TestDialogs::names()
{
    const QFont font;
    const QString plain =
        plainText(RichText::name(u"<b>Phone</b> "_qs + QString(200, u'x'), font, 150));
    QVERIFY(plain.startsWith(u"<b>Phone"));
    QVERIFY(plain.endsWith(u'\u2026'));
    QVERIFY(QFontMetrics(font).horizontalAdvance(plain) <= 150);
}

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
