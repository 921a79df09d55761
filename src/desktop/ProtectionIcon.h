#pragma once

#include "ProtectionState.h"

#include <QImage>

// The tray icon's image for a protection state, drawn from the program icon: as it is while every
// port is guarded, with an amber "!" badge while some are not, greyed while stopped, greyed with a
// pause badge while the options dialog is open. Shape, not colour alone, tells them apart.
namespace ProtectionIcon {

QImage image(const QImage& programIcon, ProtectionState::Kind kind);

} // namespace ProtectionIcon
