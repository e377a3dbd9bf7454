// The Sync pane of the preferences window.
#include "app/preferences/QVRSyncPreferencesViewController.h"

#include "app/alerts/Alert.h"
#include "app/preferences/QVRPasswordUtilities.h"

#include "platform/cloud/Ubiquity.h"
#include "platform/core/Error.h"
#include "platform/core/Log.h"
#include "platform/core/MainThread.h"
#include "platform/core/UserDefaults.h"
#include "platform/secret/SecretBackend.h"
#include "store/QVRLocalizedString.h"
#include "store/QVRUtilities.h"
#include "sync/QVRPasswordManager.h"
#include "sync/QVRSyncAccount.h"
#include "sync/QVRSyncManager.h"
#include "sync/QVRSyncService.h"

#include <QButtonGroup>
#include <QDesktopServices>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QStyle>
#include <QTemporaryFile>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

const QString EmailKey = QStringLiteral("email");
const QString PasswordKey = QStringLiteral("password");
const QString NewKey = QStringLiteral("new");
const QString ConfirmKey = QStringLiteral("confirm");
const QString NameKey = QStringLiteral("name");
const QString TermsKey = QStringLiteral("terms");

QString localized(const char* text)
{
    return QVRLocalizedString(QString::fromUtf8(text));
}

QLabel* infoLabel(QWidget* parent, const QString& name)
{
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

QLineEdit* field(QWidget* parent, const QString& name, const QString& accessibleName, bool secure)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(name);
    edit->setAccessibleName(accessibleName);
    edit->setMinimumWidth(220);
    if (secure)
        edit->setEchoMode(QLineEdit::Password);
    return edit;
}

QToolButton* lookUpButton(QWidget* parent, const QString& name)
{
    auto* button = new QToolButton(parent);
    button->setObjectName(name);
    const QString text = localized("Look Up in 1Password");
    button->setToolTip(text);
    button->setAccessibleName(text);
    button->setIcon(parent->style()->standardIcon(QStyle::SP_FileDialogContentsView));
    return button;
}

QPushButton* button(QWidget* parent, const QString& name, const QString& text)
{
    auto* push = new QPushButton(text, parent);
    push->setObjectName(name);
    push->setAccessibleName(text);
    return push;
}

} // namespace

