#pragma once

#include <QHash>
#include <QString>

#include <optional>
#include <vector>

// Who holds the live server's connection slots, and which of them must go. Pure
// bookkeeping on a millisecond clock the caller reads, so the rules are tested without
// sockets and the server applies them on every event and at the next deadline.
//
// The rules, against clients that hold slots without asking for anything:
// - a request head must be complete within headMs of its first byte, whatever trickles in
//   meanwhile; a connection that sends nothing is closed after idleMs;
// - one client address holds at most a quarter of the slots;
// - when all slots are taken, a newcomer takes the slot of a connection that is waiting
//   for a head (its first since it was accepted, a later one since its first byte): of
//   the address that holds the most slots, the one that has waited longest. A browser
//   sends its head in one go, so only the slow ones make way; and a slot lost this way
//   costs the holder no more than a refusal would.
// A slot freed by any rule counts as free at once.
class ConnectionSlots
{
public:
    struct Limits
    {
        int count = 64; // slots in all
        int headMs = 10000;
        int idleMs = 15000;
    };
    using Id = quint64;

    explicit ConnectionSlots(const Limits &limits) : m_limits(limits) {}

    int perClient() const { return m_limits.count / 4 > 0 ? m_limits.count / 4 : 1; }

    struct Admission
    {
        std::optional<Id> id;    // empty: refused, answer 503
        std::optional<Id> evict; // the slot that made way; its connection is closed
    };
    // A connection from client (its address as text) at now.
    Admission admit(const QString &client, qint64 now);
    // Bytes arrived: whether they completed a head, and whether an incomplete head is
    // waiting after them.
    void received(Id id, qint64 now, bool headCompleted, bool headPending);
    // The connection is gone (closed by either side); unknown ids are ignored.
    void release(Id id);

    // The connections past their deadline at now, to be closed (and released) by the caller.
    std::vector<Id> expired(qint64 now) const;
    // The earliest deadline of all, if any slot is taken.
    std::optional<qint64> nextDeadline() const;

    int used() const { return int(m_slots.size()); }
    int heldBy(const QString &client) const { return m_perClient.value(client); }

private:
    struct Slot
    {
        QString client;
        qint64 accepted = 0;
        qint64 lastBytes = 0;
        // The first byte of the head not yet complete; empty between requests.
        std::optional<qint64> headSince;
        bool served = false; // a head was complete
    };
    qint64 deadline(const Slot &s) const;
    // Since when the slot has been waiting for a head, if it is.
    static std::optional<qint64> waitingSince(const Slot &s);

    Limits m_limits;
    Id m_next = 1;
    QHash<Id, Slot> m_slots;
    QHash<QString, int> m_perClient;
};
