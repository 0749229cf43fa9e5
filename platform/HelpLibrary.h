#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>

// The compiled-help library, loaded at run time. chmlib ships no header we may rely on, so
// the few entry points we call are declared here after its public interface.
namespace chm {
struct File; // opaque handle of an open .chm file
constexpr int MaxPathLen = 512;
struct UnitInfo
{
    std::uint64_t start;
    std::uint64_t length;
    int space;
    int flags;
    char path[MaxPathLen + 1];
};
constexpr int ResolveSuccess = 0;
constexpr int EnumerateAll = 31;
constexpr int EnumeratorContinue = 1;

using OpenFn = File *(*)(const char *fileName);
using CloseFn = void (*)(File *h);
using ResolveFn = int (*)(File *h, const char *objPath, UnitInfo *ui);
using RetrieveFn = std::int64_t (*)(File *h, UnitInfo *ui, unsigned char *buf, std::uint64_t addr,
                                    std::int64_t len);
using EnumeratorFn = int (*)(File *h, UnitInfo *ui, void *context);
using EnumerateFn = int (*)(File *h, int what, EnumeratorFn e, void *context);
} // namespace chm

// The loaded library and its entry points. Loading fails as a whole when the library or
// any of the required entry points is missing.
class HelpLibrary
{
public:
    static constexpr const char *DefaultName = "libchm.so.1";

    HelpLibrary() = default;
    ~HelpLibrary();
    HelpLibrary(const HelpLibrary &) = delete;
    HelpLibrary &operator=(const HelpLibrary &) = delete;

    // Loads the named library (a file name searched by the dynamic loader, or a path).
    bool load(const QString &name = QString::fromLatin1(DefaultName));
    void unload();
    bool isLoaded() const { return m_handle != nullptr; }
    // The loader's message for the last failure.
    QString errorString() const { return m_error; }

    chm::OpenFn chmOpen = nullptr;
    chm::CloseFn chmClose = nullptr;
    chm::ResolveFn chmResolve = nullptr;
    chm::RetrieveFn chmRetrieve = nullptr;
    chm::EnumerateFn chmEnumerate = nullptr; // optional

private:
    void *m_handle = nullptr;
    QString m_error;
};

// One open .chm file read through the library.
class ChmArchive
{
public:
    ChmArchive(const HelpLibrary &lib, const QString &fileName);
    ~ChmArchive();
    ChmArchive(const ChmArchive &) = delete;
    ChmArchive &operator=(const ChmArchive &) = delete;

    bool isOpen() const { return m_file != nullptr; }
    QString fileName() const { return m_fileName; }
    bool contains(const QString &path) const;
    // The object's bytes; empty when it does not exist. Paths start with "/".
    QByteArray read(const QString &path) const;
    // Every object path in the archive (empty when the library cannot enumerate).
    QStringList paths() const;

    // From the archive's system file: the contents (.hhc), index (.hhk) and default topic.
    QString contentsFile() const { return m_contents; }
    QString indexFile() const { return m_index; }
    QString defaultTopic() const { return m_defaultTopic; }
    QString title() const { return m_title; }

private:
    void readSystemFile();

    const HelpLibrary &m_lib;
    QString m_fileName;
    chm::File *m_file = nullptr;
    QString m_contents;
    QString m_index;
    QString m_defaultTopic;
    QString m_title;
};
