#pragma once

#include <QString>

// The sync state kept in the settings. The settings layer may be used from
// any thread; a value is written only when it changes, since every reply of
// the service repeats the same state.
class QVRSyncSettings
{
public:
    // Times from the service are seconds since 1970. Anything beyond about
    // 3,000 years either way is no time: it would stop the scheduled syncs and
    // put a 300-digit number on every request.
    static constexpr double TimeLimit = 1e11;
    // Our clock minus the service's: a dead clock may be decades off, not more.
    static constexpr double OffsetLimit = 1e10;

    bool firstRun() const;
    void setFirstRun(bool firstRun);
    // Web sync is on.
    bool enabled() const;
    void setEnabled(bool enabled);
    // Null when no account is set (or only white space is stored).
    QString email() const;
    void setEmail(const QString& email);
    QString client() const;
    void setClient(const QString& client);
    // The service time of the last update; 0 for a value out of range.
    double updated() const;
    void setUpdated(double updated);
    // Our clock minus the service's; 0 for a value out of range.
    double offset() const;
    void setOffset(double offset);
    // Every reply carries a new update time and offset. During a run of
    // requests they are held in memory (every reader here sees them) and
    // written once by writeHeld(), when the run ends: a stored time that is
    // older than the last reply only makes the next sync ask for more. A
    // plain set of either value, or a change of it in the settings file
    // meanwhile, drops what is held for it.
    void holdUpdated(double updated);
    void holdOffset(double offset);
    static void writeHeld();
    // The history setting as stored (0 when absent).
    qint64 historyDays() const;
};
