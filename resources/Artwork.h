#pragma once
// Varnel's own artwork, drawn in code so that it scales and needs no binary files: the toolbar
// button images, the application icon and the splash picture.

#include <QIcon>
#include <QImage>
#include <QPixmap>

/// The 16 x 15 image of a toolbar button, for the command id (a plain frame for unknown ids).
QPixmap ToolbarButtonImage(int commandId);

/// The application icon (32 x 32 and 16 x 16).
QIcon ApplicationIcon();

/// The 500 x 410 picture shown by the splash window.
QImage SplashPicture();
