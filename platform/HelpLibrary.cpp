#include "platform/HelpLibrary.h"

#include <QFile>
#include <QtEndian>

#include <cstring>
#include <dlfcn.h>

HelpLibrary::~HelpLibrary()
{
    unload();
}

bool HelpLibrary::load(const QString &name)
{
    unload();
    m_error.clear();
    void *h = dlopen(QFile::encodeName(name).constData(), RTLD_NOW | RTLD_LOCAL);
    if (!h) {
        const char *e = dlerror();
        m_error = e ? QString::fromLocal8Bit(e) : QStringLiteral("dlopen failed");
        return false;
    }
    auto sym = [h](const char *n) { return dlsym(h, n); };
    chmOpen = reinterpret_cast<chm::OpenFn>(sym("chm_open"));
    chmClose = reinterpret_cast<chm::CloseFn>(sym("chm_close"));
    chmResolve = reinterpret_cast<chm::ResolveFn>(sym("chm_resolve_object"));
    chmRetrieve = reinterpret_cast<chm::RetrieveFn>(sym("chm_retrieve_object"));
    chmEnumerate = reinterpret_cast<chm::EnumerateFn>(sym("chm_enumerate"));
    if (!chmOpen || !chmClose || !chmResolve || !chmRetrieve) {
        m_error = QStringLiteral("%1: missing entry point").arg(name);
        chmOpen = nullptr;
        chmClose = nullptr;
        chmResolve = nullptr;
        chmRetrieve = nullptr;
        chmEnumerate = nullptr;
        dlclose(h);
        return false;
    }
    m_handle = h;
    return true;
}

void HelpLibrary::unload()
{
    if (!m_handle)
        return;
    chmOpen = nullptr;
    chmClose = nullptr;
    chmResolve = nullptr;
    chmRetrieve = nullptr;
    chmEnumerate = nullptr;
    dlclose(m_handle);
    m_handle = nullptr;
}

ChmArchive::ChmArchive(const HelpLibrary &lib, const QString &fileName)
    : m_lib(lib), m_fileName(fileName)
{
    if (!m_lib.isLoaded() || !QFile::exists(fileName))
        return;
    m_file = m_lib.chmOpen(QFile::encodeName(fileName).constData());
    if (m_file)
        readSystemFile();
}

ChmArchive::~ChmArchive()
{
    if (m_file && m_lib.isLoaded())
        m_lib.chmClose(m_file);
}

bool ChmArchive::contains(const QString &path) const
{
    const QByteArray p = path.toUtf8();
    if (!m_file || p.isEmpty() || p.size() > chm::MaxPathLen)
        return false;
    chm::UnitInfo ui{};
    return m_lib.chmResolve(m_file, p.constData(), &ui) == chm::ResolveSuccess;
}

QByteArray ChmArchive::read(const QString &path) const
{
    if (!m_file || path.isEmpty())
        return {};
    const QByteArray p = path.toUtf8();
    if (p.size() > chm::MaxPathLen)
        return {};
    chm::UnitInfo ui{};
    if (m_lib.chmResolve(m_file, p.constData(), &ui) != chm::ResolveSuccess)
        return {};
    // A damaged archive may claim any length; the help pages are small.
    constexpr std::uint64_t limit = 64u * 1024u * 1024u;
    if (ui.length == 0 || ui.length > limit)
        return {};
    QByteArray data(static_cast<qsizetype>(ui.length), '\0');
    const std::int64_t got =
        m_lib.chmRetrieve(m_file, &ui, reinterpret_cast<unsigned char *>(data.data()), 0,
                          static_cast<std::int64_t>(ui.length));
    if (got <= 0)
        return {};
    data.truncate(static_cast<qsizetype>(got));
    return data;
}

namespace {
int collectPath(chm::File *, chm::UnitInfo *ui, void *context)
{
    auto *list = static_cast<QStringList *>(context);
    ui->path[chm::MaxPathLen] = '\0';
    list->append(QString::fromUtf8(ui->path));
    return chm::EnumeratorContinue;
}
} // namespace

QStringList ChmArchive::paths() const
{
    QStringList list;
    if (m_file && m_lib.chmEnumerate)
        m_lib.chmEnumerate(m_file, chm::EnumerateAll, &collectPath, &list);
    return list;
}

void ChmArchive::readSystemFile()
{
    // "#SYSTEM": a 4-byte version, then records of code (16 bit), length (16 bit) and data.
    const QByteArray sys = read(QStringLiteral("/#SYSTEM"));
    auto text = [](const QByteArray &d) {
        const qsizetype nul = d.indexOf('\0');
        return QString::fromLatin1(nul >= 0 ? d.left(nul) : d);
    };
    qsizetype pos = 4;
    while (pos + 4 <= sys.size()) {
        const auto *p = reinterpret_cast<const uchar *>(sys.constData() + pos);
        const quint16 code = qFromLittleEndian<quint16>(p);
        const quint16 len = qFromLittleEndian<quint16>(p + 2);
        pos += 4;
        if (pos + len > sys.size())
            break;
        const QByteArray d = sys.mid(pos, len);
        pos += len;
        switch (code) {
        case 0:
            m_contents = text(d);
            break;
        case 1:
            m_index = text(d);
            break;
        case 2:
            m_defaultTopic = text(d);
            break;
        case 3:
            m_title = text(d);
            break;
        default:
            break;
        }
    }
    // Without a system record, fall back on the archive's own listing.
    if (m_contents.isEmpty() || m_index.isEmpty()) {
        for (const QString &p : paths()) {
            if (m_contents.isEmpty() && p.endsWith(QLatin1String(".hhc"), Qt::CaseInsensitive))
                m_contents = p;
            if (m_index.isEmpty() && p.endsWith(QLatin1String(".hhk"), Qt::CaseInsensitive))
                m_index = p;
        }
    }
    auto rooted = [](QString &s) {
        if (!s.isEmpty() && !s.startsWith(QLatin1Char('/')))
            s.prepend(QLatin1Char('/'));
    };
    rooted(m_contents);
    rooted(m_index);
    rooted(m_defaultTopic);
}
