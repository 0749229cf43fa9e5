#include "formats/Zip.h"

#include <QFile>

#include <zip.h>

namespace {
QString libzipWords(zip_error_t *e)
{
    return QString::fromLocal8Bit(zip_error_strerror(e));
}
} // namespace

QByteArray Zip::pack(const std::vector<Item> &items, QString *error)
{
    zip_error_t e;
    zip_error_init(&e);
    auto fail = [&](const QString &what) {
        if (error)
            *error = what;
        return QByteArray();
    };
    zip_source_t *buffer = zip_source_buffer_create(nullptr, 0, 0, &e);
    if (!buffer) {
        const QString w = libzipWords(&e);
        zip_error_fini(&e);
        return fail(w);
    }
    // The archive gives the buffer back when it is closed; we read the package from it.
    zip_source_keep(buffer);
    zip_t *za = zip_open_from_source(buffer, ZIP_TRUNCATE, &e);
    if (!za) {
        const QString w = libzipWords(&e);
        zip_error_fini(&e);
        zip_source_free(buffer);
        return fail(w);
    }
    zip_error_fini(&e);
    for (const Item &item : items) {
        // The data stays ours and alive until zip_close has written it.
        zip_source_t *s =
            zip_source_buffer(za, item.data.constData(), zip_uint64_t(item.data.size()), 0);
        const zip_int64_t index =
            s ? zip_file_add(za, item.name.toUtf8().constData(), s, ZIP_FL_ENC_UTF_8) : -1;
        // The fastest deflate: a large sheet packs several times faster, a little larger.
        const bool set =
            index >= 0 && zip_set_file_compression(za, zip_uint64_t(index),
                                                   item.stored ? ZIP_CM_STORE : ZIP_CM_DEFLATE,
                                                   item.stored ? 0 : 1) == 0;
        if (!set) {
            if (s && index < 0)
                zip_source_free(s);
            const QString w = QString::fromLocal8Bit(zip_strerror(za));
            zip_discard(za);
            zip_source_free(buffer);
            return fail(w);
        }
    }
    if (zip_close(za) < 0) {
        const QString w = QString::fromLocal8Bit(zip_strerror(za));
        zip_discard(za);
        zip_source_free(buffer);
        return fail(w);
    }
    QByteArray out;
    if (zip_source_open(buffer) == 0) {
        zip_source_seek(buffer, 0, SEEK_END);
        const zip_int64_t size = zip_source_tell(buffer);
        zip_source_seek(buffer, 0, SEEK_SET);
        if (size > 0) {
            out.resize(qsizetype(size));
            if (zip_source_read(buffer, out.data(), zip_uint64_t(size)) != size)
                out.clear();
        }
        zip_source_close(buffer);
    }
    zip_source_free(buffer);
    if (out.isEmpty())
        return fail(QStringLiteral("zip"));
    return out;
}

Zip::Entry::Entry(zip_file *file, qint64 limit) : m_file(file), m_limit(limit)
{
    open(QIODevice::ReadOnly);
}

Zip::Entry::~Entry()
{
    zip_fclose(m_file);
}

qint64 Zip::Entry::readData(char *data, qint64 maxSize)
{
    // One byte past the limit tells a larger entry from one of exactly that size.
    const qint64 room = m_limit + 1 - m_read;
    const zip_int64_t n = zip_fread(m_file, data, zip_uint64_t(qMin(maxSize, room)));
    if (n < 0) {
        setErrorString(QString::fromLocal8Bit(zip_file_strerror(m_file)));
        return -1;
    }
    m_read += n;
    if (m_read > m_limit) {
        m_tooLarge = true;
        setErrorString(QStringLiteral("too large"));
        return -1;
    }
    return n;
}

Zip::Archive::Archive(const QString &path)
{
    int code = 0;
    m_zip = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY, &code);
    if (!m_zip) {
        zip_error_t e;
        zip_error_init_with_code(&e, code);
        m_error = libzipWords(&e);
        zip_error_fini(&e);
    }
}

Zip::Archive::~Archive()
{
    if (m_zip)
        zip_discard(m_zip);
}

bool Zip::Archive::contains(const QString &name) const
{
    return m_zip && zip_name_locate(m_zip, name.toUtf8().constData(), 0) >= 0;
}

std::unique_ptr<Zip::Entry> Zip::Archive::open(const QString &name, qint64 limit) const
{
    if (!m_zip)
        return nullptr;
    const zip_int64_t index = zip_name_locate(m_zip, name.toUtf8().constData(), 0);
    if (index < 0)
        return nullptr;
    zip_file_t *f = zip_fopen_index(m_zip, zip_uint64_t(index), 0);
    if (!f)
        return nullptr;
    return std::make_unique<Entry>(f, limit);
}

std::optional<QByteArray> Zip::Archive::read(const QString &name, qint64 limit) const
{
    auto entry = open(name, limit);
    if (!entry)
        return std::nullopt;
    QByteArray all;
    char chunk[65536];
    for (;;) {
        const qint64 n = entry->read(chunk, sizeof chunk);
        if (n < 0)
            return std::nullopt;
        if (n == 0)
            break;
        all.append(chunk, n);
    }
    return all;
}
