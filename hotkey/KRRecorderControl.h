#pragma once
// The shortcut recorder as a widget: a thin view around one KRRecorderCell.

#include "hotkey/KRRecorderCell.h"
#include "hotkey/ValueTransformer.h"

#include <QHash>
#include <QPointer>
#include <QVariant>
#include <QWidget>
#include <memory>

class KRRecorderControl;

class KRRecorderDelegate
{
public:
    virtual ~KRRecorderDelegate() = default;
    virtual bool keyRecorderIsKeyCodeAndFlagsTaken(KRRecorderControl* recorder, int64_t keyCode,
                                                   uint64_t flags, QString* reason)
    {
        (void)recorder;
        (void)keyCode;
        (void)flags;
        (void)reason;
        return false;
    }
    virtual void keyRecorderKeyComboDidChange(KRRecorderControl* recorder, KeyCombo combo)
    {
        (void)recorder;
        (void)combo;
    }
};

class KRRecorderControl : public QWidget, public KRRecorderCellDelegate
{
    Q_OBJECT
    // {"characters", "keyCode", "modifierFlags"}, or null for an empty or key-only combination.
    Q_PROPERTY(QVariant value READ objectValue WRITE setObjectValue NOTIFY valueChanged)
public:
    static constexpr int FixedHeight = 22;
    static constexpr int MinimumWidth = 50;

    explicit KRRecorderControl(QWidget* parent = nullptr);
    ~KRRecorderControl() override;

    KRRecorderCell* cell() const { return m_cell.get(); }
    KRRecorderDelegate* delegate() const { return m_delegate; }
    void setDelegate(KRRecorderDelegate* delegate) { m_delegate = delegate; }

    // Forwarded settings.
    bool animates() const { return m_cell->animates(); }
    void setAnimates(bool v) { m_cell->setAnimates(v); }
    int style() const { return m_cell->style(); }
    void setStyle(int s)
    {
        m_cell->setStyle(s);
        update();
    }
    uint64_t allowedFlags() const { return m_cell->allowedFlags(); }
    void setAllowedFlags(uint64_t f) { m_cell->setAllowedFlags(f); }
    uint64_t requiredFlags() const { return m_cell->requiredFlags(); }
    void setRequiredFlags(uint64_t f) { m_cell->setRequiredFlags(f); }
    bool allowsKeyOnly() const { return m_cell->allowsKeyOnly(); }
    // Also clears escapeKeysRecord.
    void setAllowsKeyOnly(bool v) { m_cell->setAllowsKeyOnly(v, false); }
    void setAllowsKeyOnly(bool v, bool escapeKeysRecord) { m_cell->setAllowsKeyOnly(v, escapeKeysRecord); }
    bool escapeKeysRecord() const { return m_cell->escapeKeysRecord(); }
    void setEscapeKeysRecord(bool v) { m_cell->setEscapeKeysRecord(v); }
    bool canCaptureGlobalHotKeys() const { return m_cell->canCaptureGlobalHotKeys(); }
    void setCanCaptureGlobalHotKeys(bool v) { m_cell->setCanCaptureGlobalHotKeys(v); }
    KeyCombo keyCombo() const { return m_cell->keyCombo(); }
    void setKeyCombo(KeyCombo c) { m_cell->setKeyCombo(c); }
    QString autosaveName() const { return m_cell->autosaveName(); }
    void setAutosaveName(const QString& n) { m_cell->setAutosaveName(n); }
    QString keyComboString() const { return m_cell->keyComboString(); }
    QString keyChars() const { return m_cell->keyChars(); }
    QString keyCharsIgnoringModifiers() const { return m_cell->keyCharsIgnoringModifiers(); }

    static uint64_t cocoaToCarbonFlags(uint64_t cocoaFlags);
    static uint64_t carbonToCocoaFlags(uint64_t carbonFlags);

    // Height fixed at 22, width at least 50.
    void setFrame(const QRect& frame);
    void setFrameSize(const QSize& size);
    QSize sizeHint() const override { return QSize(200, FixedHeight); }
    QSize minimumSizeHint() const override { return QSize(MinimumWidth, FixedHeight); }

    QVariant objectValue() const;
    void setObjectValue(const QVariant& value);

    // Writes each new combination to observedObject's property observedKeyPath.
    struct ValueBinding
    {
        QPointer<QObject> observedObject;
        QByteArray observedKeyPath;
        std::shared_ptr<ValueTransformer> transformer;
        QString transformerName;
    };
    void bind(const QString& binding, const ValueBinding& info);
    // The type a binding carries: a dictionary for "value".
    static QMetaType valueClassForBinding(const QString& binding)
    {
        return binding == QLatin1String("value") ? QMetaType::fromType<QVariantMap>() : QMetaType();
    }
    void unbind(const QString& binding);

    // KRRecorderCellDelegate
    bool keyRecorderCellIsKeyCodeAndFlagsTaken(KRRecorderCell* cell, int64_t keyCode, uint64_t flags,
                                               QString* reason) override;
    void keyRecorderCellKeyComboDidChange(KRRecorderCell* cell, KeyCombo combo) override;

signals:
    void valueChanged(const QVariant& value);

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // Screen readers read the name again: the combination or its key names changed.
    void announceNameChange();
    void modifierKeyEvent(QKeyEvent* event, bool pressed);

    std::unique_ptr<KRRecorderCell> m_cell;
    KRRecorderDelegate* m_delegate = nullptr; // not owned
    QHash<QString, ValueBinding> m_bindings;
};
