#pragma once
// The program's pictures: the desktop theme's icons where it has them, else our own (SVGs
// in the program's resources, or painted at run time), so that the program looks complete
// without an icon theme.
#include <QIcon>
#include <QPixmap>
#include <array>
#include <vector>

enum class TMarkColour { None, Green, Grey, Yellow, Orange, Red, Sending };

// An envelope with a coloured status mark in its corner.
QIcon EnvelopeIcon(TMarkColour Mark);
QPixmap AboutPicture(int Width, int Height);

// A theme icon by its freedesktop name, else ours (":/images/<Own>.svg").
QIcon ThemeIcon(const char* ThemeName, const char* Own);
// The mail list's state images: sending, waiting, failed, sent.
std::array<QIcon, 4> StateImages();
// The category tree's images by kind: all messages, queue, sent, sent failed.
std::array<QIcon, 4> CategoryImages();
// The tray's three image lists. Normal: running idle, stopped, paused. Running and error:
// the frames that the tray shows in turn.
std::vector<QIcon> TrayImagesNormal();
std::vector<QIcon> TrayImagesRunning();
std::vector<QIcon> TrayImagesError();
