#pragma once

#include "platform/data/ManagedObject.h"
#include "platform/data/ManagedObjectContext.h"
#include "platform/data/ManagedObjectModel.h"
#include "platform/data/PersistentStoreCoordinator.h"

#include <QTemporaryDir>

#include <memory>

namespace datatest {

class Item : public platform::ManagedObject
{
public:
    static std::unique_ptr<platform::ManagedObject> create()
    {
        return std::unique_ptr<platform::ManagedObject>(new Item);
    }
    int awakeFromFetchCount = 0;

protected:
    void awakeFromFetch() override { ++awakeFromFetchCount; }
};

inline std::shared_ptr<const platform::ManagedObjectModel> itemModel(int version = 1)
{
    using platform::AttributeType;
    auto model = std::make_shared<platform::ManagedObjectModel>();
    model->version = version;
    model->entities.push_back(
        platform::EntityDescription{QStringLiteral("Item"),
                                    {
                                        {QStringLiteral("name"), AttributeType::String, {}, false, true},
                                        {QStringLiteral("rank"), AttributeType::Double, {}, false, false},
                                        {QStringLiteral("done"), AttributeType::Boolean, false, false, false},
                                        {QStringLiteral("count"), AttributeType::Integer, {}, false, false},
                                        {QStringLiteral("scratch"), AttributeType::String, {}, true, false},
                                    },
                                    &Item::create});
    return model;
}

// A file store with a root context, as the data store sets it up.
struct Stack
{
    QTemporaryDir dir;
    std::shared_ptr<platform::PersistentStoreCoordinator> coordinator;
    std::unique_ptr<platform::ManagedObjectContext> root;

    QString path() const { return dir.filePath(QStringLiteral("items.sqlite")); }

    bool open()
    {
        coordinator = std::make_shared<platform::PersistentStoreCoordinator>(itemModel());
        if (!coordinator->open(path()))
            return false;
        root = std::make_unique<platform::ManagedObjectContext>(platform::ConcurrencyType::PrivateQueue);
        root->setPersistentStoreCoordinator(coordinator);
        root->setMergePolicy(platform::MergePolicy::PropertyObjectTrump);
        root->setStalenessInterval(60);
        return true;
    }

    std::unique_ptr<platform::ManagedObjectContext> child()
    {
        auto context =
            std::make_unique<platform::ManagedObjectContext>(platform::ConcurrencyType::PrivateQueue);
        context->setParentContext(root.get());
        return context;
    }
};

} // namespace datatest
