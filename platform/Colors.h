#pragma once

#include <QColor>
#include <QtGlobal>

// Colour values as the settings store them: 0x00BBGGRR, red in the lowest byte.
// A value whose top byte is 0xFF names a system colour (0xFF00000F = button face).
using TColor = quint32;

constexpr TColor clBlack = 0x000000;
constexpr TColor clMaroon = 0x000080;
constexpr TColor clGreen = 0x008000;
constexpr TColor clOlive = 0x008080;
constexpr TColor clNavy = 0x800000;
constexpr TColor clPurple = 0x800080;
constexpr TColor clTeal = 0x808000;
constexpr TColor clGray = 0x808080;
constexpr TColor clSilver = 0xC0C0C0;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clLime = 0x00FF00;
constexpr TColor clYellow = 0x00FFFF;
constexpr TColor clBlue = 0xFF0000;
constexpr TColor clFuchsia = 0xFF00FF;
constexpr TColor clAqua = 0xFFFF00;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clBtnFace = 0xFF00000F;

// Converts a stored colour to Qt; system colours come from the application palette.
QColor toQColor(TColor c);
// The stored form of a Qt colour (never a system colour).
TColor fromQColor(const QColor &c);
