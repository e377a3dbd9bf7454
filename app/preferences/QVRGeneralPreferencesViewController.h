#pragma once

#include "app/preferences/QVRPreferencesWindowController.h"

#include "platform/core/NotificationCenter.h"

class KRRecorderControl;
class QCheckBox;
class QComboBox;
class QLabel;
class QuillaryAppDelegate;

// The General pane: text size, the global shortcut, Dock or menu bar, hiding
// automatically and starting at login. Values set from code never run the
// pane's actions: those follow the user's input only.
class QVRGeneralPreferencesViewController : public QVRPreferencesViewController
{
    Q_OBJECT

public:
    // The text sizes offered, in points.
    static const QList<int>& textSizes();

    explicit QVRGeneralPreferencesViewController(QuillaryAppDelegate* delegate, QWidget* parent = nullptr);
    ~QVRGeneralPreferencesViewController() override;

    QString identifier() const override { return QStringLiteral("General"); }
    QIcon toolbarImage() const override;

    void viewWillAppear() override;
    void viewDidDisappear() override;

    void changeTextSize();
    void changeShowIn();
    void changeHideAutomatically();
    void changeStartAtLogin();
    void userDefaultsDidChange(const QString& key, const QVariant& value);
    void updateHideAutomatically();

    QComboBox* textSizePopup() const { return m_textSizePopup; }
    KRRecorderControl* keyRecorder() const { return m_keyRecorder; }
    QComboBox* showInPopup() const { return m_showInPopup; }
    QCheckBox* hideAutomaticallyButton() const { return m_hideAutomaticallyButton; }
    QCheckBox* startAtLoginButton() const { return m_startAtLoginButton; }

private:
    QuillaryAppDelegate* m_delegate; // not owned; outlives the pane
    platform::ObserverToken m_defaultsObserver;

    QLabel* m_textSizeLabel;
    QLabel* m_shortcutLabel;
    QLabel* m_showInLabel;
    QComboBox* m_textSizePopup;
    KRRecorderControl* m_keyRecorder;
    QComboBox* m_showInPopup;
    QCheckBox* m_hideAutomaticallyButton;
    QCheckBox* m_startAtLoginButton;
};
