#include "formats/Zip.h"

#include <QFile>

#include <zip.h>

#include <algorithm>
#include <cstring>
#include <ctime>

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

namespace {

// What libzip reads a stream through.
struct StreamSource
{
    Zip::Stream stream;
    QByteArray piece;
    qsizetype at = 0;
    bool ended = false;
    QString failure;
    zip_error_t error;
};

zip_int64_t streamCallback(void *state, void *data, zip_uint64_t len, zip_source_cmd_t cmd)
{
    auto *s = static_cast<StreamSource *>(state);
    switch (cmd) {
    case ZIP_SOURCE_OPEN:
    case ZIP_SOURCE_CLOSE:
    case ZIP_SOURCE_FREE:
        return 0;
    case ZIP_SOURCE_READ: {
        while (s->at == s->piece.size() && !s->ended) {
            s->piece.clear();
            s->at = 0;
            QString failure;
            s->ended = !s->stream.next(s->piece, failure);
            if (!failure.isEmpty()) {
                s->failure = failure;
                zip_error_set(&s->error, ZIP_ER_INTERNAL, 0);
                return -1;
            }
        }
        const qsizetype n = std::min(qsizetype(len), s->piece.size() - s->at);
        std::memcpy(data, s->piece.constData() + s->at, size_t(n));
        s->at += n;
        return n;
    }
    case ZIP_SOURCE_STAT: {
        auto *st = static_cast<zip_stat_t *>(data);
        zip_stat_init(st);
        st->mtime = std::time(nullptr);
        st->valid |= ZIP_STAT_MTIME;
        if (s->stream.size >= 0) {
            st->size = zip_uint64_t(s->stream.size);
            st->valid |= ZIP_STAT_SIZE;
        }
        return sizeof(*st);
    }
    case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&s->error, data, len);
    case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE,
                                              ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE,
                                              -1);
    default:
        zip_error_set(&s->error, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
}

// Adds a part with the fastest deflate: a large sheet packs several times faster, a little
// larger. The source belongs to the archive afterwards, also when this fails.
bool addPart(zip_t *za, const QString &name, zip_source_t *s, bool stored)
{
    const zip_int64_t index =
        s ? zip_file_add(za, name.toUtf8().constData(), s, ZIP_FL_ENC_UTF_8) : -1;
    if (s && index < 0)
        zip_source_free(s);
    return index >= 0 &&
           zip_set_file_compression(za, zip_uint64_t(index),
                                    stored ? ZIP_CM_STORE : ZIP_CM_DEFLATE, stored ? 0 : 1) == 0;
}

} // namespace

QString Zip::write(const QString &path, const std::vector<Item> &items, Stream stream)
{
    int code = 0;
    zip_t *za = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &code);
    if (!za) {
        zip_error_t e;
        zip_error_init_with_code(&e, code);
        const QString w = libzipWords(&e);
        zip_error_fini(&e);
        return w;
    }
    auto fail = [za] {
        const QString w = QString::fromLocal8Bit(zip_strerror(za));
        zip_discard(za);
        return w;
    };
    for (const Item &item : items) {
        // The data stays ours and alive until zip_close has written it.
        if (!addPart(za, item.name,
                     zip_source_buffer(za, item.data.constData(), zip_uint64_t(item.data.size()), 0),
                     item.stored))
            return fail();
    }
    StreamSource source{std::move(stream), {}, 0, false, {}, {}};
    zip_error_init(&source.error);
    const QString streamName = source.stream.name;
    const bool added = addPart(za, streamName, zip_source_function(za, streamCallback, &source),
                               false);
    QString result;
    if (!added)
        result = fail();
    else if (zip_close(za) < 0) {
        result = source.failure.isEmpty() ? fail() : source.failure;
        if (!source.failure.isEmpty())
            zip_discard(za);
    }
    zip_error_fini(&source.error);
    return result;
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
