#pragma once

#include <QDialog>

// The About box: product, platform, licence, slogan, contact, trademarks and the location data's
// attribution. Laid out in twips like the monitor window. Every way of closing it finishes the
// dialog, so the opener sees one "finished" whichever the user chose.
class AboutBox : public QDialog
{
    Q_OBJECT

public:
    explicit AboutBox(QWidget* parent = nullptr);

    // Where the contact line links to: the project's issue tracker.
    static QString contactUrl();
    // "For Linux (X11)", "For Linux (Wayland)", ... from the running Qt platform.
    static QString platformLine(const QString& platformName);
    // The decorative strip at the left, 61 x 166 pixels.
    static QPixmap borderPicture();
};
