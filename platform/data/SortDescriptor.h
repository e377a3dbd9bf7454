#pragma once

#include <QString>
#include <QVariant>

#include <vector>

namespace platform {

class ManagedObject;

struct SortDescriptor
{
    QString key;
    bool ascending = true;
};

// Numbers compare numerically, strings literally; a missing value sorts
// before any value. Returns <0, 0 or >0.
int compareValues(const QVariant& a, const QVariant& b);

// Stable: records that compare equal keep their order, so rows do not swap
// between two arrangements of the same list.
void sortObjects(std::vector<ManagedObject*>& objects, const std::vector<SortDescriptor>& sortDescriptors);

// The same order, found faster when `previous` (an earlier arrangement of
// mostly the same records) is already close to it: only the records that
// moved are sorted and merged back in.
void sortObjects(std::vector<ManagedObject*>& objects, const std::vector<SortDescriptor>& sortDescriptors,
                 const std::vector<ManagedObject*>& previous);

// That order as the indices into `objects`, in the order they go.
std::vector<size_t> sortOrder(const std::vector<ManagedObject*>& objects,
                              const std::vector<SortDescriptor>& sortDescriptors,
                              const std::vector<ManagedObject*>& previous);

} // namespace platform
