#include "hotkey/KRRecorderCell.h"

#include "hotkey/KRKeyCodeTransformer.h"
#include "platform/core/Log.h"
#include "platform/core/UserDefaults.h"
#include "platform/x11/X11Connection.h"

#include <QApplication>
#include <QCursor>
#include <QMessageBox>
#include <cmath>
#include <limits>

namespace KF = platform::KeyFlags;

namespace {

std::function<void(const platform::Error&)>& alertPresenter()
{
    static std::function<void(const platform::Error&)> presenter;
    return presenter;
}

std::function<uint64_t()>& flagsProvider()
{
    static std::function<uint64_t()> provider;
    return provider;
}

constexpr uint64_t kFilterBits = KF::Command | KF::Option | KF::Control | KF::Shift | KF::Function;
constexpr uint64_t kModifierBits = KF::Command | KF::Option | KF::Control | KF::Shift;
constexpr double kImageSize = 14;

// The whole number a stored value holds, or nothing for text, fractions and
// non-finite numbers. A long double holds every 64-bit value exactly.
std::optional<long double> wholeNumber(const QVariant& v)
{
    switch (v.typeId()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::Short:
    case QMetaType::Long:
    case QMetaType::SChar:
    case QMetaType::Char:
    case QMetaType::Bool:
        return static_cast<long double>(v.toLongLong());
    case QMetaType::UInt:
    case QMetaType::ULongLong:
    case QMetaType::UShort:
    case QMetaType::ULong:
    case QMetaType::UChar:
        return static_cast<long double>(v.toULongLong());
    case QMetaType::Double:
    case QMetaType::Float: {
        const double d = v.toDouble();
        if (!std::isfinite(d) || d != std::trunc(d))
            return std::nullopt;
        return d;
    }
    default:
        return std::nullopt;
    }
}

// Where a cell with an autosave name keeps its combination in the settings.
// Only this library reads it, so it is spelled here rather than in the
// application's settings table.
QString autosaveKey(const QString& autosaveName)
{
    return QStringLiteral("KeyRecorder ") + autosaveName;
}

} // namespace

std::optional<uint64_t> KRModifierFlagsFromValue(const QVariant& value)
{
    const auto n = wholeNumber(value);
    if (!n || *n < 0 || *n > static_cast<long double>(std::numeric_limits<uint64_t>::max()))
        return std::nullopt;
    return static_cast<uint64_t>(*n);
}

KeyCombo KRKeyComboFromValues(const QVariant& keyCode, const QVariant& modifierFlags)
{
    const auto code = wholeNumber(keyCode);
    const auto flags = KRModifierFlagsFromValue(modifierFlags);
    if (!code || *code < 0 || *code > 0x7fff || !flags)
        return KeyCombo{};
    return KeyCombo{*flags, static_cast<int64_t>(*code)};
}

void KRRecorderCell::setAlertPresenter(std::function<void(const platform::Error&)> presenter)
{
    alertPresenter() = std::move(presenter);
}

void KRRecorderCell::setCurrentFlagsProvider(std::function<uint64_t()> provider)
{
    flagsProvider() = std::move(provider);
}

KRRecorderCell::KRRecorderCell(QObject* parent) : QObject(parent), m_validator(this)
{
    m_tickTimer.setSingleShot(true);
    m_tickTimer.setInterval(33);
    connect(&m_tickTimer, &QTimer::timeout, this, &KRRecorderCell::_transitionTick);
    _createGradient();
    _loadKeyCombo();
}

KRRecorderCell::~KRRecorderCell()
{
    m_tickTimer.stop();
    if (m_isRecording)
        _endRecording();
}

uint64_t KRRecorderCell::currentFlags() const
{
    if (flagsProvider())
        return flagsProvider()();
    return platform::KeyMap::flagsFromQt(QGuiApplication::queryKeyboardModifiers());
}

QRectF KRRecorderCell::bounds() const
{
    return m_view ? QRectF(m_view->rect()) : QRectF();
}

QPointF KRRecorderCell::currentMouseLocation() const
{
    return m_view ? QPointF(m_view->mapFromGlobal(QCursor::pos())) : QPointF(-1, -1);
}

