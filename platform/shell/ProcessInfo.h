#pragma once

#include <QHash>
#include <QString>

namespace platform {

// Whether the process may be ended without asking (sudden termination) or
// ended by the system when idle (automatic termination). Both are counters:
// each disable needs a matching enable. Debug builds assert that every enable
// has its disable (an automatic-termination enable one with the same reason).
class ProcessInfo
{
public:
    static ProcessInfo& processInfo();

    void disableSuddenTermination();
    void enableSuddenTermination();
    bool suddenTerminationEnabled() const { return m_suddenDisabled == 0; }
    int suddenTerminationDisableCount() const { return m_suddenDisabled; }

    void disableAutomaticTermination(const QString& reason);
    void enableAutomaticTermination(const QString& reason);
    bool automaticTerminationEnabled() const { return m_automaticDisabled.isEmpty(); }
    // How many disables with `reason` are outstanding.
    int automaticTerminationDisableCount(const QString& reason) const
    {
        return m_automaticDisabled.value(reason);
    }

private:
    int m_suddenDisabled = 0;
    QHash<QString, int> m_automaticDisabled;
};

} // namespace platform
