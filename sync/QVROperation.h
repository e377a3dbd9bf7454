#pragma once

#include "platform/ops/Operation.h"

#include <QString>

#include <mutex>

// Base of every sync operation: asynchronous, it keeps its place in the queue
// until finish(), which may come from any thread long after main() returned.
class QVROperation : public platform::Operation
{
public:
    bool isAsynchronous() const override { return true; }

    // A cancelled operation finishes at once without running main().
    void start() override;

    // Ends the operation; every path of an operation ends in one call, and
    // later calls change nothing.
    void finish();

    // The note or queued command the operation works for.
    void setUuid(const QString& uuid);
    QString uuid() const;

private:
    mutable std::mutex m_uuidMutex;
    QString m_uuid;
};
