// barrier-sim: a light barrier without hardware. It listens on a Unix socket; Tornelo
// opens it as a port whose device path is "sim:<socket>" and sees the contacts this
// program closes and opens as modem-line changes, through its real worker thread.

#include "serial/PortProbe.h"
#include "serial/SimBarrier.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <deque>
#include <poll.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

const char usageText[] =
    "Usage: barrier-sim SOCKET [--once] [--log FILE] [COMMAND [, COMMAND]...]\n"
    "\n"
    "Simulated light barrier. Listens on the Unix socket SOCKET; in Tornelo set the\n"
    "device of a port to sim:SOCKET (settings file, group [Devices], e.g. COM1=sim:SOCKET)\n"
    "and pick that port. Commands given on the command line run once Tornelo has\n"
    "connected; more commands can be typed on standard input, one per line.\n"
    "\n"
    "Commands (PAIR is one of 1+4, 4+6, 7+8, 7+9):\n"
    "  close PAIR                    close the contact on PAIR\n"
    "  open PAIR                     open the contact on PAIR\n"
    "  pass PAIR MS                  one pass: close, open again after MS ms\n"
    "  blip PAIR                     close and open at once: both changes reach the\n"
    "                                port together, as a pass too short for it\n"
    "  repeat PAIR MS EVERY [COUNT]  a pass every EVERY ms (COUNT times, default endless)\n"
    "  stop                          end repeated passes\n"
    "  wait MS                       wait before the next command-line command\n"
    "  status                        show the contacts and the connection\n"
    "  quit                          end the program\n"
    "\n"
    "Options:\n"
    "  --once      end when the command-line commands and their passes are done\n"
    "  --log FILE  also write each contact change to FILE, one line each:\n"
    "              HH:MM:SS.ffffff 0xNN (wall-clock time of day to the microsecond,\n"
    "              the closed contacts as modem-status bits)\n"
    "\n"
    "Each contact change is printed with the wall-clock time it was sent, to the\n"
    "microsecond.\n"
    "\n"
    "4+6 and 1+4 need DTR (always held by Tornelo), 7+8 and 7+9 need RTS (held under\n"
    "hardware handshake, which Tornelo's port uses).\n";

volatile std::sig_atomic_t stopRequested = 0;
void onSignal(int)
{
    stopRequested = 1;
}

struct Timed
{
    Clock::time_point due;
    enum Kind
    {
        Open,
        RepeatPass
    } kind;
    quint32 pair;
    int holdMs = 0;
    int everyMs = 0;
    int remaining = -1; // repeat: passes still to make (-1 endless)
};

class Simulator
{
public:
    SimBarrierServer server;
    std::deque<QStringList> scripted; // command-line commands, run once connected
    Clock::time_point scriptWaitUntil{};
    std::vector<Timed> timers;
    bool once = false;
    bool quit = false;
    bool stdinOpen = true;
    QByteArray stdinBuffer;
    std::FILE *log = nullptr;

    void say(const QString &text)
    {
        std::printf("%s\n", text.toLocal8Bit().constData());
        std::fflush(stdout);
    }

    QString contactsText() const { return contactsText(server.contacts()); }
    static QString contactsText(quint32 contacts)
    {
        QStringList closed;
        for (quint32 bit : {0x80u, 0x20u, 0x10u, 0x40u})
            if (contacts & bit)
                closed << pinPairText(bit);
        return closed.isEmpty() ? QStringLiteral("all open")
                                : QStringLiteral("closed: ") + closed.join(QLatin1Char(' '));
    }

    // Prints (and logs) the change just sent, with the moment it was sent.
    void logChange(quint32 contacts)
    {
        const QByteArray at = SimBarrier::wallClockText(server.lastChange().wall);
        say(QString::fromLatin1(at) + QLatin1Char(' ') + contactsText(contacts));
        if (log) {
            std::fprintf(log, "%s 0x%02x\n", at.constData(), unsigned(contacts));
            std::fflush(log);
        }
    }

    void setContacts(quint32 c)
    {
        if (c == server.contacts())
            return;
        server.setContacts(c);
        logChange(c);
    }

    void blip(quint32 pair)
    {
        const quint32 before = server.contacts();
        server.blip(pair);
        logChange(before | pair);
        logChange(server.contacts());
    }

    bool parsePair(const QStringList &cmd, int i, quint32 &pair)
    {
        pair = i < cmd.size() ? pinPairBit(cmd[i]) : 0;
        if (!pair)
            say(QStringLiteral("unknown pin pair; use 1+4, 4+6, 7+8 or 7+9"));
        return pair != 0;
    }

