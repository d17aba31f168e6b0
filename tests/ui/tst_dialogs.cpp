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
#include <QTextDocumentFragment>

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

QPushButton *button(QDialog &aDialog, const QString &aText)
{
    for (QPushButton *candidate : aDialog.findChildren<QPushButton *>()) {
        if (candidate->text().remove(u'&') == aText)
            return candidate;
    }
    return nullptr;
}

QStringList hrefs(const QString &aHtml)
{
    static const QRegularExpression href(u"href=\"([^\"]*)\""_qs);
    QStringList found;
    for (auto it = href.globalMatch(aHtml); it.hasNext();)
        found.append(it.next().captured(1));
    return found;
}

std::unique_ptr<QDialog> makeDialog(const QString &aName, const TrackList &aTracks)
{
    if (aName == u"eject")
        return std::make_unique<UsbEjectWarning>();
    if (aName == u"update")
        return std::make_unique<UpdateDialog>(nullptr, u"Title"_qs, u"Text"_qs);
    return std::make_unique<SyncWarningDialog>(nullptr, aTracks, aName.mid(4).toInt());
}
} // namespace

class TestDialogs : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();
    void deleteConfirm_data();
    void deleteConfirm();
    void dontShowAgain_data();
    void dontShowAgain();
    void links_data();
    void links();
    void notice_data();
    void notice();
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
    for (const QString &scheme : {u"http"_qs, u"https"_qs, u"file"_qs, u"javascript"_qs})
        QDesktopServices::setUrlHandler(scheme, &mBrowser, "open");
    // Same title and artist, two albums: only the album tells them apart.
    mTracks.append(Track(u"Intro"_qs, u"Live"_qs, u"Band"_qs, 1, u"/m/a.mp3"_qs, true, true, true,
                         u"Music/a.mp3"_qs));
    mTracks.append(Track(u"Intro"_qs, u"Studio"_qs, u"Band"_qs, 1, u"/m/b.mp3"_qs, true, true, true,
                         u"Music/b.mp3"_qs));
}

void TestDialogs::cleanupTestCase()
{
    for (const QString &scheme : {u"http"_qs, u"https"_qs, u"file"_qs, u"javascript"_qs})
        QDesktopServices::unsetUrlHandler(scheme);
}

void TestDialogs::cleanup()
{
    mBrowser.mOpened.clear();
}

void TestDialogs::deleteConfirm_data()
{
    QTest::addColumn<bool>("tick");
    QTest::addColumn<QString>("action");
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
    QCOMPARE(box->isChecked(), tick);

    if (action == u"escape") {
        QTest::keyClick(&dialog, Qt::Key_Escape);
    } else if (action.startsWith(u"enter:")) {
        QWidget *target = action == u"enter:list" ? static_cast<QWidget *>(list)
                          : action == u"enter:box"
                              ? static_cast<QWidget *>(box)
                              : static_cast<QWidget *>(button(dialog, action.mid(6)));
        target->setFocus();
        QTest::keyClick(target, Qt::Key_Return);
    } else {
        QTest::mouseClick(button(dialog, action), Qt::LeftButton);
    }
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), result);
}

void TestDialogs::dontShowAgain_data()
{
    QTest::addColumn<QString>("dialog");
    QTest::addColumn<int>("clicks");
    QTest::addColumn<bool>("dontShow");

    for (const QString &name : {u"sync0"_qs, u"sync4"_qs, u"update"_qs, u"eject"_qs}) {
        for (int clicks : {0, 1, 2})
            QTest::addRow("%s, box clicked %d times", qPrintable(name), clicks)
                << name << clicks << (clicks == 1);
    }
}

