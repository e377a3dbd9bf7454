// The cloud half installed in the real sync manager: a whole cycle from start
// to the complete step, with a note going out and another coming in.

#include "sync/QVRiCloudSyncInstaller.h"

#include "platform/cloud/MetadataQuery.h"
#include "platform/cloud/UbiquitousKeyValueStore.h"
#include "platform/core/Log.h"
#include "platform/data/ManagedObjectContext.h"
#include "platform/ops/OperationQueue.h"
#include "platform/predicate/Predicate.h"
#include "store/Note.h"
#include "store/QVRDataStore.h"
#include "store/QVRDefaultsKeys.h"
#include "tests/support/Wait.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

constexpr double T = 1700000000.0;
const QString Local = QStringLiteral("AAAAAAAA-0000-4000-8000-000000000001");
const QString Remote = QStringLiteral("BBBBBBBB-0000-4000-8000-000000000002");

using testsupport::waitFor;

// The application's side: the central save by uuid.
class NoteSaver : public QVRSyncManagerDelegate
{
public:
    explicit NoteSaver(QVRDataStore* store) : store_(store) {}
    void saveObjectWithAttributes(const QVRNoteAttributes& attributes, bool) override
    {
        platform::ManagedObjectContext* context = store_->context();
        context->performAndWait([&] {
            platform::ManagedObject* note =
                QVRDataStore::noteWithUUID(context, attributes.value("uuid").toString());
            if (!note)
                note = context->insert(QVRNoteEntityName);
            for (auto it = attributes.cbegin(); it != attributes.cend(); ++it)
                note->setValue(it.key(), it.value());
            context->save();
        });
    }
    void unknownObjectNamed(const QString&, const QVariantMap&) override {}
    void deleteObjectWithUUID(const QString&) override {}
    QString text(const QString& uuid)
    {
        QString result;
        platform::ManagedObjectContext* context = store_->context();
        context->performAndWait([&] {
            if (platform::ManagedObject* found = QVRDataStore::noteWithUUID(context, uuid))
                result = static_cast<Note*>(found)->text();
        });
        return result;
    }

private:
    QVRDataStore* store_;
};

TEST(CloudManager, WholeCycleExportsAndImportsThroughTheManager)
{
    QTemporaryDir temp;
    ASSERT_TRUE(temp.isValid());
    const QString root = temp.path() + QStringLiteral("/Cloud");
    const QString notes = root + QStringLiteral("/XW9K2ZQ7TM.com.quorvane.Quillary/Notes");
    ASSERT_TRUE(QDir().mkpath(root));
    setenv("QUILLARY_CLOUD_DIR", QFile::encodeName(root).constData(), 1);
    ASSERT_EQ(QProcess::execute(QStringLiteral("python3"),
                                {qEnvironmentVariable("QUILLARY_TEST_SOURCE_DIR") +
                                     QStringLiteral("/tests/sync/cloud_peer.py"),
                                 QStringLiteral("write"), notes, Remote,
                                 QStringLiteral("from the other machine"), QString::number(T, 'f', 6)}),
              0);

    auto store = QVRDataStore::makeRootStore(temp.path() + QStringLiteral("/Quillary.sqlite"));
    NoteSaver saver(store.get());
    saver.saveObjectWithAttributes({{"uuid", Local},
                                    {"text", QStringLiteral("written here")},
                                    {"modified", T + 1},
                                    {"date", T + 1},
                                    {"archived", false}},
                                   false);
    {
        QVRSyncManager manager(store.get());
        manager.setDelegate(&saver);
        QVRiCloudSyncInstaller* installer = QVRiCloudSyncInstaller::install(&manager);
        installer->cloud()->metadataQuery()->setDebounceInterval(50);
        manager.setFirstRun(false);
        manager.start();

        ASSERT_TRUE(waitFor([&] { return saver.text(Remote) == QStringLiteral("from the other machine"); }));
        ASSERT_TRUE(waitFor([&] {
            return manager.step() == QVRSyncStep::Complete && manager.operationQueue()->operationCount() == 0;
        }));
        EXPECT_TRUE(manager.iCloudEnabled());
        EXPECT_TRUE(manager.iCloudAvailable());
        EXPECT_TRUE(QFileInfo::exists(notes + QLatin1Char('/') + Local + QStringLiteral(".quillary")))
            << "the folder was not empty, yet a first token exports every note";
        EXPECT_EQ(installer->cloud()->keyValueStore()->string(QVRDefaultsKeys::SyncType),
                  QStringLiteral("iCloud"));

        manager.stop();
    }
    unsetenv("QUILLARY_CLOUD_DIR");
}

} // namespace
