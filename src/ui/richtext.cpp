#include "ui/richtext.h"

#include "core/logger.h"

#include <QDesktopServices>
#include <QFontMetrics>
#include <QLabel>
#include <QRegularExpression>
#include <QUrl>

namespace {
bool isWebAddress(const QUrl &aUrl)
{
    const QString scheme = aUrl.scheme();
    return aUrl.isValid() && !aUrl.host().isEmpty() &&
           (scheme == QLatin1String("http") || scheme == QLatin1String("https"));
}
} // namespace

QString RichText::link(const QUrl &aTarget, const QString &aLabel)
{
    return QStringLiteral("<a href=\"") + aTarget.toString(QUrl::FullyEncoded).toHtmlEscaped() +
           QStringLiteral("\">") + aLabel.toHtmlEscaped() + QStringLiteral("</a>");
}

QString RichText::name(const QString &aName, const QFont &aFont, int aWidth)
{
    return QFontMetrics(aFont).elidedText(aName, Qt::ElideRight, qMax(0, aWidth)).toHtmlEscaped();
}

QString RichText::fromPlainText(const QString &aText)
{
    static const QRegularExpression address(QStringLiteral("https?://[^\\s<>\"]+"),
                                            QRegularExpression::CaseInsensitiveOption);
    QString html;
    qsizetype done = 0;
    for (auto it = address.globalMatch(aText); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        QString text = match.captured();
        // A full stop or a closing bracket after an address ends the sentence.
        while (!text.isEmpty() && QStringLiteral(".,;:!?)]'").contains(text.back()))
            text.chop(1);
        html += aText.mid(done, match.capturedStart() - done).toHtmlEscaped();
        const QUrl target(text, QUrl::StrictMode);
        html += isWebAddress(target) ? link(target, text) : text.toHtmlEscaped();
        done = match.capturedStart() + text.size();
    }
    html += aText.mid(done).toHtmlEscaped();
    html.replace(QLatin1Char('\n'), QStringLiteral("<br>"));
    return html;
}

bool RichText::openWebLink(const QString &aLink)
{
    const QUrl target(aLink, QUrl::StrictMode);
    if (!isWebAddress(target)) {
        Logger::instance().value("Link refused", aLink);
        return false;
    }
    return QDesktopServices::openUrl(target);
}

QLabel *RichText::linkLabel(const QString &aText, QWidget *aParent)
{
    auto *label = new QLabel(aText, aParent);
    label->setWordWrap(true);
    label->setTextFormat(Qt::RichText);
    // A label without a link must not take the keyboard focus: a wizard page
    // gives it to its first taker.
    if (aText.contains(QLatin1String("<a ")))
        label->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    QObject::connect(label, &QLabel::linkActivated, &RichText::openWebLink);
    return label;
}
