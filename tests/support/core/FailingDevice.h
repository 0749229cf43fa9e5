#pragma once

#include <QByteArray>
#include <QIODevice>

#include <cstring>

// A device that takes or gives `limit` bytes and then fails.
class FailingDevice : public QIODevice
{
public:
    explicit FailingDevice(qint64 limit, QByteArray data = {})
        : m_limit(limit), m_data(std::move(data))
    {}
    QByteArray written;

protected:
    qint64 readData(char *out, qint64 max) override
    {
        if (m_pos >= m_limit)
            return -1;
        const qint64 n = qMin(max, qMin(m_limit - m_pos, qint64(m_data.size()) - m_pos));
        if (n <= 0)
            return -1;
        memcpy(out, m_data.constData() + m_pos, size_t(n));
        m_pos += n;
        return n;
    }
    qint64 writeData(const char *in, qint64 len) override
    {
        const qint64 room = m_limit - qint64(written.size());
        if (room <= 0)
            return -1;
        const qint64 n = qMin(len, room);
        written.append(in, n);
        return n;
    }
    bool isSequential() const override { return true; }

private:
    qint64 m_limit;
    QByteArray m_data;
    qint64 m_pos = 0;
};
