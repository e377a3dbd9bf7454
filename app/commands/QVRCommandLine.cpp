#include "app/commands/QVRCommandLine.h"

#include "platform/shell/ApplicationShell.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>

#include <cstdio>
#include <memory>

namespace QVRCommandLine {
namespace {

const QString SaveOption = QStringLiteral("--save-note");
const QString DeleteOption = QStringLiteral("--delete-note");

int fail(const QString& message)
{
    std::fprintf(stderr, "%s\n", qPrintable(message));
    return 1;
}

QVariantMap saveArguments(const QStringList& operands)
{
    QVariantMap arguments{{QString(), operands.value(0)}};
    if (operands.size() > 1)
        arguments.insert(QStringLiteral("text"), operands.at(1));
    if (operands.size() > 2) {
        bool number = false;
        const double seconds = operands.at(2).toDouble(&number);
        arguments.insert(QStringLiteral("date"), number ? QVariant(seconds) : QVariant(operands.at(2)));
    }
    return arguments;
}

} // namespace

std::optional<int> runScriptingCommand(const QStringList& arguments, const QString& serviceName)
{
    const QString option = arguments.value(1);
    if (option != SaveOption && option != DeleteOption)
        return std::nullopt;
    const QStringList operands = arguments.mid(2);
    const bool save = option == SaveOption;
    if (operands.isEmpty() || operands.size() > (save ? 3 : 1))
        return fail(save ? QStringLiteral("Usage: quillary --save-note UUID [TEXT [DATE]]")
                         : QStringLiteral("Usage: quillary --delete-note UUID"));

    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return fail(QStringLiteral("Quillary: no session bus: %1").arg(bus.lastError().message()));
    QDBusMessage call = QDBusMessage::createMethodCall(
        serviceName, QString::fromLatin1(platform::ApplicationShell::kObjectPath),
        QString::fromLatin1(platform::ApplicationShell::kScriptingInterface),
        save ? QStringLiteral("SaveNote") : QStringLiteral("DeleteNote"));
    call.setArguments({save ? saveArguments(operands) : QVariantMap{{QString(), operands.first()}}});
    const platform::ApplicationShell::CallResult result =
        platform::ApplicationShell::callRunningInstance(serviceName, {call}).constFirst();
    switch (result.outcome) {
    case platform::ApplicationShell::CallOutcome::NotRunning:
        return fail(QStringLiteral("Quillary is not running."));
    case platform::ApplicationShell::CallOutcome::NoAnswer:
        // Neither done nor failed: sending it again could save the note twice.
        std::fprintf(stderr,
                     "%s The command has been handed to it and may still be carried out when it "
                     "answers; do not send it again.\n",
                     platform::ApplicationShell::kNoAnswerText);
        return DeliveredWithoutAnswer;
    case platform::ApplicationShell::CallOutcome::Answered:
        break;
    }
    const QDBusMessage& reply = result.reply;
    if (reply.type() == QDBusMessage::ErrorMessage)
        return fail(reply.errorMessage());
    if (save && !reply.arguments().value(0).toBool())
        return fail(QStringLiteral("Quillary did not save the note."));
    return 0;
}

std::optional<int> runScriptingCommand(int argc, char** argv)
{
    if (argc < 2)
        return std::nullopt;
    const QString option = QString::fromLocal8Bit(argv[1]);
    if (option != SaveOption && option != DeleteOption)
        return std::nullopt;
    QCoreApplication application(argc, argv);
    return runScriptingCommand(QCoreApplication::arguments(),
                               QString::fromLatin1(platform::ApplicationShell::kServiceName));
}

} // namespace QVRCommandLine
