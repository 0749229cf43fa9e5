#pragma once

#include <QString>

// Why a system call failed, said to the user. The errors this program meets (a pulled
// adapter, a port another program holds, a full or read-only disk, ...) are said in German
// whatever the system's language; any other keeps the system's own text.
namespace SystemError {
QString text(int error);
// A reason that arrives as text (Qt's file errors carry the system's English text): the
// German one where it is the text of one of those errors, else unchanged.
QString translated(const QString &systemText);
} // namespace SystemError