void KRRecorderCell::redisplay()
{
    if (m_view)
        m_view->update();
}

void KRRecorderCell::notifyDelegate()
{
    if (m_delegate)
        m_delegate->keyRecorderCellKeyComboDidChange(this, m_keyCombo);
}

// --- rules ---

uint64_t KRRecorderCell::_filteredCocoaFlags(uint64_t flags) const
{
    return (m_requiredFlags | (flags & m_allowedFlags)) & kFilterBits;
}

bool KRRecorderCell::_validModifierFlags(uint64_t flags) const
{
    return m_allowsKeyOnly || (flags & kModifierBits) || (flags & KF::Function);
}

uint64_t KRRecorderCell::_filteredCocoaToCarbonFlags(uint64_t flags) const
{
    return KRCarbonFlagsFromCocoa(_filteredCocoaFlags(flags));
}

bool KRRecorderCell::_isEmpty() const
{
    return !_validModifierFlags(m_keyCombo.flags) || KRKeyCodeString(m_keyCombo.code).isNull();
}

QRectF KRRecorderCell::_removeButtonRectForFrame(const QRectF& f) const
{
    if (_isEmpty() || !isEnabled())
        return {};
    return QRectF(f.x() + f.width() - kImageSize - 4, f.y() + (f.height() - kImageSize) * 0.5, kImageSize,
                  kImageSize);
}

QRectF KRRecorderCell::_snapbackRectForFrame(const QRectF& f) const
{
    // One point higher than centred.
    return QRectF(f.x() + f.width() - kImageSize - 2, f.y() + (f.height() - kImageSize) * 0.5 - 1, kImageSize,
                  kImageSize);
}

// --- settings ---

void KRRecorderCell::setAllowedFlags(uint64_t flags)
{
    m_allowedFlags = flags;
    flagRulesChanged();
}

void KRRecorderCell::setRequiredFlags(uint64_t flags)
{
    m_requiredFlags = flags;
    flagRulesChanged();
}

// New allowed or required flags: re-filter what is held now, or the
// combination (reported and saved when that changes it).
void KRRecorderCell::flagRulesChanged()
{
    if (m_isRecording) {
        m_recordingFlags = _filteredCocoaFlags(currentFlags());
    } else {
        const uint64_t filtered = _filteredCocoaFlags(m_keyCombo.flags);
        if (filtered != m_keyCombo.flags) {
            m_keyCombo.flags = filtered;
            if (m_keyCombo.code >= 0) {
                notifyDelegate();
                _saveKeyCombo();
            }
        }
    }
    redisplay();
}

// --- the combination ---

void KRRecorderCell::setKeyCombo(KeyCombo combo)
{
    m_keyCombo.code = combo.code;
    m_keyCombo.flags = _filteredCocoaFlags(combo.flags);
    m_hasKeyChars = false;
    notifyDelegate();
    _saveKeyCombo();
    redisplay();
}

QString KRRecorderCell::keyComboString() const
{
    if (_isEmpty())
        return {};
    return KRCocoaModifierGlyphs(m_keyCombo.flags) + KRKeyCodeString(m_keyCombo.code);
}

QString KRRecorderCell::displayedText() const
{
    return _isEmpty() ? KRLocalized("Click to record shortcut") : keyComboString();
}

QString KRRecorderCell::readableText() const
{
    return _isEmpty() ? displayedText() : KRCocoaComboReadableString(m_keyCombo.flags, m_keyCombo.code);
}

QString KRRecorderCell::keyChars() const
{
    return m_hasKeyChars ? m_keyChars : KRKeyCodeString(m_keyCombo.code);
}

QString KRRecorderCell::keyCharsIgnoringModifiers() const
{
    return m_hasKeyChars ? m_keyCharsIgnoringModifiers
                         : KRKeyCharacterForCocoaFlags(m_keyCombo.code, m_keyCombo.flags);
}

// --- responder and keys ---

bool KRRecorderCell::becomeFirstResponder()
{
    resetTrackingRects();
    redisplay();
    return true;
}

bool KRRecorderCell::resignFirstResponder()
{
    if (m_isRecording) {
        releaseKeyboard(); // at once, not at the end of the transition
        _endRecordingTransition();
    }
    resetTrackingRects();
    redisplay();
    return true;
}

