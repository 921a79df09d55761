#pragma once

#include <QString>

// Sets the desktop wallpaper. Fire and forget: the desktop applies it in its own time and no
// result comes back.
class WallpaperChanger
{
public:
    virtual ~WallpaperChanger() = default;

    // imagePath: an absolute path to the image.
    virtual void changeWallpaper(const QString& imagePath) = 0;
};
