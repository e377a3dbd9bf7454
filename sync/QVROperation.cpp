#include "sync/QVROperation.h"

void QVROperation::start()
{
    if (isCancelled()) {
        markFinished();
        return;
    }
    markExecuting();
    main();
}

void QVROperation::finish()
{
    markFinished();
}

void QVROperation::setUuid(const QString& uuid)
{
    std::lock_guard lock(m_uuidMutex);
    m_uuid = uuid;
}

QString QVROperation::uuid() const
{
    std::lock_guard lock(m_uuidMutex);
    return m_uuid;
}
