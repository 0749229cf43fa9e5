#pragma once

#include <QByteArray>
#include <QDir>
#include <QSettings>
#include <QString>

#include <utility>

// Scope guards for process-wide state. A test that changes such state holds one, so the
// state is back when the test ends, also when an assertion ends it early.

// An environment variable, set (or unset) for the scope.
class EnvGuard
{
public:
    EnvGuard(const char *name, const QByteArray &value) : EnvGuard(name) { qputenv(name, value); }
    explicit EnvGuard(const char *name)
        : m_name(name), m_had(qEnvironmentVariableIsSet(name)), m_old(qgetenv(name))
    {}
    ~EnvGuard()
    {
        if (m_had)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
    }
    EnvGuard(const EnvGuard &) = delete;
    EnvGuard &operator=(const EnvGuard &) = delete;

private:
    const char *m_name;
    bool m_had;
    QByteArray m_old;
};

// The working folder.
class CwdGuard
{
public:
    CwdGuard() : m_old(QDir::currentPath()) {}
    ~CwdGuard() { QDir::setCurrent(m_old); }
    CwdGuard(const CwdGuard &) = delete;
    CwdGuard &operator=(const CwdGuard &) = delete;

private:
    QString m_old;
};

// The per-user settings folder. QSettings cannot report it, so it goes back to the run's
// own folder, which the test runner sets from XDG_CONFIG_HOME.
class SettingsPathGuard
{
public:
    SettingsPathGuard() = default;
    explicit SettingsPathGuard(const QString &path) { set(path); }
    ~SettingsPathGuard() { set(qEnvironmentVariable("XDG_CONFIG_HOME")); }
    static void set(const QString &path)
    {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, path);
    }
    SettingsPathGuard(const SettingsPathGuard &) = delete;
    SettingsPathGuard &operator=(const SettingsPathGuard &) = delete;
};

// Any variable, such as a test hook: the old value comes back at the end of the scope.
template <typename T> class ValueGuard
{
public:
    ValueGuard(T &var, T value) : m_var(var), m_old(std::exchange(var, std::move(value))) {}
    ~ValueGuard() { m_var = std::move(m_old); }
    ValueGuard(const ValueGuard &) = delete;
    ValueGuard &operator=(const ValueGuard &) = delete;

private:
    T &m_var;
    T m_old;
};
