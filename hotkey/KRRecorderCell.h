#pragma once
// The working part of the shortcut recorder: the recorded combination, the
// rules for its modifiers, the recording state machine, autosave and drawing.

#include "hotkey/KRValidator.h"
#include "hotkey/ZQHotKeyCenter.h"
#include "platform/x11/KeyMap.h"

#include <QColor>
#include <QObject>
#include <QPointer>
#include <QRectF>
#include <QSet>
#include <QTimer>
#include <QVariantMap>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <optional>

class QPainter;

// The recorder's key combination; {0, -1} is empty. (The original name began
// with an underscore and a capital, which C++ reserves.)
struct KeyCombo
{
    uint64_t flags = 0;
    int64_t code = -1;
    bool operator==(const KeyCombo&) const = default;
};
Q_DECLARE_METATYPE(KeyCombo)

// A combination from stored or bound values (autosave, archive, a binding).
// The key code must be a whole number from 0 to 32767 and the mask a whole
// number from 0 to 2^64 - 1; anything else (text, fractions, negatives, huge
// or non-finite numbers) gives the empty combination.
KeyCombo KRKeyComboFromValues(const QVariant& keyCode, const QVariant& modifierFlags);
// A stored modifier mask, or nothing when it is not a whole number in range.
std::optional<uint64_t> KRModifierFlagsFromValue(const QVariant& value);

class KRRecorderCell;

class KRRecorderCellDelegate
{
public:
    virtual ~KRRecorderCellDelegate() = default;
    virtual bool keyRecorderCellIsKeyCodeAndFlagsTaken(KRRecorderCell* cell, int64_t keyCode, uint64_t flags,
                                                       QString* reason)
    {
        (void)cell;
        (void)keyCode;
        (void)flags;
        (void)reason;
        return false;
    }
    virtual void keyRecorderCellKeyComboDidChange(KRRecorderCell* cell, KeyCombo combo)
    {
        (void)cell;
        (void)combo;
    }
};

class KRRecorderCell : public QObject, public KRValidatorDelegate
{
    Q_OBJECT
public:
    static constexpr uint64_t DefaultAllowedFlags = 0x9E0000;

    explicit KRRecorderCell(QObject* parent = nullptr);
    ~KRRecorderCell() override;

    // The view that shows the cell: redisplay, focus, keyboard grab.
    void setControlView(QWidget* view)
    {
        m_view = view;
        _createGradient();
    }
    QWidget* controlView() const { return m_view; }
    bool isEnabled() const { return m_view ? m_view->isEnabled() : true; }

    // Settings.
    uint64_t allowedFlags() const { return m_allowedFlags; }
    void setAllowedFlags(uint64_t flags);
    uint64_t requiredFlags() const { return m_requiredFlags; }
    void setRequiredFlags(uint64_t flags);
    bool allowsKeyOnly() const { return m_allowsKeyOnly; }
    void setAllowsKeyOnly(bool v) { m_allowsKeyOnly = v; }
    bool escapeKeysRecord() const { return m_escapeKeysRecord; }
    void setEscapeKeysRecord(bool v) { m_escapeKeysRecord = v; }
    void setAllowsKeyOnly(bool keyOnly, bool escapeKeysRecord)
    {
        m_allowsKeyOnly = keyOnly;
        m_escapeKeysRecord = escapeKeysRecord;
    }
    bool canCaptureGlobalHotKeys() const { return m_globalHotKeys; }
    void setCanCaptureGlobalHotKeys(bool v) { m_globalHotKeys = v; }
    bool animates() const { return m_isAnimating; }
    void setAnimates(bool v) { m_isAnimating = v; }
    int style() const { return m_style; }
    void setStyle(int style) { m_style = style == 1 ? 1 : 0; }
    static bool styleSupportsAnimation(int style) { return style == 1; }
    QString autosaveName() const { return m_autosaveName; }
    void setAutosaveName(const QString& name) { m_autosaveName = name; }
    KRRecorderCellDelegate* delegate() const { return m_delegate; }
    void setDelegate(KRRecorderCellDelegate* d) { m_delegate = d; }
    KRValidator& validator() { return m_validator; }

    // The combination.
    KeyCombo keyCombo() const { return m_keyCombo; }
    void setKeyCombo(KeyCombo combo);
    QString keyComboString() const;
    // What the cell shows when it is not recording: the glyphs of the
    // combination, or a prompt when there is none.
    QString displayedText() const;
    // The same for a screen reader, in words: "Command + Option + K".
    QString readableText() const;
    QString keyChars() const;
    QString keyCharsIgnoringModifiers() const;
    bool hasKeyChars() const { return m_hasKeyChars; }