    bool parseMs(const QStringList &cmd, int i, int &ms, int min = 0)
    {
        bool ok = false;
        ms = i < cmd.size() ? cmd[i].toInt(&ok) : 0;
        if (!ok || ms < min) {
            say(QStringLiteral("expected a number of milliseconds (at least %1)").arg(min));
            return false;
        }
        return true;
    }

    // Runs one command (or, with dry set, only checks it); false for an unknown or
    // malformed one.
    bool run(const QStringList &cmd, bool dry = false)
    {
        if (cmd.isEmpty())
            return true;
        const QString &verb = cmd[0];
        quint32 pair = 0;
        int a = 0, b = 0, count = -1;
        if (verb == "close" || verb == "open") {
            if (!parsePair(cmd, 1, pair))
                return false;
            if (!dry)
                setContacts(verb == "close" ? server.contacts() | pair : server.contacts() & ~pair);
        } else if (verb == "blip") {
            if (!parsePair(cmd, 1, pair))
                return false;
            if (!dry)
                blip(pair);
        } else if (verb == "pass") {
            if (!parsePair(cmd, 1, pair) || !parseMs(cmd, 2, a))
                return false;
            if (!dry)
                pass(pair, a);
        } else if (verb == "repeat") {
            if (!parsePair(cmd, 1, pair) || !parseMs(cmd, 2, a) || !parseMs(cmd, 3, b, 1) ||
                (cmd.size() > 4 && !parseMs(cmd, 4, count, 1)))
                return false;
            if (a >= b) {
                say(QStringLiteral("the contact must open before the next pass (MS < EVERY)"));
                return false;
            }
            if (!dry)
                timers.push_back({Clock::now(), Timed::RepeatPass, pair, a, b, count});
        } else if (verb == "stop") {
            if (!dry)
                std::erase_if(timers, [](const Timed &t) { return t.kind == Timed::RepeatPass; });
        } else if (verb == "wait") {
            if (!parseMs(cmd, 1, a))
                return false;
            if (!dry)
                scriptWaitUntil = Clock::now() + std::chrono::milliseconds(a);
        } else if (verb == "status") {
            if (!dry)
                say(contactsText() + (server.hasClient()
                                          ? QStringLiteral(", program connected")
                                          : QStringLiteral(", no program connected")));
        } else if (verb == "quit") {
            if (!dry)
                quit = true;
        } else if (verb == "help") {
            if (!dry)
                std::fputs(usageText, stdout);
        } else {
            say(QStringLiteral("unknown command: ") + verb);
            return false;
        }
        return true;
    }

    void pass(quint32 pair, int holdMs)
    {
        setContacts(server.contacts() | pair);
        timers.push_back({Clock::now() + std::chrono::milliseconds(holdMs), Timed::Open, pair});
    }

    void runDueTimers()
    {
        const auto now = Clock::now();
        // Sorted by due time, so that a pass's opening comes before the next closing.
        std::stable_sort(timers.begin(), timers.end(),
                         [](const Timed &x, const Timed &y) { return x.due < y.due; });
        std::vector<Timed> later;
        std::vector<Timed> due;
        for (const Timed &t : timers)
            (t.due <= now ? due : later).push_back(t);
        timers = later;
        for (Timed t : due) {
            if (t.kind == Timed::Open) {
                setContacts(server.contacts() & ~t.pair);
            } else {
                pass(t.pair, t.holdMs);
                if (t.remaining > 0)
                    --t.remaining;
                if (t.remaining != 0) {
                    t.due += std::chrono::milliseconds(t.everyMs);
                    timers.push_back(t);
                }
            }
        }
    }

    void runScript()
    {
        while (server.hasClient() && !scripted.empty() && Clock::now() >= scriptWaitUntil) {
            const QStringList cmd = scripted.front();
            scripted.pop_front();
            if (!run(cmd)) {
                quit = true;
                return;
            }
        }
    }

    void readStdin()
    {
        char buf[512];
        const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
        if (n <= 0) {
            stdinOpen = false;
            // Ctrl+D in a terminal ends the program; a closed pipe only ends the input.
            if (isatty(STDIN_FILENO))
                quit = true;
            return;
        }
        stdinBuffer.append(buf, n);
        int nl;
        while ((nl = int(stdinBuffer.indexOf('\n'))) >= 0) {
            const QString line = QString::fromLocal8Bit(stdinBuffer.left(nl)).simplified();
            stdinBuffer.remove(0, nl + 1);
            run(line.split(QLatin1Char(' '), Qt::SkipEmptyParts));
        }
    }

