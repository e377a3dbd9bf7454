// Saves notes in a loop and prints the number of each note whose save
// returned success, so that a test can kill it at any moment.
#include "platform/data/ManagedObjectContext.h"
#include "store/Note.h"
#include "store/QVRDataStore.h"

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc < 3)
        return 2;
    auto root = QVRDataStore::makeRootStore(QString::fromLocal8Bit(argv[1]));
    auto child = QVRDataStore::storeWithParent(root.get(), platform::ConcurrencyType::PrivateQueue);
    if (!child)
        return 1;
    const long first = std::strtol(argv[2], nullptr, 10);
    for (long i = first;; ++i) {
        child->context()->performAndWait([&] {
            auto* note = static_cast<Note*>(child->context()->insert(QVRNoteEntityName));
            note->setUuid(QStringLiteral("N%1").arg(i));
            note->setText(QString(2000, QLatin1Char('x')));
            // Each round also edits and deletes earlier notes.
            if (i % 3 == 0) {
                platform::FetchRequest request{QVRNoteEntityName, nullptr, {}, 1};
                for (auto* old : child->context()->fetch(request))
                    static_cast<Note*>(old)->setDate(double(i));
            }
        });
        if (child->saveData()) {
            std::printf("%ld\n", i);
            std::fflush(stdout);
        }
    }
}
