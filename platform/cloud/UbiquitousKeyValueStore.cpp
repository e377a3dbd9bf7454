#include "platform/cloud/UbiquitousKeyValueStore.h"

#include "platform/cloud/InotifyWatcher.h"
#include "platform/cloud/Ubiquity.h"
#include "platform/core/Log.h"
#include "platform/core/Paths.h"
#include "platform/files/FileOperations.h"
#include "platform/plist/PropertyList.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/inotify.h>
#include <sys/stat.h>

namespace platform {

const QString UbiquitousKeyValueStore::DidChangeExternallyNotification =
    QStringLiteral("NSUbiquitousKeyValueStoreDidChangeExternallyNotification");
const QString UbiquitousKeyValueStore::ChangeReasonKey =
    QStringLiteral("NSUbiquitousKeyValueStoreChangeReasonKey");
const QString UbiquitousKeyValueStore::ChangedKeysKey =
    QStringLiteral("NSUbiquitousKeyValueStoreChangedKeysKey");
const QString UbiquitousKeyValueStore::FileName = QStringLiteral("KeyValueStore.plist");

QString defaultKeyValueStorePath(bool* inCloud)
{
    const QString container = ubiquityContainerPath();
    if (inCloud)
        *inCloud = !container.isEmpty();
    if (!container.isEmpty())
        return container + QLatin1Char('/') + UbiquitousKeyValueStore::FileName;
    return applicationDataDirectory() + QLatin1Char('/') + UbiquitousKeyValueStore::FileName;
}

UbiquitousKeyValueStore& UbiquitousKeyValueStore::defaultStore()
{
    static UbiquitousKeyValueStore* store = [] {
        bool inCloud = false;
        const QString path = defaultKeyValueStorePath(&inCloud);
        auto* s = new UbiquitousKeyValueStore(path, inCloud);
        s->m_followsIdentity = true;
        s->m_identityObserver.emplace(NotificationCenter::defaultCenter().addObserver(
            UbiquityIdentityDidChangeNotification, nullptr, [s](const Notification&) {
                QMetaObject::invokeMethod(
                    s, [s] { s->followIdentity(); }, Qt::QueuedConnection);
            }));
        return s;
    }();
    return *store;
}

UbiquitousKeyValueStore::UbiquitousKeyValueStore(const QString& filePath, bool watch, QObject* parent)
    : QObject(parent), m_path(filePath.isEmpty() ? defaultKeyValueStorePath() : filePath), m_watch(watch)
{
    rearmWatch();
}

UbiquitousKeyValueStore::~UbiquitousKeyValueStore() = default;

QString UbiquitousKeyValueStore::filePath() const
{
    QMutexLocker lock(&m_mutex);
    return m_path;
}

void UbiquitousKeyValueStore::setFilePath(const QString& filePath, bool watch)
{
    {
        QMutexLocker lock(&m_mutex);
        if (filePath == m_path && watch == m_watch)
            return;
        m_path = filePath;
        m_watch = watch;
    }
    rearmWatch();
    reload(AccountChange);
}

void UbiquitousKeyValueStore::followIdentity()
{
    bool inCloud = false;
    const QString path = defaultKeyValueStorePath(&inCloud);
    setFilePath(path, inCloud);
}

namespace {

// The file's folder. In the cloud that is the container, made only inside a
// cloud folder that exists: a removed or unmounted one stays signed out.
void makeFolderFor(const QString& path, bool inCloud)
{
    const QString folder = QFileInfo(path).path();
    if (inCloud)
        makeFolderInsideCloud(QFileInfo(folder).path(), folder);
    else
        QDir().mkpath(folder);
}

// A sync tool carries links from other machines: one here may lead
// anywhere, so it is neither read nor written through.
bool isLink(const QString& path)
{
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISLNK(st.st_mode);
}

} // namespace

bool UbiquitousKeyValueStore::readFile(QVariantMap* values) const
{
    QFile file(m_path);
    if (isLink(m_path)) {
        log(QStringLiteral("Ignoring key-value file %1: it is a link").arg(m_path));
        return false;
    }
    if (!file.exists()) {
        values->clear();
        return true;
    }
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QString error;
    const QVariant root = readPropertyList(file.readAll(), &error);
    if (root.typeId() != QMetaType::QVariantMap) {
        log(QStringLiteral("Ignoring unreadable key-value file %1: %2").arg(m_path, error));
        return false;
    }
    *values = root.toMap();
    return true;
}

bool UbiquitousKeyValueStore::writeFile(const QVariantMap& values) const
{
    if (isLink(m_path)) {
        log(QStringLiteral("Refusing to write through a link: %1").arg(m_path));
        return false;
    }
    makeFolderFor(m_path, m_watch);
    QString error;
    const QByteArray data = writePropertyList(values, PropertyListFormat::Binary, &error);
    if (data.isEmpty()) {
        log(QStringLiteral("Cannot encode key-value file %1: %2").arg(m_path, error));
        return false;
    }
    // Renamed into place: a link that appears meanwhile is replaced, never
    // followed.
    Error writeError;
    if (!writeFileAtomically(m_path, data, &writeError)) {
        log(QStringLiteral("Cannot write key-value file %1: %2")
                .arg(m_path, writeError.localizedDescription));
        return false;
    }
    return true;
}

void UbiquitousKeyValueStore::ensureLoaded() const
{
    if (m_loaded)
        return;
    // An unreadable file (a half-synced copy) leaves the store empty rather
    // than failing every read; the next good copy is picked up by the watch.
    QVariantMap values;
    if (readFile(&values))
        m_values = values;
    m_loaded = true;
}

QVariant UbiquitousKeyValueStore::object(const QString& key) const
{
    QMutexLocker lock(&m_mutex);
    ensureLoaded();
    return m_values.value(key);
}

QString UbiquitousKeyValueStore::string(const QString& key) const
{
    const QVariant value = object(key);
    return value.typeId() == QMetaType::QString ? value.toString() : QString();
}

QVariantMap UbiquitousKeyValueStore::dictionaryRepresentation() const
{
    QMutexLocker lock(&m_mutex);
    ensureLoaded();
    return m_values;
}

void UbiquitousKeyValueStore::set(const QString& key, const QVariant& value)
{
    if (!value.isValid()) {
        remove(key);
        return;
    }
    QMutexLocker lock(&m_mutex);
    ensureLoaded();
    // Setting what is already there writes nothing: the file is shared with
    // other machines, and a write would be news to each of them.
    const auto it = m_values.constFind(key);
    if (it != m_values.constEnd() && it->typeId() == value.typeId() && *it == value)
        return;
    m_values.insert(key, value);
    writeFile(m_values);
}

void UbiquitousKeyValueStore::remove(const QString& key)
{
    QMutexLocker lock(&m_mutex);
    ensureLoaded();
    if (m_values.remove(key) > 0)
        writeFile(m_values);
}

bool UbiquitousKeyValueStore::synchronize()
{
    reload(ServerChange);
    return true;
}

void UbiquitousKeyValueStore::reload(int reason)
{
    QStringList changed;
    {
        QMutexLocker lock(&m_mutex);
        const bool wasLoaded = m_loaded;
        QVariantMap fresh;
        if (!readFile(&fresh))
            return;
        const QVariantMap old = m_values;
        m_values = fresh;
        m_loaded = true;
        // The first load is not a change: otherwise every start would look
        // like news from another machine.
        if (!wasLoaded || !m_watch)
            return;
        for (auto it = fresh.cbegin(); it != fresh.cend(); ++it)
            if (!old.contains(it.key()) || old.value(it.key()) != it.value())
                changed.append(it.key());
        for (auto it = old.cbegin(); it != old.cend(); ++it)
            if (!fresh.contains(it.key()))
                changed.append(it.key());
    }
    if (changed.isEmpty())
        return;
    changed.sort();
    QVariantMap info;
    info.insert(ChangeReasonKey, reason);
    info.insert(ChangedKeysKey, changed);
    NotificationCenter::defaultCenter().post(DidChangeExternallyNotification, this, info);
}

void UbiquitousKeyValueStore::rearmWatch()
{
    delete m_watcher;
    m_watcher = nullptr;
    m_folderWatch = -1;
    QString path;
    bool watch;
    {
        QMutexLocker lock(&m_mutex);
        path = m_path;
        watch = m_watch;
    }
    if (!watch)
        return;
    m_watcher = new InotifyWatcher(this);
    const QString folder = QFileInfo(path).path();
    const QString name = QFileInfo(path).fileName();
    makeFolderFor(path, watch);
    m_folderWatch =
        m_watcher->addWatch(folder, IN_CLOSE_WRITE | IN_MOVED_TO | IN_DELETE | IN_MOVED_FROM | IN_ONLYDIR);
    connect(m_watcher, &InotifyWatcher::fileEvent, this,
            [this, name](int wd, quint32, const QString& eventName) {
                if (wd < 0 || (wd == m_folderWatch && eventName == name))
                    reload(ServerChange);
            });
}

} // namespace platform
