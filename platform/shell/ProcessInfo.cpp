#include "platform/shell/ProcessInfo.h"

#include <QtGlobal>

namespace platform {

ProcessInfo& ProcessInfo::processInfo()
{
    static ProcessInfo info;
    return info;
}

void ProcessInfo::disableSuddenTermination()
{
    ++m_suddenDisabled;
}

void ProcessInfo::enableSuddenTermination()
{
    Q_ASSERT_X(m_suddenDisabled > 0, "ProcessInfo::enableSuddenTermination", "enable without a disable");
    // Release builds keep the count from going below zero, so an unbalanced
    // enable cannot hide a later disable.
    if (m_suddenDisabled > 0)
        --m_suddenDisabled;
}

void ProcessInfo::disableAutomaticTermination(const QString& reason)
{
    ++m_automaticDisabled[reason];
}

void ProcessInfo::enableAutomaticTermination(const QString& reason)
{
    auto it = m_automaticDisabled.find(reason);
    Q_ASSERT_X(it != m_automaticDisabled.end(), "ProcessInfo::enableAutomaticTermination",
               "enable without a disable for this reason");
    if (it == m_automaticDisabled.end())
        return;
    if (--it.value() == 0)
        m_automaticDisabled.erase(it);
}

} // namespace platform
