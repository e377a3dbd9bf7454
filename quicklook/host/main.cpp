// quillary-preview [--generator DIR] [--info] [--show] FILE [OUT.html]
//
// Shows a note file the way the desktop's previewer would: the HTML goes to
// OUT.html or standard output; --info prints what the generator declared;
// --show opens the page in a 320×380 window.
#include "quicklook/host/PreviewHost.h"

#include <QApplication>
#include <QFile>
#include <QTextBrowser>

#include <cstdio>

namespace {
int usage()
{
    std::fprintf(stderr, "usage: quillary-preview [--generator DIR] [--info] [--show] FILE [OUT.html]\n");
    return 2;
}
} // namespace

int main(int argc, char** argv)
{
    QString generator;
    bool info = false;
    bool show = false;
    QStringList paths;
    for (int i = 1; i < argc; ++i) {
        const QString argument = QString::fromLocal8Bit(argv[i]);
        if (argument == QLatin1String("--info"))
            info = true;
        else if (argument == QLatin1String("--show"))
            show = true;
        else if (argument == QLatin1String("--generator") && i + 1 < argc)
            generator = QString::fromLocal8Bit(argv[++i]);
        else if (argument == QLatin1String("--help") || argument == QLatin1String("-h"))
            return usage(), 0;
        else if (argument.startsWith(QLatin1String("--")))
            return usage();
        else
            paths << argument;
    }
    if (paths.isEmpty() || paths.size() > 2)
        return usage();

    if (show) {
        QApplication app(argc, argv);
        const PreviewResult result =
            generatePreview(generator.isEmpty() ? defaultGeneratorBundle() : generator, paths[0]);
        if (!result.ok) {
            std::fprintf(stderr, "%s\n", qPrintable(result.problem));
            return 1;
        }
        QTextBrowser browser;
        browser.setOpenLinks(false);
        browser.setHtml(QString::fromUtf8(result.html));
        browser.setWindowTitle(paths[0]);
        browser.resize(result.width, result.height);
        browser.show();
        return app.exec();
    }

    QCoreApplication app(argc, argv);
    const PreviewResult result =
        generatePreview(generator.isEmpty() ? defaultGeneratorBundle() : generator, paths[0]);
    if (!result.ok) {
        std::fprintf(stderr, "%s\n", qPrintable(result.problem));
        return 1;
    }
    if (info)
        std::printf("Content type: %s\nMIME type: %s\nText encoding: %s\nSize: %dx%d\n",
                    qPrintable(result.contentType), qPrintable(result.mimeType),
                    qPrintable(result.textEncoding), result.width, result.height);
    if (paths.size() == 2) {
        QFile out(paths[1]);
        if (!out.open(QIODevice::WriteOnly) || out.write(result.html) != result.html.size()) {
            std::fprintf(stderr, "Could not write %s\n", qPrintable(paths[1]));
            return 1;
        }
    } else if (!info) {
        std::fwrite(result.html.constData(), 1, static_cast<size_t>(result.html.size()), stdout);
    }
    return 0;
}