QVRSyncPreferencesViewController::QVRSyncPreferencesViewController(QVRSyncManager* syncManager,
                                                                   QWidget* parent)
    : QVRPreferencesViewController(parent), m_syncManager(syncManager), m_segmentedControl(new QWidget(this)),
      m_segments(new QButtonGroup(this)), m_stack(new QStackedWidget(this))
{
    setObjectName(QStringLiteral("syncPreferences"));
    setTitle(localized("Sync"));
    m_utilityInstalled = QVRPasswordUtilities::utilityIsInstalled();
    m_urlOpener = [](const QUrl& url) { QDesktopServices::openUrl(url); };
    m_folderChooser = [this] {
        return QFileDialog::getExistingDirectory(
            this, localized("Choose Cloud Folder"), platform::cloudRootPath(),
            QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
    };
    m_updateTimer.setSingleShot(true);
    m_updateTimer.setInterval(600);
    connect(&m_updateTimer, &QTimer::timeout, this, &QVRSyncPreferencesViewController::updateView);
    m_spinnerTimer.setSingleShot(true);
    m_spinnerTimer.setInterval(100);
    connect(&m_spinnerTimer, &QTimer::timeout, this, [this] { m_loadingSpinner->setVisible(true); });

    // The segmented control: "Sign In" (0) and "Register" (1).
    m_segmentedControl->setObjectName(QStringLiteral("segmentedControl"));
    auto* segmentsLayout = new QHBoxLayout(m_segmentedControl);
    segmentsLayout->setContentsMargins(0, 0, 0, 0);
    segmentsLayout->setSpacing(0);
    const QString segmentTitles[] = {localized("Sign In"), localized("Register")};
    for (int i = 0; i < 2; ++i) {
        auto* segment = new QToolButton(m_segmentedControl);
        segment->setObjectName(i == 0 ? QStringLiteral("signInSegment") : QStringLiteral("registerSegment"));
        segment->setText(segmentTitles[i]);
        segment->setAccessibleName(segmentTitles[i]);
        segment->setCheckable(true);
        segment->setAutoRaise(false);
        m_segments->addButton(segment, i);
        segmentsLayout->addWidget(segment);
    }
    m_segments->setExclusive(true);
    m_segments->button(0)->setChecked(true);
    connect(m_segments, &QButtonGroup::idClicked, this, [this] { updateSignIn(true); });

    buildSignInView();
    buildRegisterView();
    buildLoadingView();
    buildLoggedInView();
    for (QWidget* view : {m_signInView, m_registerView, m_loadingView, m_loggedInView})
        m_stack->addWidget(view);

    // The control sits 25 points below the top, centred, with the view under
    // it down to the bottom; without it the view fills the pane.
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_segmentedHolder = new QWidget(this);
    auto* holderLayout = new QVBoxLayout(m_segmentedHolder);
    holderLayout->setContentsMargins(0, 25, 0, 0);
    holderLayout->addWidget(m_segmentedControl, 0, Qt::AlignHCenter);
    layout->addWidget(m_segmentedHolder);
    layout->addWidget(m_stack, 1);
    setCurrentView(m_loadingView);
}

QVRSyncPreferencesViewController::~QVRSyncPreferencesViewController()
{
    m_observers.clear();
    if (m_watchedWindow)
        m_watchedWindow->removeEventFilter(this);
}

QIcon QVRSyncPreferencesViewController::toolbarImage() const
{
    return QIcon::fromTheme(QStringLiteral("emblem-synchronizing"),
                            style()->standardIcon(QStyle::SP_BrowserReload));
}

void QVRSyncPreferencesViewController::setURLOpener(std::function<void(const QUrl&)> opener)
{
    m_urlOpener = std::move(opener);
    if (m_termsController)
        m_termsController->setURLOpener(m_urlOpener);
}

// --- the four views ------------------------------------------------------------------

void QVRSyncPreferencesViewController::buildSignInView()
{
    m_signInView = new QWidget(this);
    m_signInView->setObjectName(QStringLiteral("signInView"));
    m_syncEmailField = field(m_signInView, QStringLiteral("syncEmailField"), localized("Email:"), false);
    m_syncPasswordField =
        field(m_signInView, QStringLiteral("syncPasswordField"), localized("Password:"), true);
    m_syncPasswordButton = lookUpButton(m_signInView, QStringLiteral("syncPasswordButton"));
    m_signInButton = button(m_signInView, QStringLiteral("signInButton"), localized("Sign In"));
    m_signInButton->setDefault(true);
    m_forgotButton = button(m_signInView, QStringLiteral("forgotButton"), localized("Forgot your password?"));
    m_forgotButton->setFlat(true);
    m_useCloudFolderButton =
        button(m_signInView, QStringLiteral("useCloudFolderButton"), localized("Use a Cloud Folder…"));
    m_syncInfo = infoLabel(m_signInView, QStringLiteral("syncInfo"));

    auto* password = new QHBoxLayout;
    password->addWidget(m_syncPasswordField, 1);
    password->addWidget(m_syncPasswordButton);
    auto* form = new QFormLayout;
    form->addRow(localized("Email:"), m_syncEmailField);
    form->addRow(localized("Password:"), password);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_forgotButton);
    buttons->addStretch(1);
    buttons->addWidget(m_signInButton);
    auto* layout = new QVBoxLayout(m_signInView);
    layout->setContentsMargins(20, 16, 20, 20);
    layout->addLayout(form);
    layout->addLayout(buttons);
    layout->addWidget(m_syncInfo);
    layout->addStretch(1);
    layout->addWidget(m_useCloudFolderButton, 0, Qt::AlignLeft);

    connect(m_syncEmailField, &QLineEdit::editingFinished, this,
            &QVRSyncPreferencesViewController::updatePassword);
    connect(m_syncPasswordField, &QLineEdit::returnPressed, this,
            &QVRSyncPreferencesViewController::saveSettings);
    connect(m_signInButton, &QPushButton::clicked, this, &QVRSyncPreferencesViewController::saveSettings);
    connect(m_forgotButton, &QPushButton::clicked, this, &QVRSyncPreferencesViewController::forgotPassword);
    connect(m_syncPasswordButton, &QToolButton::clicked, this,
            &QVRSyncPreferencesViewController::openPasswordUtility);
    connect(m_useCloudFolderButton, &QPushButton::clicked, this,
            &QVRSyncPreferencesViewController::chooseCloudFolder);
}

