// Writes notes into the profile's store through the store library, as an
// earlier run of the program would have left them:
//   app_seed_notes UUID TEXT DATE [UUID TEXT DATE ...]
#include "store/Note.h"
#include "store/QVRDataStore.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const QStringList args = application.arguments().mid(1);
    if (args.isEmpty() || args.size() % 3 != 0) {
        std::fprintf(stderr, "usage: app_seed_notes UUID TEXT DATE...\n");
        return 2;
    }
    std::unique_ptr<QVRDataStore> root = QVRDataStore::makeRootStore(QVRDataStore::storeURL());
    if (!root || !root->context()) {
        std::fprintf(stderr, "cannot open the store\n");
        return 1;
    }
    bool saved = false;
    root->context()->performAndWait([&] {
        for (qsizetype i = 0; i < args.size(); i += 3) {
            auto* note = static_cast<Note*>(root->context()->insert(QVRNoteEntityName));
            note->setUuid(args[i]);
            note->setText(args[i + 1]);
            note->setDate(args[i + 2].toDouble());
            note->setModified(args[i + 2].toDouble());
            note->setArchived(false);
            note->setRemoved(false);
        }
        saved = root->context()->save();
    });
    return saved ? 0 : 1;
}
