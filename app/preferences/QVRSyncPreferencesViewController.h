#pragma once

#include "app/preferences/QVRPreferencesWindowController.h"
#include "app/preferences/QVRTermsSheetController.h"

#include "platform/core/NotificationCenter.h"

#include <QPointer>
#include <QTimer>
#include <QVariantMap>

#include <functional>
#include <optional>
#include <vector>

class QAbstractButton;
class QButtonGroup;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QStackedWidget;
class QToolButton;
class QVRSyncManager;

// The Sync pane: signing in to the web service or registering, which sync
// method runs, switching between the web service and the cloud folder, and
// logging out. It shows one of five states: loading (the manager is still
// starting or syncing), syncing with the cloud folder, syncing with the web
// service, the sign-in form and the registration form.
class QVRSyncPreferencesViewController : public QVRPreferencesViewController, public QVRTermsSheetDelegate
{
    Q_OBJECT

public:
    // A status text this long or longer also comes up in an alert.
    static constexpr int LongStatusLength = 101;

    explicit QVRSyncPreferencesViewController(QVRSyncManager* syncManager, QWidget* parent = nullptr);
    ~QVRSyncPreferencesViewController() override;

    QString identifier() const override { return QStringLiteral("Sync"); }
    QIcon toolbarImage() const override;

    // The height of the view now shown, with the segmented control above it.
    int fittingHeight(int width) const override;
    void viewWillAppear() override;
    void viewDidAppear() override;
    void viewWillDisappear() override;
    void viewDidDisappear() override;

    // --- actions ---------------------------------------------------------------
    // From the segmented control: a pending form is dropped first.
    void updateSignIn(bool fromControl);
    void saveSettings();
    void showTerms();
    void forgotPassword();
    void openPasswordUtility();
    void showHelp();
    void switchSyncing();
    void logOut();
    // Asks for a cloud folder and syncs through it, leaving the web service.
    void chooseCloudFolder();

    // --- view -------------------------------------------------------------------
    void updateView();
    void updateViewAfterDelay();
    // Fills the password from the keyring for the address in the form.
    void updatePassword();
    void setStatusText(const QString& text);
    QString statusText() const;
    void statusUpdated(const QVariantMap& userInfo);
    void syncFailure(const QVariantMap& userInfo);
    void syncSuccess();
    void cancelEditing();
    void rememberSettings();
    void resetForm();
    bool shouldShowLoadingView() const;
    bool shouldShowLoggedInView() const;
    bool showingRegisterForm() const;
    void shouldEndSheet(QDialog* sheet, int returnCode) override;

    // Why `path` cannot be the cloud folder, or an empty string when it can.
    static QString cloudFolderProblem(const QString& path);

    // --- what the pane reaches outside itself (tests put their own) ------------
    void setURLOpener(std::function<void(const QUrl&)> opener);
    // Returns the chosen folder, empty when the user cancelled.
    void setFolderChooser(std::function<QString()> chooser) { m_folderChooser = std::move(chooser); }
    // Whether the password manager's look-up buttons show.
    void setUtilityInstalled(bool installed) { m_utilityInstalled = installed; }

    QWidget* currentView() const;
    QWidget* signInView() const { return m_signInView; }
    QWidget* registerView() const { return m_registerView; }
    QWidget* loadingView() const { return m_loadingView; }
    QWidget* loggedInView() const { return m_loggedInView; }
    QWidget* segmentedControl() const { return m_segmentedControl; }
    QVRTermsSheetController* termsController() const { return m_termsController; }
    const std::optional<QVariantMap>& settings() const { return m_settings; }
    bool agreedToTerms() const { return m_agreedToTerms; }
    bool spinnerRunning() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setCurrentView(QWidget* view);
    void buildSignInView();
    void buildRegisterView();
    void buildLoadingView();
    void buildLoggedInView();
    void sendForm(const QVariantMap& form);
    void passwordFound(const QString& email, const QString& password);
    void showLongStatus(const QString& text);
    void showStatusText(const QString& text);

    QVRSyncManager* m_syncManager; // not owned; outlives the pane
    QPointer<QVRTermsSheetController> m_termsController;
    std::optional<QVariantMap> m_settings;
    bool m_agreedToTerms = false;
    bool m_forceQuorvaneForm = false;
    bool m_utilityInstalled = false;
    bool m_appeared = false; // between viewDidAppear and viewWillDisappear
    // Bumped whenever the form is dropped: an answer of the keyring that
    // arrives afterwards belongs to a form that is gone.
    quint64 m_formGeneration = 0;
    QString m_statusText; // the last status the pane was given

    std::function<void(const QUrl&)> m_urlOpener;
    std::function<QString()> m_folderChooser;

    QTimer m_updateTimer;
    QTimer m_spinnerTimer;
    std::vector<platform::ObserverToken> m_observers;
    QPointer<QWidget> m_watchedWindow;

    QWidget* m_segmentedControl;
    QWidget* m_segmentedHolder = nullptr; // the control with the space above it
    QButtonGroup* m_segments;
    QStackedWidget* m_stack;
    QWidget* m_signInView;
    QWidget* m_registerView;
    QWidget* m_loadingView;
    QWidget* m_loggedInView;

    QLineEdit* m_syncEmailField;
    QLineEdit* m_syncPasswordField;
    QPushButton* m_signInButton;
    QToolButton* m_syncPasswordButton;
    QPushButton* m_forgotButton;
    QPushButton* m_useCloudFolderButton;
    QLabel* m_syncInfo;
    QLineEdit* m_registerEmailField;
    QLineEdit* m_registerPasswordField;
    QLineEdit* m_registerConfirmField;
    QLineEdit* m_registerNameField;
    QPushButton* m_registerButton;
    QToolButton* m_registerPasswordButton;
    QLabel* m_registerInfo;
    QProgressBar* m_loadingSpinner;
    QLabel* m_loggedInTitle;
    QLabel* m_loggedInText;
    QLabel* m_loggedInInfo;
    QPushButton* m_logOutButton;
    QPushButton* m_switchSyncButton;
    QPushButton* m_chooseFolderButton;
    QToolButton* m_syncHelpButton;
};