void QVRSyncPreferencesViewController::buildRegisterView()
{
    m_registerView = new QWidget(this);
    m_registerView->setObjectName(QStringLiteral("registerView"));
    m_registerEmailField =
        field(m_registerView, QStringLiteral("registerEmailField"), localized("Email:"), false);
    m_registerPasswordField =
        field(m_registerView, QStringLiteral("registerPasswordField"), localized("Password:"), true);
    m_registerConfirmField =
        field(m_registerView, QStringLiteral("registerConfirmField"), localized("Password:"), true);
    m_registerNameField =
        field(m_registerView, QStringLiteral("registerNameField"), localized("Name:"), false);
    m_registerNameField->setPlaceholderText(localized("Optional"));
    m_registerPasswordButton = lookUpButton(m_registerView, QStringLiteral("registerPasswordButton"));
    m_registerButton = button(m_registerView, QStringLiteral("registerButton"), localized("Register"));
    m_registerButton->setDefault(true);
    m_registerInfo = infoLabel(m_registerView, QStringLiteral("registerInfo"));

    auto* password = new QHBoxLayout;
    password->addWidget(m_registerPasswordField, 1);
    password->addWidget(m_registerPasswordButton);
    auto* form = new QFormLayout;
    form->addRow(localized("Email:"), m_registerEmailField);
    form->addRow(localized("Password:"), password);
    form->addRow(localized("Password:"), m_registerConfirmField);
    form->addRow(localized("Name:"), m_registerNameField);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_registerButton);
    auto* layout = new QVBoxLayout(m_registerView);
    layout->setContentsMargins(20, 16, 20, 20);
    layout->addLayout(form);
    layout->addLayout(buttons);
    layout->addWidget(m_registerInfo);
    layout->addStretch(1);

    connect(m_registerButton, &QPushButton::clicked, this, &QVRSyncPreferencesViewController::showTerms);
    connect(m_registerPasswordButton, &QToolButton::clicked, this,
            &QVRSyncPreferencesViewController::openPasswordUtility);
}

void QVRSyncPreferencesViewController::buildLoadingView()
{
    m_loadingView = new QWidget(this);
    m_loadingView->setObjectName(QStringLiteral("loadingView"));
    m_loadingSpinner = new QProgressBar(m_loadingView);
    m_loadingSpinner->setObjectName(QStringLiteral("loadingSpinner"));
    m_loadingSpinner->setAccessibleName(localized("Loading"));
    m_loadingSpinner->setRange(0, 0);
    m_loadingSpinner->setTextVisible(false);
    m_loadingSpinner->setFixedWidth(120);
    m_loadingSpinner->setVisible(false);
    // Short views would make the window jump while sync starts.
    m_loadingView->setMinimumHeight(160);
    auto* layout = new QVBoxLayout(m_loadingView);
    layout->addStretch(1);
    layout->addWidget(m_loadingSpinner, 0, Qt::AlignCenter);
    layout->addStretch(1);
}

