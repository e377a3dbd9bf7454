#include "platform/data/SortDescriptor.h"

#include "platform/core/Variant.h"
#include "platform/data/ManagedObject.h"

#include <algorithm>

namespace platform {

int compareValues(const QVariant& a, const QVariant& b)
{
    const bool aMissing = !a.isValid() || a.isNull();
    const bool bMissing = !b.isValid() || b.isNull();
    if (aMissing || bMissing)
        return int(bMissing) - int(aMissing);
    if (isNumberOrBool(a) && isNumberOrBool(b)) {
        const double x = a.toDouble();
        const double y = b.toDouble();
        return x < y ? -1 : (y < x ? 1 : 0);
    }
    return QString::compare(a.toString(), b.toString());
}

void sortObjects(std::vector<ManagedObject*>& objects, const std::vector<SortDescriptor>& sortDescriptors)
{
    if (sortDescriptors.empty() || objects.size() < 2)
        return;
    // Each key read once per record rather than at every comparison; a
    // number is kept as such so the common date and rank keys compare
    // without going through the variant.
    struct Key
    {
        QVariant value;
        double number = 0;
        bool numeric = false;
    };
    const size_t width = sortDescriptors.size();
    std::vector<Key> keys(objects.size() * width);
    std::vector<size_t> order(objects.size());
    for (size_t i = 0; i < objects.size(); ++i) {
        order[i] = i;
        for (size_t k = 0; k < width; ++k) {
            Key& key = keys[i * width + k];
            key.value = objects[i]->value(sortDescriptors[k].key);
            key.numeric = isNumberOrBool(key.value) && !key.value.isNull();
            if (key.numeric)
                key.number = key.value.toDouble();
        }
    }
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        for (size_t k = 0; k < width; ++k) {
            const Key& x = keys[a * width + k];
            const Key& y = keys[b * width + k];
            const int result = x.numeric && y.numeric
                                   ? (x.number < y.number ? -1 : (y.number < x.number ? 1 : 0))
                                   : compareValues(x.value, y.value);
            if (result != 0)
                return sortDescriptors[k].ascending ? result < 0 : result > 0;
        }
        return false;
    });
    std::vector<ManagedObject*> sorted;
    sorted.reserve(objects.size());
    for (size_t i : order)
        sorted.push_back(objects[i]);
    objects = std::move(sorted);
}

} // namespace platform
