#pragma once

#include "TrayBackend.h"

#include <QIcon>
#include <QMenu>
#include <QSystemTrayIcon>

class MenuActions;

// The tray icon on a Linux desktop: XEmbed trays and StatusNotifierItem hosts alike, through Qt.
class QtTrayBackend final : public QObject, public TrayBackend
{
    Q_OBJECT

public:
    explicit QtTrayBackend(MenuActions& actions, QObject* parent = nullptr);

    void setIconVisible(bool visible) override;
    void setBlank(bool blank) override;
    void setNormalImage(const QImage& image) override;
    void setToolTip(const QString& text) override;
    bool isIconVisible() const override;
    bool isTrayAvailable() const override;
    bool isSingleClickHost() const override;

    QSystemTrayIcon& icon() { return m_icon; }

signals:
    void activated(QSystemTrayIcon::ActivationReason reason);

private:
    QIcon m_normal;
    QIcon m_blank;
    QMenu m_menu;
    QSystemTrayIcon m_icon;
    bool m_isBlank = false;
};
