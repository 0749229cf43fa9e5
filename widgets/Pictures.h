#pragma once

#include <QIcon>
#include <QPixmap>

// The program's own pictures, drawn in code so that every size is sharp.
namespace Pictures {
// A blue question mark in a white speech bubble, on a transparent background.
QPixmap question(int size = 32);
// The application's picture: a stopwatch.
QPixmap application(int size = 32);
// The application's icon (the stopwatch in the usual icon sizes), for windows.
QIcon applicationIcon();
// A green tick for the information box's button.
QPixmap agree(int size = 16);

// Colours that the tests look for.
inline constexpr QRgb QuestionMarkBlue = 0xFF1F4FBF;
inline constexpr QRgb BubbleWhite = 0xFFFFFFFF;
inline constexpr QRgb WatchRim = 0xFF30404F;
inline constexpr QRgb WatchHand = 0xFFD01010;
inline constexpr QRgb TickGreen = 0xFF1E9E32;
} // namespace Pictures
