#include "AboutBox.h"

#include <QGuiApplication>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>

namespace {
constexpr int px(int twips)
{
    return (twips + 7) / 15;
}

QLabel* label(QWidget* parent, const QString& text, int left, int top, int width, int height)
{
    auto* created = new QLabel(text, parent);
    created->setGeometry(px(left), px(top), px(width), px(height));
    created->setWordWrap(true);
    return created;
}
} // namespace

AboutBox::AboutBox(QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("About Sentrel"));
    setWindowIcon(QIcon(QStringLiteral(":/sentrel.png")));
    setFixedSize(px(5715), px(4485));

    auto* border = new QLabel(this);
    border->setGeometry(px(120), px(240), px(975), px(2550));
    border->setPixmap(borderPicture());
    auto* icon = new QLabel(this);
    icon->setGeometry(px(360), px(360), 32, 32);
    icon->setPixmap(QIcon(QStringLiteral(":/sentrel.png")).pixmap(32, 32));

    QLabel* product = label(this, QStringLiteral("Sentrel 2.0"), 1320, 240, 4200, 375);
    QFont big = product->font();
    big.setBold(true);
    big.setPointSizeF(big.pointSizeF() * 1.4);
    product->setFont(big);
    label(this, platformLine(QGuiApplication::platformName()), 1320, 600, 4200, 255);
    label(this, QStringLiteral("Copyright \u00A9 2026 the Sentrel developers."), 1320, 960, 4200, 255);
    label(this,
        QStringLiteral("Free software under the GNU General Public License, version 3 or later. "
                       "It comes with ABSOLUTELY NO WARRANTY."),
        1320, 1260, 4200, 615);
    label(this, QStringLiteral("<i>Every knock on a closed door, seen.</i>"), 1320, 1950, 4200, 255);
    QLabel* contact = label(this,
        QStringLiteral("Contact: <a href=\"%1\">the Sentrel issue tracker</a>.").arg(contactUrl()), 1320,
        2280, 4200, 255);
    contact->setOpenExternalLinks(true);
    contact->setTextInteractionFlags(Qt::TextBrowserInteraction);

    auto* trademarks = new QPlainTextEdit(this);
    trademarks->setGeometry(px(120), px(2910), px(5475), px(900));
    trademarks->setReadOnly(true);
    trademarks->setPlainText(QStringLiteral(
        "Linux is the registered trademark of Linus Torvalds in the U.S. and other countries. "
        "X Window System is a trademark of The Open Group. Qt is a trademark of The Qt Company Ltd. "
        "All other trademarks are the property of their respective owners.\n\n"
        // The location data's licence asks for its creator, its licence and a link to it wherever
        // it is shared or shown.
        "The country and network owner of an address come from the location database of Debian's "
        "libloc-database package, Copyright 2017-2022 IPFire Development Team <info@ipfire.org>, "
        "licensed under the Creative Commons Attribution-ShareAlike 4.0 International licence "
        "(CC BY-SA 4.0, https://creativecommons.org/licenses/by-sa/4.0/). "
        "See /usr/share/doc/libloc-database/copyright."));

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setGeometry(px(4320), px(3930), px(1215), px(375));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

QString AboutBox::contactUrl()
{
    return QStringLiteral("https://sentrel.example/issues");
}

QString AboutBox::platformLine(const QString& platformName)
{
    QString platform = platformName;
    if (platformName == QLatin1String("xcb"))
        platform = QStringLiteral("X11");
    else if (platformName.startsWith(QLatin1String("wayland")))
        platform = QStringLiteral("Wayland");
    return QStringLiteral("For Linux (%1)").arg(platform);
}

QPixmap AboutBox::borderPicture()
{
    QPixmap picture(61, 166);
    QPainter painter(&picture);
    QLinearGradient fade(0, 0, 0, 166);
    fade.setColorAt(0, QColor(0, 32, 96));
    fade.setColorAt(1, QColor(80, 140, 220));
    painter.fillRect(picture.rect(), fade);
    // Concentric rings: a sonar sweep behind the icon.
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(255, 255, 255, 70), 1.5));
    for (int radius = 24; radius < 170; radius += 18)
        painter.drawEllipse(QPoint(40, 40), radius, radius);
    return picture;
}