void QVRSyncPreferencesViewController::buildLoggedInView()
{
    m_loggedInView = new QWidget(this);
    m_loggedInView->setObjectName(QStringLiteral("loggedInView"));
    m_loggedInTitle = infoLabel(m_loggedInView, QStringLiteral("loggedInTitle"));
    QFont bold = m_loggedInTitle->font();
    bold.setBold(true);
    m_loggedInTitle->setFont(bold);
    m_loggedInText = infoLabel(m_loggedInView, QStringLiteral("loggedInText"));
    m_loggedInInfo = infoLabel(m_loggedInView, QStringLiteral("loggedInInfo"));
    m_logOutButton = button(m_loggedInView, QStringLiteral("logOutButton"), localized("Log Out"));
    m_switchSyncButton = button(m_loggedInView, QStringLiteral("switchSyncButton"), QString());
    m_chooseFolderButton =
        button(m_loggedInView, QStringLiteral("chooseFolderButton"), localized("Choose Cloud Folder…"));
    m_syncHelpButton = new QToolButton(m_loggedInView);
    m_syncHelpButton->setObjectName(QStringLiteral("syncHelpButton"));
    m_syncHelpButton->setText(QStringLiteral("?"));
    m_syncHelpButton->setAccessibleName(localized("Help"));

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_syncHelpButton);
    buttons->addStretch(1);
    buttons->addWidget(m_chooseFolderButton);
    buttons->addWidget(m_switchSyncButton);
    buttons->addWidget(m_logOutButton);
    auto* layout = new QVBoxLayout(m_loggedInView);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->addWidget(m_loggedInTitle);
    layout->addWidget(m_loggedInText);
    layout->addWidget(m_loggedInInfo);
    layout->addStretch(1);
    layout->addLayout(buttons);

    connect(m_logOutButton, &QPushButton::clicked, this, &QVRSyncPreferencesViewController::logOut);
    connect(m_switchSyncButton, &QPushButton::clicked, this,
            &QVRSyncPreferencesViewController::switchSyncing);
    connect(m_chooseFolderButton, &QPushButton::clicked, this,
            &QVRSyncPreferencesViewController::chooseCloudFolder);
    connect(m_syncHelpButton, &QToolButton::clicked, this, &QVRSyncPreferencesViewController::showHelp);
}

// --- lifecycle -----------------------------------------------------------------------

void QVRSyncPreferencesViewController::viewWillAppear()
{
    QVRPreferencesViewController::viewWillAppear();
    m_forceQuorvaneForm = false;
    m_forgotButton->setText(localized("Forgot your password?"));
    if (QWidget* top = window(); top && top != m_watchedWindow) {
        if (m_watchedWindow)
            m_watchedWindow->removeEventFilter(this);
        m_watchedWindow = top;
        top->installEventFilter(this);
    }
    platform::NotificationCenter& center = platform::NotificationCenter::defaultCenter();
    m_observers.clear();
    m_observers.push_back(
        center.addObserver(QVRSyncChangeNotification, nullptr, this,
                           [this](const platform::Notification& n) { statusUpdated(n.userInfo); }));
    m_observers.push_back(
        center.addObserver(QVRSyncCompleteNotification, nullptr, this,
                           [this](const platform::Notification&) { updateViewAfterDelay(); }));
    m_observers.push_back(center.addObserver(QVRSyncSuccessNotification, nullptr, this,
                                             [this](const platform::Notification&) { syncSuccess(); }));
    m_observers.push_back(
        center.addObserver(QVRSyncFailureNotification, nullptr, this,
                           [this](const platform::Notification& n) { syncFailure(n.userInfo); }));
    if (m_syncManager->quorvaneEnabled())
        m_syncManager->sync();
    else
        m_syncManager->refresh();
    updateView();
}

int QVRSyncPreferencesViewController::fittingHeight(int width) const
{
    const QWidget* view = currentView();
    int height = view->hasHeightForWidth() ? view->heightForWidth(width) : view->sizeHint().height();
    height = std::max({height, view->minimumSizeHint().height(), view->minimumHeight()});
    if (m_segmentedControl->isVisibleTo(this))
        height += 25 + m_segmentedControl->sizeHint().height();
    return height;
}

void QVRSyncPreferencesViewController::viewDidAppear()
{
    QVRPreferencesViewController::viewDidAppear();
    m_appeared = true;
    // The view may have changed since the window was fitted.
    fitWindowToPane();
}

void QVRSyncPreferencesViewController::viewWillDisappear()
{
    m_appeared = false;
    // A half-filled form is thrown away.
    cancelEditing();
    QVRPreferencesViewController::viewWillDisappear();
}