    int loop()
    {
        bool hadClient = false;
        while (!quit && !stopRequested) {
            runScript();
            if (once && scripted.empty() && timers.empty() && hadClient)
                break;
            int timeout = -1;
            auto next = Clock::time_point::max();
            for (const Timed &t : timers)
                next = std::min(next, t.due);
            if (!scripted.empty() && server.hasClient())
                next = std::min(next, scriptWaitUntil);
            if (next != Clock::time_point::max())
                timeout = int(std::max<long long>(
                    0, std::chrono::duration_cast<std::chrono::milliseconds>(next - Clock::now())
                               .count() +
                           1));

            pollfd fds[3];
            int n = 0;
            fds[n++] = {server.listenFd(), POLLIN, 0};
            const int clientAt = server.hasClient() ? n : -1;
            if (clientAt >= 0)
                fds[n++] = {server.clientFd(), POLLIN, 0};
            const int stdinAt = stdinOpen ? n : -1;
            if (stdinAt >= 0)
                fds[n++] = {STDIN_FILENO, POLLIN, 0};
            const int r = ::poll(fds, nfds_t(n), timeout);
            if (r < 0 && errno != EINTR)
                return 1;
            if (r > 0) {
                if (fds[0].revents & POLLIN) {
                    const bool before = server.hasClient();
                    server.acceptPending();
                    if (!before && server.hasClient()) {
                        hadClient = true;
                        say(QStringLiteral("program connected"));
                    }
                }
                if (clientAt >= 0 && fds[clientAt].revents) {
                    server.serviceClient();
                    if (!server.hasClient())
                        say(QStringLiteral("program disconnected"));
                }
                if (stdinAt >= 0 && fds[stdinAt].revents)
                    readStdin();
            }
            runDueTimers();
        }
        return 0;
    }
};

} // namespace

int main(int argc, char **argv)
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    if (args.isEmpty() || args[0] == "-h" || args[0] == "--help") {
        std::fputs(usageText, args.isEmpty() ? stderr : stdout);
        return args.isEmpty() ? 2 : 0;
    }

    Simulator sim;
    const QString socketPath = args.takeFirst();
    QStringList current;
    QString logPath;
    for (int i = 0; i < args.size(); ++i) {
        const QString &a = args[i];
        if (a == "--once") {
            sim.once = true;
        } else if (a == "--log") {
            if (i + 1 >= args.size()) {
                std::fputs("barrier-sim: --log needs a file name\n", stderr);
                return 2;
            }
            logPath = args[++i];
        } else if (a == ",") {
            if (!current.isEmpty())
                sim.scripted.push_back(current);
            current.clear();
        } else if (a.endsWith(QLatin1Char(','))) {
            current << a.chopped(1);
            sim.scripted.push_back(current);
            current.clear();
        } else {
            // A known verb starts the next command, so commas are optional.
            static const QStringList verbs = {"close", "open", "pass",   "blip", "repeat",
                                              "stop",  "wait", "status", "quit"};
            if (verbs.contains(a) && !current.isEmpty()) {
                sim.scripted.push_back(current);
                current.clear();
            }
            current << a;
        }
    }
    if (!current.isEmpty())
        sim.scripted.push_back(current);

    for (const QStringList &cmd : sim.scripted)
        if (!sim.run(cmd, true)) {
            std::fputs("\nbarrier-sim --help shows the commands.\n", stderr);
            return 2;
        }

    struct sigaction sa = {};
    sa.sa_handler = onSignal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    if (!logPath.isEmpty()) {
        sim.log = std::fopen(logPath.toLocal8Bit().constData(), "w");
        if (!sim.log) {
            std::fprintf(stderr, "barrier-sim: cannot write %s: %s\n",
                         logPath.toLocal8Bit().constData(), std::strerror(errno));
            return 1;
        }
    }

    QString error;
    if (!sim.server.listen(socketPath, error)) {
        std::fprintf(stderr, "barrier-sim: cannot listen on %s: %s\n",
                     socketPath.toLocal8Bit().constData(), error.toLocal8Bit().constData());
        return 1;
    }
    sim.say(QStringLiteral("listening on %1 (device sim:%1)").arg(socketPath));
    const int rc = sim.loop();
    sim.server.shutdown();
    if (sim.log)
        std::fclose(sim.log);
    return rc;
}
