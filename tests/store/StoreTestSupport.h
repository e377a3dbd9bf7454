#pragma once

#include "platform/core/UserDefaults.h"
#include "store/QVRDataStore.h"
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

} // namespace storetest
