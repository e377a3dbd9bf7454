#pragma once

#include "platform/core/UserDefaults.h"
#include "store/Note.h"
#include "store/QVRDataStore.h"
#include "store/QVRObjectController.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ManualClock.h"

#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace storetest {

class Delegate : public QVRDataStoreDelegate
{
public:
    bool inUse = false;
    bool shouldSave = true;
    int refreshedCalls = 0;
    bool lastRefreshed = false;
    bool dataStoreInUse(QVRDataStore*) override { return inUse; }
    bool dataStoreShouldSave(QVRDataStore*) override { return shouldSave; }
    void dataStoreRefreshed(QVRDataStore*, bool refreshed) override
    {
        ++refreshedCalls;
        lastRefreshed = refreshed;
    }
};

// A root store over a file of its own, a manual clock, clean stamps and a
// captured log.
class StoreTest : public ::testing::Test
{
protected:
    QTemporaryDir dir;
    testsupport::ManualClock clock{1700000000.25};
    testsupport::LogCapture logs;

    void SetUp() override
    {
        auto& defaults = QVRDataStore::sharedDefaults();
        for (const char* key : {"QVRDataStoreUpdated", "QVRDataStoreUpdated-QuillaryAppDelegate",
                                "QVRDataStoreUpdated-Other", "QVRLastInstalledVersion"})
            defaults.remove(QString::fromLatin1(key));
    }
    QString path() const { return dir.filePath(QStringLiteral("Quillary.sqlite")); }

    QVariant stamp(const QString& key) const { return QVRDataStore::sharedDefaults().object(key); }

    QByteArray fileBytes() const
    {
        QFile file(path());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    bool logged(const QString& prefix) const { return logs.hasLineStartingWith(prefix); }
};

// A store and the application's main-queue child over it, with notes added
// to the child and the note list built over it, newest first.
class NoteListTest : public StoreTest
{
protected:
    std::unique_ptr<QVRDataStore> root;
    std::shared_ptr<QVRDataStore> child;
    Delegate delegate;

    void SetUp() override
    {
        StoreTest::SetUp();
        open();
    }
    void open()
    {
        root = QVRDataStore::makeRootStore(path());
        child = QVRDataStore::storeWithParent(root.get(), platform::ConcurrencyType::MainQueue);
        child->setDelegate(&delegate);
    }
    // As after a restart: nothing is left in memory.
    void reopen()
    {
        child.reset();
        root.reset();
        open();
    }
    void TearDown() override
    {
        child.reset();
        root.reset();
        StoreTest::TearDown();
    }
    Note* add(const QString& text, double date, bool archived = false)
    {
        auto* note = static_cast<Note*>(child->context()->insert(QVRNoteEntityName));
        note->setText(text);
        note->setDate(date);
        note->setArchived(archived);
        return note;
    }
    std::unique_ptr<QVRObjectController> controller()
    {
        return std::make_unique<QVRObjectController>(
            child->context(), QVRNoteEntityName,
            std::vector<platform::SortDescriptor>{{QStringLiteral("date"), false}});
    }
};

} // namespace storetest
