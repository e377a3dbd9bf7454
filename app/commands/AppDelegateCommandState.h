#pragma once
// The state of the delegate's outside commands (internal to the
// AppDelegate_* files that implement them).

#include "app/QuillaryAppDelegate.h"
#include "app/commands/QVRScriptCommands.h"

#include "platform/shell/ApplicationShell.h"

#include <QPointer>
#include <QPrinter>
#include <QTextDocument>

#include <memory>

struct QuillaryAppDelegate::CommandState
{
    CommandPanels panels;
    std::unique_ptr<QVRScriptingHandler> scriptingHandler;
    QPointer<platform::ApplicationShell> shell;
    std::unique_ptr<QPrinter> printInfo;
    std::unique_ptr<QTextDocument> printView;
    // The shared-items folder, emptied by the run's first share (a new run
    // removes what earlier ones left); each share then takes a folder of its
    // own in it, since a mail program may read an attachment long after the
    // next share.
    QString sharedItemsFolder;
};
