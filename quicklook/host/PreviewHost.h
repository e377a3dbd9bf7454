#pragma once

#include <QByteArray>
#include <QString>

// Loads a preview generator bundle the way a desktop previewer would (its
// Info.plist names the factory for the generator type; the factory makes an
// instance; the callbacks interface makes the preview) and runs it on a file.
struct PreviewResult
{
    bool ok = false; // the generator handed over a page
    QString problem; // why not, when !ok
    QByteArray html;
    QString contentType;
    QString mimeType;
    QString textEncoding;
    int width = 0;
    int height = 0;
};

PreviewResult generatePreview(const QString& generatorBundle, const QString& file);

// The installed generator beside this program (or the one given in
// $QUILLARY_PREVIEW_GENERATOR); in a build tree, the one built there.
QString defaultGeneratorBundle();