bool KRRecorderCell::performKeyEquivalent(const platform::KeyEventInfo& event)
{
    const uint64_t F = _filteredCocoaFlags(event.modifierFlags);
    const bool C = m_cancelCharacterSet.contains(event.code);
    const bool V = C ? _validModifierFlags(event.modifierFlags) : _validModifierFlags(F);

    auto notHandled = [&] {
        // Only an idle cell starts recording: a second start would take a
        // second keyboard grab that the end never gives back.
        if (!m_isRecording && m_view && m_view->hasFocus() && event.characters.startsWith(u' ') &&
            isEnabled())
            _startRecordingTransition();
        return false;
    };
    auto end = [&] {
        m_recordingFlags = 0;
        _endRecordingTransition();
        resetTrackingRects();
        redisplay();
        return true;
    };

    if (!m_isRecording) {
        if (event.characters == QStringLiteral(" ")) {
            _startRecordingTransition();
            return true;
        }
        return notHandled();
    }
    if (!V && !C)
        return notHandled();
    if (C && !V)
        return end();
    if (C && V && m_allowsKeyOnly && (F & ~KF::Function) == 0 && !m_escapeKeysRecord)
        return end();

    // A key with no name could be neither shown nor refused by name: beep,
    // as for a key with no characters.
    if (event.charactersIgnoringModifiers.toUpper().isEmpty() || event.code < 0 ||
        KRKeyCodeString(event.code).isEmpty()) {
        QApplication::beep();
        emit beeped();
        return end();
    }
    platform::Error error;
    if (m_validator.isKeyCode(int64_t(uint16_t(event.code)), _filteredCocoaToCarbonFlags(F), &error)) {
        // The alert needs the keyboard and takes the focus for a while;
        // recording (and its grab) goes on after it.
        const bool regrab = m_keyboardGrabbed;
        releaseKeyboard();
        m_presentingAlert = true;
        if (alertPresenter()) {
            alertPresenter()(error);
        } else {
            auto alert = KRAdditions::alertWithNonRecoverableError(error);
            alert->setIcon(QMessageBox::Critical);
            alert->exec();
        }
        m_presentingAlert = false;
        if (regrab && m_isRecording && !takeKeyboard())
            return true;
        flagsChanged(currentFlags());
        return true;
    }
    m_keyCombo = KeyCombo{F, event.code};
    m_hasKeyChars = true;
    m_keyChars = event.characters;
    m_keyCharsIgnoringModifiers = event.charactersIgnoringModifiers;
    notifyDelegate();
    _saveKeyCombo();
    m_comboJustChanged = true;
    return end();
}

void KRRecorderCell::flagsChanged(uint64_t flags)
{
    if (!m_isRecording)
        return;
    m_recordingFlags = _filteredCocoaFlags(flags);
    redisplay();
}

// --- mouse ---

void KRRecorderCell::mousePressed(const QPointF& pos, const QRectF& frame)
{
    const QRectF b = m_isRecording ? _snapbackRectForFrame(frame) : _removeButtonRectForFrame(frame);
    if (!b.isNull() && b.contains(pos)) {
        m_mouseDown = true;
        m_mouseInside = true;
    }
    redisplay();
}

void KRRecorderCell::mouseDragged(const QPointF& pos, const QRectF& frame)
{
    const QRectF b = m_isRecording ? _snapbackRectForFrame(frame) : _removeButtonRectForFrame(frame);
    m_mouseInside = !b.isNull() && b.contains(pos);
    redisplay();
}

void KRRecorderCell::mouseReleased(const QPointF& pos, const QRectF& frame)
{
    const QRectF b = m_isRecording ? _snapbackRectForFrame(frame) : _removeButtonRectForFrame(frame);
    QRectF body = frame;
    if (!b.isNull())
        body.setWidth(frame.width() - b.width() - 4);
    m_mouseDown = false;
    const bool inside = !b.isNull() && b.contains(pos);
    m_mouseInside = inside;
    if (inside && m_isRecording) {
        _endRecordingTransition();
    } else if (inside) {
        setKeyCombo(KeyCombo{0, -1});
    } else if (body.contains(pos) && !m_isRecording && isEnabled()) {
        _startRecordingTransition();
    }
    if (isEnabled() && m_view)
        m_view->setFocus(Qt::MouseFocusReason);
    resetTrackingRects();
    redisplay();
}

