#include "live/ConnectionSlots.h"

#include <algorithm>

ConnectionSlots::Admission ConnectionSlots::admit(const QString &client, qint64 now)
{
    Admission a;
    if (heldBy(client) >= perClient())
        return a;
    if (used() >= m_limits.count) {
        // A slot waiting for a head, of the address that holds the most, the longest
        // waiting of those: a phone that is a moment late with its head is not the one
        // that makes way for a crowd's connection.
        std::optional<Id> victim;
        qint64 since = 0;
        int held = 0;
        for (auto it = m_slots.cbegin(); it != m_slots.cend(); ++it) {
            const std::optional<qint64> w = waitingSince(it.value());
            if (!w)
                continue;
            const int h = heldBy(it.value().client);
            if (!victim || h > held ||
                (h == held && (*w < since || (*w == since && it.key() < *victim)))) {
                victim = it.key();
                since = *w;
                held = h;
            }
        }
        if (!victim)
            return a;
        release(*victim);
        a.evict = victim;
    }
    const Id id = m_next++;
    m_slots.insert(id, Slot{client, now, now, std::nullopt, false});
    ++m_perClient[client];
    a.id = id;
    return a;
}

void ConnectionSlots::received(Id id, qint64 now, bool headCompleted, bool headPending)
{
    const auto it = m_slots.find(id);
    if (it == m_slots.end())
        return;
    Slot &s = it.value();
    s.lastBytes = now;
    s.served = s.served || headCompleted;
    // A head that began in an earlier arrival keeps its first byte's time.
    if (headCompleted || !headPending)
        s.headSince.reset();
    if (headPending && !s.headSince)
        s.headSince = now;
}

void ConnectionSlots::release(Id id)
{
    const auto it = m_slots.find(id);
    if (it == m_slots.end())
        return;
    const QString client = it.value().client;
    m_slots.erase(it);
    if (--m_perClient[client] <= 0)
        m_perClient.remove(client);
}

std::vector<ConnectionSlots::Id> ConnectionSlots::expired(qint64 now) const
{
    std::vector<Id> out;
    for (auto it = m_slots.cbegin(); it != m_slots.cend(); ++it)
        if (deadline(it.value()) <= now)
            out.push_back(it.key());
    std::sort(out.begin(), out.end());
    return out;
}

std::optional<qint64> ConnectionSlots::nextDeadline() const
{
    std::optional<qint64> next;
    for (const Slot &s : m_slots)
        if (!next || deadline(s) < *next)
            next = deadline(s);
    return next;
}

qint64 ConnectionSlots::deadline(const Slot &s) const
{
    const qint64 idle = s.lastBytes + m_limits.idleMs;
    return s.headSince ? std::min(*s.headSince + m_limits.headMs, idle) : idle;
}

std::optional<qint64> ConnectionSlots::waitingSince(const Slot &s)
{
    if (!s.served)
        return s.accepted;
    return s.headSince;
}
