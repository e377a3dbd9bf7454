#include "store/Queue.h"

const QString QVRQueueEntityName = QStringLiteral("Queue");

std::unique_ptr<platform::ManagedObject> Queue::create()
{
    return std::unique_ptr<platform::ManagedObject>(new Queue);
}
