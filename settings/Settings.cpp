#include "settings/Settings.h"

#include <QFileInfo>
#include <QSettings>

struct TQSettingsStore::Impl
{
    QSettings settings;
    explicit Impl(const QString &app)
        : settings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Quendra"), app)
    {}
};

TQSettingsStore::TQSettingsStore(const QString &application) : d(new Impl(application)) {}

TQSettingsStore::~TQSettingsStore()
{
    delete d;
}

bool TQSettingsStore::exists() const
{
    return QFileInfo::exists(d->settings.fileName());
}

std::optional<qint32> TQSettingsStore::readDword(const QString &name) const
{
    const QVariant v = d->settings.value(name);
    if (!v.isValid())
        return std::nullopt;
    bool ok = false;
    const qlonglong n = v.toString().trimmed().toLongLong(&ok);
    // A DWORD holds 32 bits; signed values are stored as their two's complement.
    if (!ok || n < -2147483648LL || n > 4294967295LL)
        return std::nullopt;
    return static_cast<qint32>(static_cast<quint32>(n));
}

void TQSettingsStore::writeDword(const QString &name, qint32 value)
{
    d->settings.setValue(name, value);
}

bool TQSettingsStore::commit()
{
    d->settings.sync();
    return d->settings.status() == QSettings::NoError;
}

QString TQSettingsStore::fileName() const
{
    return d->settings.fileName();
}

const QStringList &SettingsIO::readOrder()
{
    static const QStringList order = {"Port",   "Alg",   "Left",      "Top",  "Width",
                                      "Height", "Sound", "C1",        "C2",   "C3",
                                      "Acc",    "C4",    "FilterInd", "Wait", "CountRunden"};
    return order;
}

const QStringList &SettingsIO::writeOrder()
{
    static const QStringList order = {"Left", "Top", "Width",     "Height", "Sound",
                                      "Port", "Alg", "C1",        "C2",     "C3",
                                      "Acc",  "C4",  "FilterInd", "Wait",   "CountRunden"};
    return order;
}

QString SettingsIO::keyPath(const QString &baseName)
{
    return QStringLiteral("\\Software\\Quendra\\") + baseName;
}

namespace {
qint32 *fieldOf(TSettings &s, const QString &name, bool *isColor = nullptr)
{
    static_assert(sizeof(TColor) == sizeof(qint32));
    if (isColor)
        *isColor = false;
    if (name == "Port")
        return &s.Port;
    if (name == "Alg")
        return &s.Alg;
    if (name == "Left")
        return &s.Left;
    if (name == "Top")
        return &s.Top;
    if (name == "Width")
        return &s.Width;
    if (name == "Height")
        return &s.Height;
    if (name == "Acc")
        return &s.Acc;
    if (name == "FilterInd")
        return &s.FilterInd;
    if (name == "Wait")
        return &s.Wait;
    if (name == "CountRunden")
        return &s.CountRunden;
    if (isColor)
        *isColor = true;
    if (name == "C1")
        return reinterpret_cast<qint32 *>(&s.C1);
    if (name == "C2")
        return reinterpret_cast<qint32 *>(&s.C2);
    if (name == "C3")
        return reinterpret_cast<qint32 *>(&s.C3);
    if (name == "C4")
        return reinterpret_cast<qint32 *>(&s.C4);
    return nullptr;
}
} // namespace

int SettingsIO::load(ISettingsStore &store, TSettings &s)
{
    if (!store.exists())
        return 0;
    // Each value stands on its own: one that is missing or unreadable keeps its default
    // and does not cost the others theirs (they would be saved over at the next close).
    int read = 0;
    for (const QString &name : readOrder()) {
        const std::optional<qint32> v = store.readDword(name);
        if (!v)
            continue;
        ++read;
        if (name == "Sound") {
            s.Sound = *v != 0;
            continue;
        }
        qint32 value = *v;
        if (name == "Port")
            value &= 0xFF;
        else if (name == "CountRunden")
            value = qBound(1, value, 100);
        else if (name == "Wait")
            value = qBound(0, value, MaxWaitMs);
        *fieldOf(s, name) = value;
    }
    return read;
}

bool SettingsIO::save(ISettingsStore &store, const TSettings &s)
{
    TSettings copy = s;
    for (const QString &name : writeOrder()) {
        if (name == "Sound")
            store.writeDword(name, s.Sound ? 1 : 0);
        else
            store.writeDword(name, *fieldOf(copy, name));
    }
    return store.commit();
}
