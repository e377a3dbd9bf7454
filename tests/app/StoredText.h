#pragma once

#include "store/Note.h"
#include "store/QVRDataStore.h"

#include <QString>

#include <memory>

namespace apptest {

// The note's text as the store file holds it, read by a store of its own
// (null when there is no such note): what a new start would find.
inline QString storedText(const QString& storeFile, const QString& uuid)
{
    std::unique_ptr<QVRDataStore> reader = QVRDataStore::makeRootStore(storeFile);
    QString text;
    reader->context()->performAndWait([&] {
        auto* note = static_cast<Note*>(QVRDataStore::noteWithUUID(reader->context(), uuid));
        text = note ? note->text() : QString();
    });
    return text;
}

} // namespace apptest
