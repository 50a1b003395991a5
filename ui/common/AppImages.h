#pragma once
// The program's own pictures, painted at run time so that the program looks complete
// without an icon theme: the tray and window icon in its states, the about box picture.
#include <QIcon>
#include <QPixmap>

enum class TMarkColour { None, Green, Grey, Yellow, Orange, Red };

// An envelope with a coloured status mark in its corner.
QIcon EnvelopeIcon(TMarkColour Mark);
QPixmap AboutPicture(int Width, int Height);
