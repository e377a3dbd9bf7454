// Adds notes to a store, one save each, once told to start on standard
// input, so that a test can run several of these against one file at once.
// Exits 0 when every save succeeded.
#include "platform/data/ManagedObjectContext.h"
#include "store/Note.h"
#include "store/QVRDataStore.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc < 4)
        return 2;
    auto root = QVRDataStore::makeRootStore(QString::fromLocal8Bit(argv[1]));
    auto child = QVRDataStore::storeWithParent(root.get(), platform::ConcurrencyType::PrivateQueue);
    if (!child)
        return 1;
    const QString prefix = QString::fromLocal8Bit(argv[2]);
    const long count = std::strtol(argv[3], nullptr, 10);
    auto add = [&](long i) {
        child->context()->performAndWait([&] {
            auto* note = static_cast<Note*>(child->context()->insert(QVRNoteEntityName));
            note->setUuid(QStringLiteral("%1-%2").arg(prefix).arg(i));
            note->setText(QStringLiteral("note %1").arg(i));
        });
    };
    // The first note is being written while the others start, as a note
    // the user types is.
    add(0);
    std::printf("ready\n");
    std::fflush(stdout);
    char line[16];
    if (!std::fgets(line, sizeof line, stdin))
        return 2;
    int failed = 0;
    for (long i = 1; i <= count; ++i) {
        if (!child->saveData())
            ++failed;
        if (i < count)
            add(i);
    }
    std::printf("%d failed\n", failed);
    return failed == 0 ? 0 : 1;
}
