#include "platform/data/SortDescriptor.h"

#include "platform/core/Variant.h"
#include "platform/data/ManagedObject.h"
#include "platform/data/ManagedObjectModel.h"

#include <algorithm>
#include <cstdint>

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

namespace {

// Each key read once per record rather than at every comparison; a number is
// kept as such so the common date and rank keys compare without going
// through the variant.
class SortKeys
{
public:
    SortKeys(const std::vector<ManagedObject*>& objects, const std::vector<SortDescriptor>& sortDescriptors)
        : m_descriptors(sortDescriptors), m_width(sortDescriptors.size()), m_keys(objects.size() * m_width)
    {
        // Each key under the entity's own name for it, which an object finds
        // without comparing characters (see ObjectValues).
        const EntityDescription* entity = nullptr;
        std::vector<QString> names;
        for (size_t i = 0; i < objects.size(); ++i) {
            if (objects[i]->entity() != entity || names.empty()) {
                entity = objects[i]->entity();
                names.clear();
                for (const SortDescriptor& descriptor : sortDescriptors) {
                    const AttributeDescription* attribute =
                        entity ? entity->attribute(descriptor.key) : nullptr;
                    names.push_back(attribute ? attribute->name : descriptor.key);
                }
            }
            for (size_t k = 0; k < m_width; ++k) {
                Key& key = m_keys[i * m_width + k];
                key.value = objects[i]->value(names[k]);
                key.numeric = isNumberOrBool(key.value) && !key.value.isNull();
                if (key.numeric)
                    key.number = key.value.toDouble();
            }
        }
    }

    // Whether record `a` goes before record `b` by the keys alone.
    bool before(size_t a, size_t b) const
    {
        for (size_t k = 0; k < m_width; ++k) {
            const Key& x = m_keys[a * m_width + k];
            const Key& y = m_keys[b * m_width + k];
            const int result = x.numeric && y.numeric
                                   ? (x.number < y.number ? -1 : (y.number < x.number ? 1 : 0))
                                   : compareValues(x.value, y.value);
            if (result != 0)
                return m_descriptors[k].ascending ? result < 0 : result > 0;
        }
        return false;
    }

    // The same with equal keys in the records' order: the order a stable
    // sort gives, as a strict total order.
    bool beforeOrEarlier(size_t a, size_t b) const
    {
        if (before(a, b))
            return true;
        return !before(b, a) && a < b;
    }

private:
    struct Key
    {
        QVariant value;
        double number = 0;
        bool numeric = false;
    };
    const std::vector<SortDescriptor>& m_descriptors;
    size_t m_width;
    std::vector<Key> m_keys;
};

void reorder(std::vector<ManagedObject*>& objects, const std::vector<size_t>& order)
{
    std::vector<ManagedObject*> sorted;
    sorted.reserve(objects.size());
    for (size_t i : order)
        sorted.push_back(objects[i]);
    objects = std::move(sorted);
}

std::vector<size_t> identity(size_t count)
{
    std::vector<size_t> order(count);
    for (size_t i = 0; i < count; ++i)
        order[i] = i;
    return order;
}

std::vector<size_t> fullSortOrder(const std::vector<ManagedObject*>& objects,
                                  const std::vector<SortDescriptor>& sortDescriptors)
{
    std::vector<size_t> order = identity(objects.size());
    if (sortDescriptors.empty() || objects.size() < 2)
        return order;
    const SortKeys keys(objects, sortDescriptors);
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return keys.before(a, b); });
    return order;
}

} // namespace

void sortObjects(std::vector<ManagedObject*>& objects, const std::vector<SortDescriptor>& sortDescriptors)
{
    if (sortDescriptors.empty() || objects.size() < 2)
        return;
    reorder(objects, fullSortOrder(objects, sortDescriptors));
}

void sortObjects(std::vector<ManagedObject*>& objects, const std::vector<SortDescriptor>& sortDescriptors,
                 const std::vector<ManagedObject*>& previous)
{
    if (sortDescriptors.empty() || objects.size() < 2)
        return;
    reorder(objects, sortOrder(objects, sortDescriptors, previous));
}

std::vector<size_t> sortOrder(const std::vector<ManagedObject*>& objects,
                              const std::vector<SortDescriptor>& sortDescriptors,
                              const std::vector<ManagedObject*>& previous)
{
    if (sortDescriptors.empty() || objects.size() < 2)
        return identity(objects.size());
    if (previous.empty())
        return fullSortOrder(objects, sortDescriptors);
    const size_t count = objects.size();
    const SortKeys keys(objects, sortDescriptors);
    const auto less = [&](size_t a, size_t b) { return keys.beforeOrEarlier(a, b); };

    // The records in their previous order; the ones new to the list are
    // set aside, to be sorted among themselves and merged in.
    std::vector<size_t> hinted;
    hinted.reserve(count);
    std::vector<bool> taken(count, false);
    const size_t common =
        size_t(std::mismatch(objects.begin(), objects.end(), previous.begin(), previous.end()).first -
               objects.begin());
    if (common == previous.size()) {
        // The records start with the previous order itself (a list made
        // from another one's arrangement, then added to).
        for (size_t i = 0; i < common; ++i)
            hinted.push_back(i);
        std::fill(taken.begin(), taken.begin() + std::ptrdiff_t(common), true);
    } else {
        // (A sorted array rather than a hash table: one block instead of a
        // node per record, which showed at every key of a search.)
        using Entry = std::pair<std::uintptr_t, size_t>;
        std::vector<Entry> indexOf(count);
        for (size_t i = 0; i < count; ++i)
            indexOf[i] = {reinterpret_cast<std::uintptr_t>(objects[i]), i};
        std::sort(indexOf.begin(), indexOf.end());
        for (const ManagedObject* object : previous) {
            // The first of equal records, as a record listed twice counts
            // once.
            const Entry wanted{reinterpret_cast<std::uintptr_t>(object), 0};
            const auto found = std::lower_bound(indexOf.begin(), indexOf.end(), wanted);
            if (found != indexOf.end() && found->first == wanted.first && !taken[found->second]) {
                taken[found->second] = true;
                hinted.push_back(found->second);
            }
        }
    }
    std::vector<size_t> aside;
    for (size_t i = 0; i < count; ++i) {
        if (!taken[i])
            aside.push_back(i);
    }

    // One pass keeps the records still in order and sets aside those out of
    // place: the one that follows, or the run's last record when the one
    // that follows fits after the one before it (a record that moved down
    // the list).
    const size_t maxMoved = count / 8 + 16;
    size_t moved = 0;
    std::vector<size_t> run;
    run.reserve(count);
    for (size_t i : hinted) {
        if (run.empty() || less(run.back(), i)) {
            run.push_back(i);
            continue;
        }
        if (run.size() >= 2 && less(run[run.size() - 2], i)) {
            aside.push_back(run.back());
            run.back() = i;
        } else {
            aside.push_back(i);
        }
        if (++moved > maxMoved) {
            // Too much changed: a full sort.
            std::vector<size_t> order = identity(count);
            std::sort(order.begin(), order.end(), less);
            return order;
        }
    }
    std::sort(aside.begin(), aside.end(), less);
    std::vector<size_t> order(count);
    std::merge(run.begin(), run.end(), aside.begin(), aside.end(), order.begin(), less);
    return order;
}

} // namespace platform
