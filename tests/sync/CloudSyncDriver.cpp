// One machine of the two-machine test: a profile (HOME and XDG folders) and a
// cloud folder (QUILLARY_CLOUD_DIR) given by the environment, a note store and
// the cloud half of the sync manager. Each run does one thing and exits:
//
//   save UUID TEXT MODIFIED   store the note as the editor would, then sync
//   sync                      one sync pass: export what is new, import what came
//   dump                      print every note as one JSON object per line
//
// Exit status 0 on success, 1 when a cycle did not end, 2 on bad arguments.

#include "CloudFakeManager.h"

#include "platform/core/Paths.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.isEmpty())
        return 2;
    FakeManager manager(platform::applicationDataDirectory() + QStringLiteral("/Quillary.sqlite"));
    QVRiCloudSync cloud(&manager);
    manager.cloud = &cloud;
    cloud.metadataQuery()->setDebounceInterval(50);

    const QString command = args.first();
    if (command == QLatin1String("dump")) {
        QStringList lines;
        manager.store->context()->performAndWait([&] {
            platform::FetchRequest request;
            request.entityName = QVRNoteEntityName;
            for (platform::ManagedObject* object : manager.store->context()->fetch(request)) {
                const QJsonObject note =
                    QJsonObject::fromVariantMap(static_cast<Note*>(object)->attributes());
                lines.append(QString::fromUtf8(QJsonDocument(note).toJson(QJsonDocument::Compact)));
            }
        });
        lines.sort();
        for (const QString& line : lines)
            std::printf("%s\n", line.toUtf8().constData());
        return 0;
    }
    if (command == QLatin1String("save")) {
        if (args.size() != 4)
            return 2;
        bool ok = false;
        const double modified = args[3].toDouble(&ok);
        if (!ok)
            return 2;
        manager.saveNote({{QStringLiteral("uuid"), args[1]},
                          {QStringLiteral("text"), args[2]},
                          {QStringLiteral("modified"), modified},
                          {QStringLiteral("date"), modified},
                          {QStringLiteral("archived"), false}});
    } else if (command != QLatin1String("sync")) {
        return 2;
    }
    // A pass: enabling gathers the folder and imports; then the saved note,
    // if any, goes out as the editor's save would send it.
    cloud.enableiCloud();
    if (!cycleEnds(manager, 30000))
        return 1;
    if (command == QLatin1String("save")) {
        cloud.saveObjectToiCloud(args[1]);
        if (!cycleEnds(manager, 30000))
            return 1;
    }
    return 0;
}
