#pragma once

#include <QString>

class QFont;
class QLabel;
class QUrl;
class QWidget;

// Building rich-text label contents from names and text the program does not
// control (a volume label, a track title, the update notice).
class RichText
{
public:
    // <a href="…">aLabel</a> with both parts escaped.
    static QString link(const QUrl &aTarget, const QString &aLabel);
    // Elided to aWidth pixels in aFont, then escaped.
    static QString name(const QString &aName, const QFont &aFont, int aWidth);
    // Plain text shown as rich text: everything escaped, line breaks kept, and
    // http(s) addresses made into links.
    static QString fromPlainText(const QString &aText);
    // Opens the link in the browser when it is an http(s) address; false otherwise.
    static bool openWebLink(const QString &aLink);
    // A word-wrapped rich-text label whose web links open in the browser.
    static QLabel *linkLabel(const QString &aText, QWidget *aParent);
};
