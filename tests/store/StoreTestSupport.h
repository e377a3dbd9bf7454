#pragma once

#include "platform/core/Clock.h"
#include "platform/core/Log.h"
#include "platform/core/UserDefaults.h"
#include "store/QVRDataStore.h"

#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace storetest {

class ManualClock : public platform::Clock {
public:
    double time = 1700000000.25;
    double now() const override { return time; }
};

class Delegate : public QVRDataStoreDelegate {
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
class StoreTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    ManualClock clock;
    QStringList logLines;

    void SetUp() override
    {
        platform::setClockForTesting(&clock);
        platform::setLogSink([this](const QString& line) { logLines << line; });
        auto& defaults = QVRDataStore::sharedDefaults();
        for (const char* key : {"QVRDataStoreUpdated", "QVRDataStoreUpdated-QuillaryAppDelegate",
                                "QVRDataStoreUpdated-Other", "QVRLastInstalledVersion"})
            defaults.remove(QString::fromLatin1(key));
    }
    void TearDown() override
    {
        platform::setLogSink({});
        platform::setClockForTesting(nullptr);
    }

    QString path() const { return dir.filePath(QStringLiteral("Quillary.sqlite")); }

    QVariant stamp(const QString& key) const { return QVRDataStore::sharedDefaults().object(key); }

    QByteArray fileBytes() const
    {
        QFile file(path());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    bool logged(const QString& prefix) const
    {
        for (const auto& line : logLines) {
            if (line.startsWith(prefix))
                return true;
        }
        return false;
    }
};

}  // namespace storetest