void KRRecorderCell::mouseMoved(const QPointF& pos, const QRectF& frame)
{
    const QRectF b = m_isRecording ? _snapbackRectForFrame(frame) : _removeButtonRectForFrame(frame);
    const bool inside = !b.isNull() && b.contains(pos);
    if (inside == m_mouseInside)
        return;
    m_mouseInside = inside;
    redisplay();
}

void KRRecorderCell::mouseEntered()
{
    m_mouseInside = true;
    redisplay();
}

void KRRecorderCell::mouseExited()
{
    m_mouseInside = false;
    redisplay();
}

void KRRecorderCell::resetTrackingRects()
{
    if (!isEnabled() || !m_view)
        return;
    const QRectF b = m_isRecording ? _snapbackRectForFrame(bounds()) : _removeButtonRectForFrame(bounds());
    m_mouseInside = !b.isNull() && b.contains(currentMouseLocation());
}

// --- recording ---

void KRRecorderCell::_startRecording()
{
    if (m_isRecording)
        return;
    m_isRecording = true;
    m_recordingFlags = _filteredCocoaFlags(0);
    redisplay();
    // Our own global shortcut must be recorded, not act, whether or not the
    // keyboard is grabbed: typing the current one again is the natural way to
    // keep it. The desktop's shortcuts reach the recorder only through the
    // keyboard grab, which stops every passive grab.
    m_hotKeyPause = ZQHotKeyCenter::sharedHotKeyCenter().pauseGrabs();
    if (m_globalHotKeys && m_view && !m_keyboardGrabbed)
        takeKeyboard();
}

bool KRRecorderCell::takeKeyboard()
{
    if (!m_view)
        return false;
    // The server refuses the grab while another client holds the keyboard;
    // recording without it would let our own global shortcut act instead of
    // being recorded, so the recording ends and says why.
    xcb_connection_t* connection = platform::x11::connection();
    QWidget* window = m_view->window();
    if (connection && window->windowHandle() && !platform::x11::grabKeyboard(connection, window->winId())) {
        platform::log(QStringLiteral("Cannot record a shortcut: another application holds the keyboard"));
        _endRecording();
        resetTrackingRects();
        QApplication::beep();
        emit beeped();
        return false;
    }
    m_view->grabKeyboard(); // and Qt hands every key to the recorder
    m_keyboardGrabbed = true;
    return true;
}

void KRRecorderCell::releaseKeyboard()
{
    if (!m_keyboardGrabbed)
        return;
    if (m_view)
        m_view->releaseKeyboard();
    m_keyboardGrabbed = false;
}

void KRRecorderCell::_endRecording()
{
    m_tickTimer.stop();
    m_isAnimatingNow = false;
    m_isRecording = false;
    m_comboJustChanged = false;
    redisplay();
    releaseKeyboard();
    // Grabs the combination just recorded too: the delegate registered it
    // during the pause.
    m_hotKeyPause.end();
}

// --- autosave ---

void KRRecorderCell::_saveKeyCombo()
{
    if (m_autosaveName.isEmpty())
        return;
    QVariantMap d;
    d.insert(QStringLiteral("keyCode"), qint64(int16_t(m_keyCombo.code)));
    d.insert(QStringLiteral("modifierFlags"), qulonglong(m_keyCombo.flags));
    d.insert(QStringLiteral("modifiers"), qulonglong(KRCarbonFlagsFromCocoa(m_keyCombo.flags)));
    if (m_hasKeyChars) {
        d.insert(QStringLiteral("keyChars"), m_keyChars);
        d.insert(QStringLiteral("keyCharsIgnoringModifiers"), m_keyCharsIgnoringModifiers);
    }
    platform::UserDefaults::standard().set(autosaveKey(m_autosaveName), d);
}