void TestDialogs::dontShowAgain()
{
    QFETCH(QString, dialog);
    QFETCH(int, clicks);
    QFETCH(bool, dontShow);

    const std::unique_ptr<QDialog> shown = makeDialog(dialog, mTracks);
    QVERIFY(shown->isModal());
    shown->open();
    for (int i = 0; i < clicks; ++i)
        QTest::mouseClick(shown->findChild<QCheckBox *>(), Qt::LeftButton);
    auto *ok = shown->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok);
    QTest::mouseClick(ok, Qt::LeftButton);
    QVERIFY(!shown->isVisible());
    if (auto *warning = qobject_cast<SyncWarningDialog *>(shown.get()))
        QCOMPARE(warning->dontShowAgain(), dontShow);
    else if (auto *update = qobject_cast<UpdateDialog *>(shown.get()))
        QCOMPARE(update->dontShowAgain(), dontShow);
    else
        QCOMPARE(shown->result(), dontShow ? 1 : 0);
}

void TestDialogs::links_data()
{
    QTest::addColumn<QString>("dialog");
    QTest::addColumn<QString>("path");

    QTest::newRow("folder failed") << u"sync0"_qs << VendorSite::DirectoryFailed;
    QTest::newRow("copy failed") << u"sync1"_qs << VendorSite::CopyFailed;
    QTest::newRow("copy protected") << u"sync4"_qs << VendorSite::Drm;
    QTest::newRow("unknown kind") << u"sync2"_qs << QString();
    QTest::newRow("eject") << u"eject"_qs << VendorSite::UsbEject;
}

void TestDialogs::links()
{
    QFETCH(QString, dialog);
    QFETCH(QString, path);

    const std::unique_ptr<QDialog> shown = makeDialog(dialog, mTracks);
    auto *label = shown->findChild<QLabel *>();
    const QStringList targets = hrefs(label->text());
    QCOMPARE(targets, path.isEmpty() ? QStringList() : QStringList{Base + path});
    if (path.isEmpty())
        return;
    Q_EMIT label->linkActivated(targets.first());
    QCOMPARE(mBrowser.mOpened, QList<QUrl>{QUrl(Base + path)});
}

void TestDialogs::notice_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("links");

    QTest::newRow("markup and an address")
        << u"<b>1.3</b> & more: see https://mobrelay.net/get?v=1&a=2.\nThanks"_qs
        << QStringList{u"https://mobrelay.net/get?v=1&amp;a=2"_qs};
    QTest::newRow("other schemes")
        << u"<a href=\"file:///etc/passwd\">x</a> javascript:alert(1) <img src=\"/x.png\">"_qs
        << QStringList();
}

void TestDialogs::notice()
{
    QFETCH(QString, text);
    QFETCH(QStringList, links);

    UpdateDialog dialog(nullptr, u"Mobrelay 1.3"_qs, text);
    QCOMPARE(dialog.windowTitle(), u"Mobrelay 1.3"_qs);
    auto *label = dialog.findChild<QLabel *>();
    QCOMPARE(hrefs(label->text()), links);
    QVERIFY(!label->openExternalLinks());
    // Shown as written: the markup appears as text and nothing loads.
    QTextDocument shown;
    shown.setHtml(label->text());
    QCOMPARE(shown.toPlainText(), text);

    for (const QString &link : links)
        Q_EMIT label->linkActivated(QTextDocumentFragment::fromHtml(link).toPlainText());
    Q_EMIT label->linkActivated(u"file:///etc/passwd"_qs);
    Q_EMIT label->linkActivated(u"javascript:alert(1)"_qs);
    QCOMPARE(mBrowser.mOpened.size(), links.size());
    for (const QUrl &opened : std::as_const(mBrowser.mOpened))
        QVERIFY(opened.scheme().startsWith(u"http"));
}

void TestDialogs::names()
{
    const QFont font;
    const QString name = u"<b>Phone</b> "_qs + QString(200, u'x');
    const QString shown = RichText::name(name, font, 150);
    QTextDocument document;
    document.setHtml(shown);
    const QString plain = document.toPlainText();
    QVERIFY(plain.startsWith(u"<b>Phone"));
    QVERIFY(plain.endsWith(u'\u2026'));
    QVERIFY(QFontMetrics(font).horizontalAdvance(plain) <= 150);
}

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
