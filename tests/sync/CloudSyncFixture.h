#pragma once

// A cloud-sync rig without the application: a temporary cloud folder and
// profile, a note store of its own and the fake manager core.

#include "CloudFakeManager.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <mutex>

class CloudSyncTest : public ::testing::Test
{
public:
    static QString peerScript()
    {
        return qEnvironmentVariable("QUILLARY_TEST_SOURCE_DIR") + QStringLiteral("/tests/sync/cloud_peer.py");
    }

protected:
    void SetUp() override
    {
        ASSERT_TRUE(temp.isValid());
        root = temp.path() + QStringLiteral("/Cloud");
        ASSERT_TRUE(QDir().mkpath(root));
        setenv("QUILLARY_CLOUD_DIR", QFile::encodeName(root).constData(), 1);
        notes = root + QStringLiteral("/XW9K2ZQ7TM.com.quorvane.Quillary/Notes");
        QVRDataStore::sharedDefaults().remove(QStringLiteral("iCloudToken"));
        platform::setLogSink([this](const QString& line) {
            std::lock_guard<std::mutex> lock(logMutex);
            logLines.append(line);
        });
        manager = std::make_unique<FakeManager>(temp.path() + QStringLiteral("/Quillary.sqlite"));
        keyValues = std::make_unique<platform::UbiquitousKeyValueStore>(
            temp.path() + QStringLiteral("/kv.plist"), true);
        cloud = std::make_unique<QVRiCloudSync>(manager.get());
        cloud->setKeyValueStore(keyValues.get());
        cloud->metadataQuery()->setDebounceInterval(50);
        manager->cloud = cloud.get();
    }
    void TearDown() override
    {
        cloud.reset();
        manager.reset();
        platform::setLogSink({});
        platform::setClockForTesting(nullptr);
        unsetenv("QUILLARY_CLOUD_DIR");
    }

    bool logged(const QString& start)
    {
        std::lock_guard<std::mutex> lock(logMutex);
        for (const QString& line : logLines)
            if (line.startsWith(start))
                return true;
        return false;
    }
    // Runs the event loop until a sync cycle ended in the complete step.
    bool cycleEnds(int timeoutMs = 10000) { return ::cycleEnds(*manager, timeoutMs); }
    void enableAndSettle()
    {
        cloud->enableiCloud();
        ASSERT_TRUE(cycleEnds());
    }
    // Another machine writes a note file with Python's plistlib.
    void peerWrite(const QString& uuid, const QString& text, double mtime, const QStringList& extra = {})
    {
        QStringList args{peerScript(), QStringLiteral("write"),       notes, uuid,
                         text,         QString::number(mtime, 'f', 9)};
        args += extra;
        ASSERT_EQ(QProcess::execute(QStringLiteral("python3"), args), 0);
    }
    QString fileFor(const QString& uuid) const
    {
        return notes + QLatin1Char('/') + uuid + QStringLiteral(".quillary");
    }
    void storeNote(const QString& uuid, const QString& text, double modified, bool archived = false)
    {
        manager->saveNote({{QStringLiteral("uuid"), uuid},
                           {QStringLiteral("text"), text},
                           {QStringLiteral("modified"), modified},
                           {QStringLiteral("date"), modified},
                           {QStringLiteral("archived"), archived}});
    }
    QString textOf(const QString& uuid)
    {
        return manager->note(uuid).value(QStringLiteral("text")).toString();
    }

    QTemporaryDir temp;
    QString root, notes;
    std::unique_ptr<FakeManager> manager;
    std::unique_ptr<platform::UbiquitousKeyValueStore> keyValues;
    std::unique_ptr<QVRiCloudSync> cloud;
    std::mutex logMutex;
    QStringList logLines;
};
