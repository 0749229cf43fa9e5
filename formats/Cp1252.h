#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// The single-byte code page of the files we exchange (Windows-1252), and the choice
// between it and UTF-8 when reading.
namespace Cp1252 {
// True when every character of the text has a Windows-1252 byte.
bool canEncode(const QString &text);
bool canEncode(QChar ch);
// Characters without a byte become '?'; call canEncode first where that matters.
QByteArray encode(const QString &text);
QString decode(QByteArrayView bytes);
// Well-formed UTF-8 (pure ASCII is too): no stray, overlong or surrogate sequences.
bool validUtf8(QByteArrayView bytes);
// A text file's bytes: UTF-8 after a byte-order mark, or when the bytes are valid UTF-8
// with non-ASCII characters; Windows-1252 otherwise.
QString decodeText(const QByteArray &bytes);
} // namespace Cp1252