void QVRSyncPreferencesViewController::viewDidDisappear()
{
    m_observers.clear();
    if (m_watchedWindow) {
        m_watchedWindow->removeEventFilter(this);
        m_watchedWindow = nullptr;
    }
    m_updateTimer.stop();
    QVRPreferencesViewController::viewDidDisappear();
}

bool QVRSyncPreferencesViewController::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_watchedWindow && event->type() == QEvent::WindowActivate)
        updateView();
    return QVRPreferencesViewController::eventFilter(watched, event);
}

// --- which view shows ------------------------------------------------------------------

bool QVRSyncPreferencesViewController::shouldShowLoadingView() const
{
    return static_cast<unsigned>(m_syncManager->step()) < static_cast<unsigned>(QVRSyncStep::Transferred);
}

bool QVRSyncPreferencesViewController::shouldShowLoggedInView() const
{
    return (m_syncManager->iCloudEnabled() || m_syncManager->quorvaneEnabled()) && !m_forceQuorvaneForm;
}

bool QVRSyncPreferencesViewController::showingRegisterForm() const
{
    return m_segments->checkedId() == 1;
}

QWidget* QVRSyncPreferencesViewController::currentView() const
{
    return m_stack->currentWidget();
}

bool QVRSyncPreferencesViewController::spinnerRunning() const
{
    return m_loadingSpinner->isVisibleTo(m_loadingView);
}

void QVRSyncPreferencesViewController::setCurrentView(QWidget* view)
{
    if (view != m_loadingView) {
        m_spinnerTimer.stop();
        m_loadingSpinner->setVisible(false);
    }
    m_stack->setCurrentWidget(view);
    m_segmentedHolder->setVisible(view == m_signInView || view == m_registerView);
    // Only the view shown counts for the pane's height.
    for (QWidget* page : {m_signInView, m_registerView, m_loadingView, m_loggedInView})
        page->setSizePolicy(QSizePolicy::Preferred,
                            page == view ? QSizePolicy::Preferred : QSizePolicy::Ignored);
    updateGeometry();
    if (m_appeared)
        fitWindowToPane();
}

void QVRSyncPreferencesViewController::updateViewAfterDelay()
{
    m_updateTimer.start();
}

void QVRSyncPreferencesViewController::updateView()
{
    m_updateTimer.stop();
    m_spinnerTimer.stop();

    if (shouldShowLoadingView()) {
        setCurrentView(m_loadingView);
        if (!spinnerRunning())
            m_spinnerTimer.start();
        return;
    }

    if (shouldShowLoggedInView()) {
        if (m_syncManager->iCloudEnabled()) {
            m_loggedInTitle->setText(localized("Syncing with iCloud"));
            // Here the cloud is a folder that a file-sync tool keeps the same
            // on the user's computers: the pane is where it is set.
            m_loggedInText->setText(
                localized("Your notes are kept in the cloud folder “%@”, which your file-sync tool keeps the "
                          "same on your computers. To use another folder, click Choose Cloud Folder.")
                    .replace(QStringLiteral("%@"), platform::cloudRootPath()));
            m_switchSyncButton->setText(localized("Switch to Quorvane"));
            m_logOutButton->setVisible(false);
            m_switchSyncButton->setVisible(true);
            m_syncHelpButton->setVisible(true);
            m_chooseFolderButton->setVisible(true);
        } else {
            m_loggedInTitle->setText(localized("Syncing with Quorvane"));
            m_loggedInText->setText(localized("You are currently signed in as %@")
                                        .replace(QStringLiteral("%@"), m_syncManager->quorvaneEmail()));
            m_switchSyncButton->setText(localized("Switch to iCloud"));
            m_logOutButton->setVisible(true);
            const bool available = m_syncManager->iCloudAvailable();
            m_switchSyncButton->setVisible(available);
            m_syncHelpButton->setVisible(available);
            // Without a cloud folder there is nothing to switch to yet: the
            // folder is chosen here, and the switch follows.
            m_chooseFolderButton->setVisible(!available);
        }
        for (QPushButton* push : {m_switchSyncButton, m_logOutButton, m_chooseFolderButton})
            push->setAccessibleName(push->text());
        setCurrentView(m_loggedInView);
        return;
    }

    QWidget* form = showingRegisterForm() ? m_registerView : m_signInView;
    setCurrentView(form);
    QWidget::setTabOrder(m_segments->button(1),
                         showingRegisterForm() ? m_registerEmailField : m_syncEmailField);
    const QString message = m_syncManager->quorvaneMessage();
    // The service's message, else what the pane was last told (a refused
    // form, a locked keyring), else the invitation: a rebuilt view must not
    // wipe a reason the user has not read yet.
    showStatusText(
        !message.isEmpty() ? message
        : !m_statusText.isEmpty()
            ? m_statusText
            : localized("Sign in to a Quorvane account to sync your notes with any Mac, iPhone, iPod touch, "
                        "iPad or web browser. Your notes are synced securely through %@.")
                  .replace(QStringLiteral("%@"), QVRSyncService::host()));
    if (!m_settings) {
        const QString email = m_syncManager->quorvaneEmail();
        m_settings = QVariantMap{{EmailKey, email.isNull() ? QString(QLatin1String("")) : email}};
        m_syncEmailField->setText(email);
        if (!m_syncManager->quorvaneEnabled())
            updatePassword();
    }
    m_syncPasswordButton->setVisible(m_utilityInstalled);
    m_registerPasswordButton->setVisible(m_utilityInstalled);
    if (m_utilityInstalled) {
        QWidget::setTabOrder(m_signInButton, m_syncPasswordButton);
        QWidget::setTabOrder(m_registerButton, m_registerPasswordButton);
    } else {
        QWidget::setTabOrder(m_signInButton, m_forgotButton);
        QWidget::setTabOrder(m_registerButton, m_registerEmailField);
    }
}

