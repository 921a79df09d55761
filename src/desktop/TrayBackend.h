#pragma once

#include <QImage>
#include <QString>

// The notification area as the tray logic sees it: one icon, shown or not, normal or blank, with
// its tooltip. The normal image changes with the protection state.
class TrayBackend
{
public:
    virtual ~TrayBackend() = default;
    // Showing an icon that is shown already changes nothing: there is only ever one.
    virtual void setIconVisible(bool visible) = 0;
    virtual void setBlank(bool blank) = 0;
    virtual void setNormalImage(const QImage& image) = 0;
    virtual void setToolTip(const QString& text) = 0;
    virtual bool isIconVisible() const = 0;
    // A notification area exists right now (it may appear later, and the icon then joins it).
    virtual bool isTrayAvailable() const = 0;
    // StatusNotifierItem hosts report a click but never a double click.
    virtual bool isSingleClickHost() const = 0;
};
