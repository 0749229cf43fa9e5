#pragma once

#include "platform/Colors.h"

#include <QString>
#include <QStringList>

#include <optional>

// The persisted settings, with the defaults the program starts from.
struct TSettings
{
    int Port = 0; // light-barrier port number n (COMn); 0 = none
    int Alg = 0;  // trigger edge: 0 contact closes, 1 contact opens
    int Left = 243;
    int Top = 112;
    int Width = 800;
    int Height = 530;
    bool Sound = true;    // kept and written back; nothing reads it
    TColor C1 = clBlack;  // display background and unlit segments
    TColor C2 = clLime;   // upper row
    TColor C3 = 0x404040; // kept and written back
    int Acc = 2;          // kept and written back
    TColor C4 = clYellow; // lower row
    int FilterInd = 1;    // save dialog's file type entry
    int Wait = 100;       // lock time in ms
    int CountRunden = 4;  // number of time columns

    bool operator==(const TSettings &) const = default;
};

// The per-user store, one 32-bit value per name (the registry key of the program).
class ISettingsStore
{
public:
    virtual ~ISettingsStore() = default;
    // Whether the program's key exists at all (false on the first start).
    virtual bool exists() const = 0;
    // The value, or nothing when it is missing or not a 32-bit whole number.
    virtual std::optional<qint32> readDword(const QString &name) const = 0;
    virtual void writeDword(const QString &name, qint32 value) = 0;
    // Makes the written values permanent; false when the store cannot be written.
    virtual bool commit() = 0;
};

// The store on disk: QSettings in native format, organisation "Quendra", application =
// the executable's base name (~/.config/Quendra/<name>.conf). Writing replaces the file
// as a whole, so a store that cannot be written keeps its previous values.
class TQSettingsStore : public ISettingsStore
{
public:
    explicit TQSettingsStore(const QString &application);
    ~TQSettingsStore() override;
    bool exists() const override;
    std::optional<qint32> readDword(const QString &name) const override;
    void writeDword(const QString &name, qint32 value) override;
    bool commit() override;
    QString fileName() const;

private:
    struct Impl;
    Impl *d;
};

namespace SettingsIO {
// The longest lock time the settings dialog offers (10 s).
constexpr int MaxWaitMs = 10000;
// Names in the order they are read.
const QStringList &readOrder();
// Names in the order they are written.
const QStringList &writeOrder();
// The key as the program names it: "\Software\Quendra\" + base name.
QString keyPath(const QString &baseName);

// Reads every value in order; one that is missing or not a whole number keeps its
// default, the others are taken as stored. "Port" keeps its low 8 bits; "CountRunden" is
// held to 1..100 and "Wait" to what the dialog can set (0..MaxWaitMs), because other values
// break the tables or lock the barrier for days. Returns how many values were read.
int load(ISettingsStore &store, TSettings &s);
// Writes every value in the write order; false when the store could not be written.
bool save(ISettingsStore &store, const TSettings &s);
} // namespace SettingsIO