void KRRecorderCell::_loadKeyCombo()
{
    if (m_autosaveName.isEmpty())
        return;
    const QVariantMap d = platform::UserDefaults::standard().dictionary(autosaveKey(m_autosaveName));
    // Nothing stored yet: keep what the cell has rather than invent the A key.
    if (!d.contains(QStringLiteral("keyCode")))
        return;
    // Values out of range or of the wrong kind read as the empty combination.
    QVariant flags = qulonglong(0);
    if (d.contains(QStringLiteral("modifierFlags"))) {
        flags = d.value(QStringLiteral("modifierFlags"));
    } else if (d.contains(QStringLiteral("modifiers"))) {
        const auto carbon = KRModifierFlagsFromValue(d.value(QStringLiteral("modifiers")));
        flags = carbon ? QVariant(qulonglong(KRCocoaFlagsFromCarbon(*carbon))) : QVariant();
    }
    const KeyCombo stored = KRKeyComboFromValues(d.value(QStringLiteral("keyCode")), flags);
    m_keyCombo = KeyCombo{_filteredCocoaFlags(stored.flags), stored.code};
    m_hasKeyChars = d.contains(QStringLiteral("keyChars"));
    if (m_hasKeyChars) {
        m_keyChars = d.value(QStringLiteral("keyChars")).toString();
        m_keyCharsIgnoringModifiers = d.value(QStringLiteral("keyCharsIgnoringModifiers")).toString();
    }
    notifyDelegate();
    redisplay();
}

// --- archive ---

QVariantMap KRRecorderCell::encodeWithCoder() const
{
    QVariantMap c;
    c.insert(QStringLiteral("autosaveName"), m_autosaveName);
    c.insert(QStringLiteral("keyComboCode"), qint64(int16_t(m_keyCombo.code)));
    c.insert(QStringLiteral("keyComboFlags"), qulonglong(m_keyCombo.flags));
    c.insert(QStringLiteral("allowedFlags"), qulonglong(m_allowedFlags));
    c.insert(QStringLiteral("requiredFlags"), qulonglong(m_requiredFlags));
    if (m_hasKeyChars) {
        c.insert(QStringLiteral("keyChars"), m_keyChars);
        c.insert(QStringLiteral("keyCharsIgnoringModifiers"), m_keyCharsIgnoringModifiers);
    }
    c.insert(QStringLiteral("allowsKeyOnly"), m_allowsKeyOnly);
    c.insert(QStringLiteral("escapeKeysRecord"), m_escapeKeysRecord);
    c.insert(QStringLiteral("isAnimating"), m_isAnimating);
    c.insert(QStringLiteral("style"), qint64(int16_t(m_style)));
    return c;
}

void KRRecorderCell::initWithCoder(const QVariantMap& c)
{
    m_autosaveName = c.value(QStringLiteral("autosaveName")).toString();
    m_keyCombo = KRKeyComboFromValues(c.value(QStringLiteral("keyComboCode"), -1),
                                      c.value(QStringLiteral("keyComboFlags"), qulonglong(0)));
    m_allowedFlags =
        KRModifierFlagsFromValue(c.value(QStringLiteral("allowedFlags"))).value_or(DefaultAllowedFlags);
    m_requiredFlags = KRModifierFlagsFromValue(c.value(QStringLiteral("requiredFlags"))).value_or(0);
    m_hasKeyChars = c.contains(QStringLiteral("keyChars"));
    m_keyChars = c.value(QStringLiteral("keyChars")).toString();
    m_keyCharsIgnoringModifiers = c.value(QStringLiteral("keyCharsIgnoringModifiers")).toString();
    m_allowsKeyOnly = c.value(QStringLiteral("allowsKeyOnly")).toBool();
    m_escapeKeysRecord = c.value(QStringLiteral("escapeKeysRecord")).toBool();
    m_isAnimating = c.value(QStringLiteral("isAnimating")).toBool();
    setStyle(int(c.value(QStringLiteral("style")).toLongLong()));
    m_allowedFlags |= KF::Function;
    _loadKeyCombo();
}

bool KRRecorderCell::shortcutValidatorIsKeyCodeAndFlagsTaken(KRValidator*, int64_t keyCode, uint64_t flags,
                                                             QString* reason)
{
    return m_delegate ? m_delegate->keyRecorderCellIsKeyCodeAndFlagsTaken(this, keyCode, flags, reason)
                      : false;
}
