#pragma once

#include <QString>

// One running copy per program name and user: a lock file in the program's data folder,
// held with flock() while the process lives. The kernel lets go of it when the process
// ends, however it ends, so a crash leaves no lock behind that would block the next start.
class InstanceLock
{
public:
    // folder: the program's data folder (created when missing).
    explicit InstanceLock(const QString &folder);
    ~InstanceLock();
    InstanceLock(const InstanceLock &) = delete;
    InstanceLock &operator=(const InstanceLock &) = delete;

    // False while another process holds the lock. A folder or file that cannot be used
    // does not stop the program (true): the journal reports what fails there.
    bool acquire();
    // The process id the holder wrote into the file; 0 when unknown.
    qint64 holderPid() const { return m_holder; }
    QString path() const { return m_path; }

    static constexpr const char *FileName = "instance.lock";

private:
    QString m_path;
    int m_fd = -1;
    qint64 m_holder = 0;
};
