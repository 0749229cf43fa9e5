#pragma once

#include <QString>
#include <QtGlobal>

#include <chrono>

// The simulated light barrier speaks over a Unix stream socket. The barrier (the
// listening side, tools/barrier-sim) sends one line per change of its contacts:
//   "contacts 0x20\n"   the closed pin pairs, as modem-status bits (0x20 = "4+6")
// It greets every program that connects with its current contacts, and answers a second
// program with "busy\n" and hangs up, as a real port opened without sharing would.
namespace SimBarrier {

// "sim:" prefix of a device path naming the simulated barrier.
inline constexpr char pathPrefix[] = "sim:";
bool isSimPath(const QString &devicePath);
QString socketPath(const QString &devicePath);

QByteArray contactsLine(quint32 contacts);
// Parses one line without its newline. Returns false for anything else.
bool parseContactsLine(const QByteArray &line, quint32 &contacts);
// The same without allocating (the port's worker parses with it).
bool parseContactsLine(const char *line, size_t length, quint32 &contacts);

// The modem-status word a port sees for the closed contacts: a contact only shows on
// an input while the port drives the other pin (DTR for "4+6" and "1+4", RTS for "7+8"
// and "7+9").
quint32 statusForContacts(quint32 contacts, bool dtr, bool rts);

// A moment on the wall clock as the barrier logs it: local time of day to the
// microsecond, "HH:MM:SS.ffffff".
QByteArray wallClockText(std::chrono::system_clock::time_point t);

} // namespace SimBarrier

// The listening side of the simulated barrier (used by tools/barrier-sim and tests).
// Single-threaded; the owner polls listenFd()/clientFd() or calls the waiting helpers.
class SimBarrierServer
{
public:
    SimBarrierServer() = default;
    ~SimBarrierServer();
    SimBarrierServer(const SimBarrierServer &) = delete;
    SimBarrierServer &operator=(const SimBarrierServer &) = delete;

    // Listens on path; a stale socket file left there is replaced, any other file is not.
    bool listen(const QString &path, QString &error);
    int listenFd() const { return m_listenFd; }
    int clientFd() const { return m_clientFd; }
    bool hasClient() const { return m_clientFd >= 0; }

    // Accepts one waiting connection: the first becomes the client and is greeted,
    // further ones are told "busy".
    void acceptPending();
    // Waits up to timeoutMs for a client (accepting as it comes). True if there is one.
    bool waitForClient(int timeoutMs);
    // Call when clientFd() is readable: notices a program that went away.
    void serviceClient();

    quint32 contacts() const { return m_contacts; }
    // Sets the closed contacts and tells the client, if there is one.
    void setContacts(quint32 contacts);
    void closeContact(quint32 pairBit) { setContacts(m_contacts | pairBit); }
    void openContact(quint32 pairBit) { setContacts(m_contacts & ~pairBit); }
    // Closes and opens the contact in one message, so that the port sees both changes at
    // once: a pass shorter than the port can resolve.
    void blip(quint32 pairBit);

    // When the last change was sent, on the wall clock and on the monotonic clock (read
    // together, just before sending).
    struct ChangeTime
    {
        std::chrono::system_clock::time_point wall;
        std::chrono::steady_clock::time_point mono;
    };
    ChangeTime lastChange() const { return m_lastChange; }

    void shutdown();

private:
    void dropClient();
    void send(const QByteArray &message);
    ChangeTime m_lastChange;
    QString m_path;
    int m_listenFd = -1;
    int m_clientFd = -1;
    quint32 m_contacts = 0;
};
