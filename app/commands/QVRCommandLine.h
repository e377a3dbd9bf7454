#pragma once

#include <QStringList>

#include <optional>

// The scripting commands of the command line, sent to the running instance:
//   quillary --save-note UUID [TEXT [DATE]]
//   quillary --delete-note UUID
// TEXT left out leaves the key out (the instance then saves nothing); DATE is
// seconds since 1970 or an ISO-8601 text.
//
// Exit status: 0 done; 1 refused, failed or no instance running;
// DeliveredWithoutAnswer when the running instance has the command but did
// not answer in time (frozen or busy): it may still be carried out, so the
// status claims neither success nor failure.
namespace QVRCommandLine {

// EX_TEMPFAIL of sysexits.h: "not really an error".
constexpr int DeliveredWithoutAnswer = 75;

// The exit status when the command line is a scripting command, which has
// then run; nothing for any other command line. Runs before the application
// object exists, so it needs no display.
std::optional<int> runScriptingCommand(int argc, char** argv);

// The same on arguments already split (the program name first), in a process
// that has an application object, sent to the instance owning `serviceName`.
std::optional<int> runScriptingCommand(const QStringList& arguments, const QString& serviceName);

} // namespace QVRCommandLine