// --- the form --------------------------------------------------------------------------

void QVRSyncPreferencesViewController::updateSignIn(bool fromControl)
{
    if (fromControl) {
        m_syncManager->discardQuorvaneSettings();
        m_statusText.clear();
    }
    updateView();
}

void QVRSyncPreferencesViewController::updatePassword()
{
    QString email = m_syncEmailField->text().trimmed();
    if (email.isEmpty() && m_settings)
        email = m_settings->value(EmailKey).toString();
    if (email.isEmpty())
        return;
    // The keyring may block for as long as an unlock prompt stays open: it
    // is asked on its own thread. A keyring that is locked or absent fills
    // nothing; signing in then says why.
    QPointer<QVRSyncPreferencesViewController> self(this);
    const QString server = QVRSyncService::host();
    const quint64 generation = m_formGeneration;
    QVRPasswordManager::perform([self, email, server, generation] {
        const std::optional<QString> password =
            QVRPasswordManager::passwordForAccount(email, server, std::nullopt, std::nullopt);
        if (!password || password->isEmpty())
            return;
        platform::runOnMainThread([self, email, password, generation] {
            if (self && self->m_formGeneration == generation)
                self->passwordFound(email, *password);
        });
    });
}

void QVRSyncPreferencesViewController::passwordFound(const QString& email, const QString& password)
{
    // The address may have changed while the keyring was asked.
    QString current = m_syncEmailField->text().trimmed();
    if (current.isEmpty() && m_settings)
        current = m_settings->value(EmailKey).toString();
    if (current != email)
        return;
    if (!m_settings)
        m_settings = QVariantMap();
    m_settings->insert(PasswordKey, password);
    m_syncPasswordField->setText(password);
}

void QVRSyncPreferencesViewController::rememberSettings()
{
    if (!m_settings)
        m_settings = QVariantMap();
    QVariantMap& form = *m_settings;
    // A pasted address often brings a space along; it would name another account.
    if (currentView() == m_registerView) {
        form.insert(NewKey, true);
        form.insert(EmailKey, m_registerEmailField->text().trimmed());
        form.insert(PasswordKey, m_registerPasswordField->text());
        form.insert(ConfirmKey, m_registerConfirmField->text());
        form.insert(NameKey, m_registerNameField->text());
    } else {
        form.remove(NewKey);
        form.remove(ConfirmKey);
        form.remove(NameKey);
        form.insert(EmailKey, m_syncEmailField->text().trimmed());
        form.insert(PasswordKey, m_syncPasswordField->text());
    }
    if (m_agreedToTerms)
        form.insert(TermsKey, QStringLiteral("true"));
    else
        form.remove(TermsKey);
}

