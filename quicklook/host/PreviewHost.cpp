#include "quicklook/host/PreviewHost.h"

#include "platform/plist/PropertyList.h"
#include "quicklook/model/QLPluginModel.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <dlfcn.h>
#include <memory>

namespace {

struct UuidDeleter
{
    void operator()(QLUUID* uuid) const { QLUUIDRelease(uuid); }
};
using Uuid = std::unique_ptr<QLUUID, UuidDeleter>;

struct RequestDeleter
{
    void operator()(QLPreviewRequest* request) const { QLPreviewRequestDestroy(request); }
};

PreviewResult failure(const QString& problem)
{
    PreviewResult result;
    result.problem = problem;
    return result;
}

} // namespace

QString defaultGeneratorBundle()
{
    const QString configured = qEnvironmentVariable("QUILLARY_PREVIEW_GENERATOR");
    if (!configured.isEmpty())
        return configured;
#ifndef QUILLARY_INSTALL_LIBDIR
#define QUILLARY_INSTALL_LIBDIR "lib"
#endif
    const QString installed = QCoreApplication::applicationDirPath() +
                              QStringLiteral("/../" QUILLARY_INSTALL_LIBDIR) +
                              QStringLiteral("/quillary/Quillary.app/Contents/Library/QuickLook/"
                                             "Quillary_Quick_Look.qlgenerator");
    if (QFileInfo::exists(installed + QStringLiteral("/Contents/Info.plist")))
        return QDir::cleanPath(installed);
#ifdef QUILLARY_BUILD_GENERATOR
    return QStringLiteral(QUILLARY_BUILD_GENERATOR);
#else
    return QDir::cleanPath(installed);
#endif
}

PreviewResult generatePreview(const QString& generatorBundle, const QString& file)
{
    QFile infoFile(generatorBundle + QStringLiteral("/Contents/Info.plist"));
    if (!infoFile.open(QIODevice::ReadOnly))
        return failure(QStringLiteral("No generator at %1").arg(generatorBundle));
    QString error;
    const QVariantMap info = platform::readPropertyList(infoFile.readAll(), &error).toMap();
    const QString executable = info.value(QStringLiteral("CFBundleExecutable")).toString();
    const QStringList factoriesForType = info.value(QStringLiteral("CFPlugInTypes"))
                                             .toMap()
                                             .value(QStringLiteral(QL_GENERATOR_TYPE_ID))
                                             .toStringList();
    const QVariantMap factories = info.value(QStringLiteral("CFPlugInFactories")).toMap();
    if (executable.isEmpty() || executable.contains(QLatin1Char('/')) || factoriesForType.isEmpty())
        return failure(QStringLiteral("The generator's Info.plist names no preview factory"));
    const QString factoryID = factoriesForType.first();
    const QString functionName = factories.value(factoryID).toString();
    if (functionName.isEmpty())
        return failure(
            QStringLiteral("The generator's Info.plist names no function for factory %1").arg(factoryID));

    const QString library = generatorBundle + QStringLiteral("/Contents/MacOS/") + executable;
    void* handle = dlopen(QFile::encodeName(library).constData(), RTLD_NOW | RTLD_LOCAL);
    if (!handle)
        return failure(
            QStringLiteral("Could not load %1: %2").arg(library, QString::fromLocal8Bit(dlerror())));
    auto factory =
        reinterpret_cast<QLPlugInFactoryFunction>(dlsym(handle, functionName.toUtf8().constData()));
    if (!factory) {
        dlclose(handle);
        return failure(QStringLiteral("The generator has no function %1").arg(functionName));
    }

    PreviewResult result;
    Uuid type(QLUUIDCreateFromString(QL_GENERATOR_TYPE_ID));
    Uuid callbacks(QLUUIDCreateFromString(QL_GENERATOR_CALLBACKS_INTERFACE_ID));
    Uuid factoryUuid(QLUUIDCreateFromString(factoryID.toLatin1().constData()));
    void* instance = factory(nullptr, type.get());
    if (!instance) {
        dlclose(handle);
        return failure(QStringLiteral("The factory made no generator"));
    }
    auto* table = *static_cast<QLGeneratorInterfaceStruct**>(instance);
    void* generator = nullptr;
    if (table->QueryInterface(instance, QLUUIDGetBytes(callbacks.get()), &generator) != QL_S_OK ||
        !generator) {
        table->Release(instance);
        dlclose(handle);
        return failure(QStringLiteral("The generator offers no preview interface"));
    }
    auto* interface = *static_cast<QLGeneratorInterfaceStruct**>(generator);
    {
        std::unique_ptr<QLPreviewRequest, RequestDeleter> request(
            QLPreviewRequestCreate(QFile::encodeName(generatorBundle).constData()));
        interface->GeneratePreviewForURL(generator, request.get(), QFile::encodeName(file).constData(),
                                         "com.quorvane.quillary", nullptr);
        size_t length = 0;
        if (const char* data = QLPreviewRequestGetData(request.get(), &length)) {
            result.ok = true;
            result.html = QByteArray(data, static_cast<qsizetype>(length));
            result.contentType = QString::fromUtf8(QLPreviewRequestGetContentType(request.get()));
            const QLPreviewProperties properties = QLPreviewRequestGetProperties(request.get());
            result.mimeType = QString::fromUtf8(properties.mimeType);
            result.textEncoding = QString::fromUtf8(properties.textEncodingName);
            result.width = properties.width;
            result.height = properties.height;
        } else {
            result.problem = QStringLiteral("The generator made no preview");
        }
    }
    interface->Release(generator); // the reference the query added
    table->Release(instance);      // the factory's
    // Unload only when nothing of the generator is left alive.
    if (QLPlugInInstanceCountForFactory(factoryUuid.get()) == 0)
        dlclose(handle);
    return result;
}
