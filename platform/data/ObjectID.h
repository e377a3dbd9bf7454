#pragma once

#include <QHash>
#include <QString>

namespace platform {

// Names one record for the whole life of the file: the entity and the row key.
// Keys are allocated when an object is inserted, so an ID never changes after
// a save (undo looks notes up by ID after the save that created them).
struct ObjectID
{
    QString entity;
    qint64 key = 0;

    bool isNull() const { return key == 0; }
    QString uriRepresentation() const { return QStringLiteral("x-quillary://%1/p%2").arg(entity).arg(key); }
    friend bool operator==(const ObjectID& a, const ObjectID& b)
    {
        return a.key == b.key && sameEntity(a, b);
    }
    friend bool operator!=(const ObjectID& a, const ObjectID& b) { return !(a == b); }
    friend bool operator<(const ObjectID& a, const ObjectID& b)
    {
        return sameEntity(a, b) ? a.key < b.key : a.entity < b.entity;
    }

private:
    // IDs mostly hold copies of one name, which share their text: those are
    // told equal without comparing characters (maps of IDs compare often).
    static bool sameEntity(const ObjectID& a, const ObjectID& b)
    {
        return (a.entity.constData() == b.entity.constData() && a.entity.size() == b.entity.size()) ||
               a.entity == b.entity;
    }
};

inline size_t qHash(const ObjectID& id, size_t seed = 0)
{
    return qHashMulti(seed, id.entity, id.key);
}

} // namespace platform