void QVRSyncPreferencesViewController::saveSettings()
{
    rememberSettings();
    const QVariantMap form = *m_settings;
    const bool empty = !QVRUtilities::hasTrimmedValue(form.value(EmailKey).toString()) &&
                       !form.value(NewKey).toBool() &&
                       !QVRUtilities::hasTrimmedValue(form.value(PasswordKey).toString());
    // An empty form signs out and a wrong one is refused by the manager; a
    // form that would sign in needs the keyring for its password and login
    // code, so the keyring is asked first and nothing is sent without one.
    if (empty || !QVRSyncAccount::problemWithForm(form).isNull()) {
        sendForm(form);
        return;
    }
    QPointer<QVRSyncPreferencesViewController> self(this);
    const quint64 generation = m_formGeneration;
    QVRPasswordManager::perform([self, form, generation] {
        QString reason;
        const bool available = platform::SecretBackend::current().isAvailable(&reason);
        platform::runOnMainThread([self, form, generation, available, reason] {
            if (!self || self->m_formGeneration != generation)
                return;
            if (available) {
                self->sendForm(form);
                return;
            }
            platform::log(QStringLiteral("Web sync cannot sign in without the keyring: %1").arg(reason));
            self->setStatusText(
                localized("Web sync keeps your password in the keyring, which is locked or not running. "
                          "Unlock or start your keyring and try again."));
        });
    });
}

void QVRSyncPreferencesViewController::sendForm(const QVariantMap& form)
{
    platform::Error error;
    if (m_syncManager->validateQuorvaneSettings(form, &error)) {
        m_settings.reset();
        ++m_formGeneration;
        return;
    }
    if (!error.localizedDescription.isEmpty())
        setStatusText(error.localizedDescription);
}

void QVRSyncPreferencesViewController::setStatusText(const QString& text)
{
    m_statusText = text;
    showStatusText(text);
}

void QVRSyncPreferencesViewController::showStatusText(const QString& text)
{
    for (QLabel* label : {m_syncInfo, m_registerInfo, m_loggedInInfo})
        label->setText(text);
    m_loggedInInfo->setVisible(!text.isEmpty());
    // A longer text needs more lines.
    if (m_appeared)
        fitWindowToPane();
}

QString QVRSyncPreferencesViewController::statusText() const
{
    return m_syncInfo->text();
}

void QVRSyncPreferencesViewController::resetForm()
{
    setStatusText(QString());
    for (QLineEdit* edit : {m_syncEmailField, m_syncPasswordField, m_registerEmailField,
                            m_registerPasswordField, m_registerConfirmField, m_registerNameField})
        edit->clear();
    m_settings.reset();
    ++m_formGeneration;
    m_forceQuorvaneForm = false;
}

void QVRSyncPreferencesViewController::cancelEditing()
{
    m_syncManager->discardQuorvaneSettings();
    resetForm();
}

// --- notifications ------------------------------------------------------------------------

void QVRSyncPreferencesViewController::statusUpdated(const QVariantMap& userInfo)
{
    updateViewAfterDelay();
    const QString text = userInfo.value(QVRSyncStatusKey).toString();
    if (text.isEmpty())
        return;
    setStatusText(text);
    if (text.size() >= LongStatusLength)
        showLongStatus(text);
}

void QVRSyncPreferencesViewController::syncFailure(const QVariantMap& userInfo)
{
    if (!userInfo.value(QVRSyncStatusKey).toString().isEmpty())
        statusUpdated(userInfo);
    else
        updateViewAfterDelay();
}

void QVRSyncPreferencesViewController::syncSuccess()
{
    resetForm();
}

