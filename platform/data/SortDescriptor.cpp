#include "platform/data/SortDescriptor.h"

#include "platform/data/ManagedObject.h"

#include <algorithm>

namespace platform {

namespace {

bool isNumeric(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Float:
        return true;
    default:
        return false;
    }
}

}  // namespace

int compareValues(const QVariant& a, const QVariant& b)
{
    const bool aMissing = !a.isValid() || a.isNull();
    const bool bMissing = !b.isValid() || b.isNull();
    if (aMissing || bMissing)
        return int(bMissing) - int(aMissing);
    if (isNumeric(a) && isNumeric(b)) {
        const double x = a.toDouble();
        const double y = b.toDouble();
        return x < y ? -1 : (y < x ? 1 : 0);
    }
    return QString::compare(a.toString(), b.toString());
}

void sortObjects(std::vector<ManagedObject*>& objects, const std::vector<SortDescriptor>& sortDescriptors)
{
    if (sortDescriptors.empty())
        return;
    std::stable_sort(objects.begin(), objects.end(), [&](ManagedObject* a, ManagedObject* b) {
        for (const auto& descriptor : sortDescriptors) {
            const int order = compareValues(a->value(descriptor.key), b->value(descriptor.key));
            if (order != 0)
                return descriptor.ascending ? order < 0 : order > 0;
        }
        return false;
    });
}

}  // namespace platform
