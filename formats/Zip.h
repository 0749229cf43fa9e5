#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

struct zip;
struct zip_file;

// The zip packages that .xlsx and .ods files are, through libzip.
namespace Zip {

struct Item
{
    QString name;
    QByteArray data;
    // Kept uncompressed (an OpenDocument's "mimetype", which must come first).
    bool stored = false;
};

// A package of the items in their order; empty with error set when libzip fails.
QByteArray pack(const std::vector<Item> &items, QString *error);

// A part made while it is packed, piece by piece, so that a large one never stands whole in
// memory: next appends the following piece to out and returns false once nothing is left.
// A piece that cannot be made sets error and stops the package.
struct Stream
{
    QString name;
    std::function<bool(QByteArray &out, QString &error)> next;
    // The bytes it makes, when known: a part of unknown size is packed with ZIP64 fields,
    // which some spreadsheet programs take for damage.
    qint64 size = -1;
};

// Writes the items, then the stream, as a package to path (libzip writes beside it and puts
// the file in place when it is whole). Empty on success, else what went wrong.
QString write(const QString &path, const std::vector<Item> &items, Stream stream);

// One entry of a package as a stream, ending with an error past its limit: a small file
// may unpack to gigabytes.
class Entry : public QIODevice
{
public:
    Entry(zip_file *file, qint64 limit);
    ~Entry() override;
    bool isSequential() const override { return true; }
    // It stopped at the limit.
    bool tooLarge() const { return m_tooLarge; }

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    zip_file *m_file;
    qint64 m_limit;
    qint64 m_read = 0;
    bool m_tooLarge = false;
};

// A package on disk, read only.
class Archive
{
public:
    explicit Archive(const QString &path);
    ~Archive();
    Archive(const Archive &) = delete;
    Archive &operator=(const Archive &) = delete;

    bool isOpen() const { return m_zip != nullptr; }
    // libzip's words when the file is no package or a damaged one.
    QString error() const { return m_error; }
    bool contains(const QString &name) const;
    // Null when the entry is missing or unreadable.
    std::unique_ptr<Entry> open(const QString &name, qint64 limit) const;
    // The whole entry, when it is there and holds at most limit bytes.
    std::optional<QByteArray> read(const QString &name, qint64 limit) const;

private:
    zip *m_zip = nullptr;
    QString m_error;
};

} // namespace Zip