void QVRSyncPreferencesViewController::showLongStatus(const QString& text)
{
    Alert alert(QMessageBox::Information, text);
    alert.setWindowTitle(localized("Quorvane Sync"));
    if (window() && window()->isVisible())
        alert.open(this);
    else
        alert.run(this);
}

// --- other actions -------------------------------------------------------------------------

void QVRSyncPreferencesViewController::showTerms()
{
    if (!m_termsController) {
        m_termsController = new QVRTermsSheetController(this);
        m_termsController->setDelegate(this);
        m_termsController->setURLOpener(m_urlOpener);
        connect(m_termsController, &QDialog::finished, this, [this](int code) {
            m_agreedToTerms = code == QVRTermsSheetController::AgreeReturnCode;
            // A cancelled sheet still sends the form, without "terms": the
            // service then says why it refuses.
            saveSettings();
        });
    }
    m_termsController->loadTerms();
    m_termsController->open();
}

void QVRSyncPreferencesViewController::shouldEndSheet(QDialog* sheet, int returnCode)
{
    sheet->done(returnCode);
}

void QVRSyncPreferencesViewController::forgotPassword()
{
    QUrl url = QVRSyncService::origin();
    if (url.isEmpty())
        return;
    url.setPath(QStringLiteral("/sync/"));
    url.setQuery(QStringLiteral("cmd=reset"));
    m_urlOpener(url);
}

void QVRSyncPreferencesViewController::openPasswordUtility()
{
    m_urlOpener(QVRPasswordUtilities::utilityURLForSearch(QVRSyncService::host()));
}

void QVRSyncPreferencesViewController::showHelp()
{
    m_urlOpener(QUrl(QVRSyncManager::syncHelpURL()));
}

void QVRSyncPreferencesViewController::switchSyncing()
{
    if (m_syncManager->iCloudEnabled()) {
        m_forceQuorvaneForm = true;
        updateView();
    } else {
        logOut();
    }
}

void QVRSyncPreferencesViewController::logOut()
{
    resetForm();
    // The password stays in the keyring for a later sign-in; the login code
    // goes with the account.
    m_syncManager->disableQuorvaneAndDeletePassword(false);
    updateViewAfterDelay();
}

QString QVRSyncPreferencesViewController::cloudFolderProblem(const QString& path)
{
    const QFileInfo info(path);
    if (path.isEmpty() || info.isRelative() || !info.isDir())
        return localized("“%@” is not a folder. Choose a folder for your notes.")
            .replace(QStringLiteral("%@"), path);
    // Mode bits say nothing for root or on a read-only mount: try it.
    QTemporaryFile probe(QDir(path).filePath(QStringLiteral(".quillary-XXXXXX")));
    if (!probe.open())
        return localized("The folder “%@” cannot be written to. Choose a folder that you can change.")
            .replace(QStringLiteral("%@"), path);
    return QString();
}

void QVRSyncPreferencesViewController::chooseCloudFolder()
{
    const QString chosen = m_folderChooser();
    if (chosen.isEmpty())
        return;
    if (!qEnvironmentVariableIsEmpty(platform::CloudFolderEnvironmentVariable)) {
        setStatusText(
            localized("The cloud folder is set by the environment variable %@ and cannot be changed here.")
                .replace(QStringLiteral("%@"),
                         QString::fromLatin1(platform::CloudFolderEnvironmentVariable)));
        return;
    }
    const QString path = QDir::cleanPath(QFileInfo(chosen).absoluteFilePath());
    const QString problem = cloudFolderProblem(path);
    if (!problem.isEmpty()) {
        setStatusText(problem);
        return;
    }
    platform::UserDefaults::standard().set(platform::CloudFolderDefaultsKey, path);
    platform::UserDefaults::standard().synchronize();
    setStatusText(QString());
    m_forceQuorvaneForm = false;
    // The cloud folder takes over only without a web account: leaving the
    // service ends in a new check of the folder; otherwise check it now.
    if (m_syncManager->quorvaneEnabled() || !m_syncManager->quorvaneEmail().isEmpty())
        logOut();
    else
        m_syncManager->refresh();
    updateView();
}