    // Entry points from the control.
    bool becomeFirstResponder();
    bool resignFirstResponder();
    bool performKeyEquivalent(const platform::KeyEventInfo& event);
    void flagsChanged(uint64_t flags);
    void mousePressed(const QPointF& pos, const QRectF& frame);
    void mouseDragged(const QPointF& pos, const QRectF& frame);
    void mouseReleased(const QPointF& pos, const QRectF& frame);
    void mouseMoved(const QPointF& pos, const QRectF& frame);
    void mouseEntered();
    void mouseExited();
    void resetTrackingRects();

    // State.
    bool isRecording() const { return m_isRecording; }
    uint64_t recordingFlags() const { return m_recordingFlags; }
    bool mouseInsideTrackingArea() const { return m_mouseInside; }
    bool mouseDown() const { return m_mouseDown; }
    bool comboJustChanged() const { return m_comboJustChanged; }
    bool isAnimatingNow() const { return m_isAnimatingNow; }
    bool isAnimatingTowardsRecording() const { return m_towardsRecording; }
    double transitionProgress() const { return m_transitionProgress; }
    bool holdsKeyboardGrab() const { return m_keyboardGrabbed; }
    // A refusal alert is up: it borrows the focus, and recording goes on after it.
    bool isPresentingAlert() const { return m_presentingAlert; }
    QColor recordingGradientStart() const { return m_gradientStart; }
    QColor recordingGradientEnd() const { return m_gradientEnd; }

    // Rules.
    uint64_t _filteredCocoaFlags(uint64_t flags) const;
    bool _validModifierFlags(uint64_t flags) const;
    uint64_t _filteredCocoaToCarbonFlags(uint64_t flags) const;
    bool _isEmpty() const;
    QRectF _removeButtonRectForFrame(const QRectF& frame) const;
    QRectF _snapbackRectForFrame(const QRectF& frame) const;

    // Recording and its transition.
    void _startRecording();
    void _endRecording();
    void _startRecordingTransition();
    void _endRecordingTransition();
    void _transitionTick();
    bool _supportsAnimation() const { return styleSupportsAnimation(m_style); }
    bool _effectiveIsAnimating() const { return m_isAnimating && _supportsAnimation(); }
    void _createGradient();

    void drawWithFrame(QPainter& painter, const QRectF& frame);

    // Autosave under "KeyRecorder <name>".
    void _saveKeyCombo();
    void _loadKeyCombo();

    // Keyed archive.
    QVariantMap encodeWithCoder() const;
    void initWithCoder(const QVariantMap& coder);

    // How a refusal is shown (default: a modal critical alert).
    static void setAlertPresenter(std::function<void(const platform::Error&)> presenter);
    // The modifiers held now (default: the keyboard state Qt knows).
    static void setCurrentFlagsProvider(std::function<uint64_t()> provider);

    // KRValidatorDelegate
    bool shortcutValidatorIsKeyCodeAndFlagsTaken(KRValidator* validator, int64_t keyCode, uint64_t flags,
                                                 QString* reason) override;

signals:
    void beeped();

private:
    void redisplay();
    void notifyDelegate();
    void flagRulesChanged();
    uint64_t currentFlags() const;
    QPointF currentMouseLocation() const;
    QRectF bounds() const;
    void drawStyle0(QPainter& p, const QRectF& frame);
    void drawStyle1(QPainter& p, const QRectF& frame);
    QString recordingText() const;
    QString removeImageName() const;
    bool takeKeyboard();
    void releaseKeyboard();

    KeyCombo m_keyCombo;
    bool m_hasKeyChars = false;
    QString m_keyChars;
    QString m_keyCharsIgnoringModifiers;
    uint64_t m_allowedFlags = DefaultAllowedFlags;
    uint64_t m_requiredFlags = 0;
    uint64_t m_recordingFlags = 0;
    bool m_allowsKeyOnly = false;
    bool m_escapeKeysRecord = false;
    QSet<int64_t> m_cancelCharacterSet{53, 51, 117};
    bool m_isRecording = false;
    bool m_mouseInside = false;
    bool m_mouseDown = false;
    bool m_comboJustChanged = false;
    bool m_isAnimating = false;
    int m_style = 0;
    bool m_isAnimatingNow = false;
    bool m_towardsRecording = false;
    double m_transitionProgress = 0;
    QColor m_gradientStart, m_gradientEnd;
    QString m_autosaveName;
    KRValidator m_validator;
    KRRecorderCellDelegate* m_delegate = nullptr; // not owned
    bool m_globalHotKeys = false;
    bool m_keyboardGrabbed = false;
    bool m_presentingAlert = false;
    ZQHotKeyCenter::GrabPause m_hotKeyPause;
    QPointer<QWidget> m_view;
    QTimer m_tickTimer;
};
