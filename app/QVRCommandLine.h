#pragma once

#include <QStringList>

#include <optional>

// The scripting commands of the command line, sent to the running instance:
//   quillary --save-note UUID [TEXT [DATE]]
//   quillary --delete-note UUID
// TEXT left out leaves the key out (the instance then saves nothing); DATE is
// seconds since 1970 or an ISO-8601 text.
namespace QVRCommandLine {

// The exit status when `arguments` (the program name first) are a scripting
// command, which has then run; nothing for any other command line. Runs
// before the application object exists, so it needs no display.
std::optional<int> runScriptingCommand(int argc, char** argv);

// The same on arguments already split, for a process that has an
// application object; `serviceName` lets tests talk to their own instance.
std::optional<int> runScriptingCommand(const QStringList& arguments, const QString& serviceName);

} // namespace QVRCommandLine
