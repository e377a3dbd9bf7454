#include "hotkey/KRRecorderControl.h"

#include "hotkey/KRKeyCodeTransformer.h"
#include "platform/core/Log.h"
#include "platform/core/Variant.h"
#include "platform/x11/KeyboardLayout.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QKeyEvent>
#include <QPainter>

namespace KF = platform::KeyFlags;

namespace {
const char* const kMethod = "-[KRRecorderControl keyRecorderCell:keyComboDidChange:]";

Qt::KeyboardModifier modifierOfKey(int key)
{
    switch (key) {
    case Qt::Key_Shift:
        return Qt::ShiftModifier;
    case Qt::Key_Control:
        return Qt::ControlModifier;
    case Qt::Key_Alt:
        return Qt::AltModifier;
    case Qt::Key_Meta:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
        return Qt::MetaModifier;
    default:
        return Qt::NoModifier;
    }
}

// A screen reader hears the recorder as a button named by its combination in
// words (the drawn glyphs read badly), and what recording asks for while it
// records. A name the application sets explicitly still wins.
class RecorderAccessible : public QAccessibleWidget
{
public:
    explicit RecorderAccessible(KRRecorderControl* control) : QAccessibleWidget(control, QAccessible::Button)
    {
    }

    QString text(QAccessible::Text t) const override
    {
        const auto* control = static_cast<const KRRecorderControl*>(widget());
        if (t == QAccessible::Name && control->accessibleName().isEmpty())
            return control->cell()->readableText();
        if (t == QAccessible::Description && control->accessibleDescription().isEmpty() &&
            control->cell()->isRecording())
            return KRLocalized("Type shortcut");
        return QAccessibleWidget::text(t);
    }
};

QAccessibleInterface* recorderAccessibleFactory(const QString& className, QObject* object)
{
    if (className == QLatin1String("KRRecorderControl") && object && object->isWidgetType())
        return new RecorderAccessible(static_cast<KRRecorderControl*>(object));
    return nullptr;
}

} // namespace

KRRecorderControl::KRRecorderControl(QWidget* parent)
    : QWidget(parent), m_cell(std::make_unique<KRRecorderCell>())
{
    m_cell->setControlView(this);
    m_cell->setDelegate(this);
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    setAttribute(Qt::WA_InputMethodEnabled, false);
    setFixedHeight(FixedHeight);
    setMinimumWidth(MinimumWidth);
    resize(sizeHint());
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(recorderAccessibleFactory);
        return true;
    }();
    (void)factoryInstalled;
    // Key names follow the layout, and so does what a screen reader says.
    connect(static_cast<platform::KeyboardLayoutNotifier*>(platform::KeyboardLayout::notifier()),
            &platform::KeyboardLayoutNotifier::changed, this, &KRRecorderControl::announceNameChange);
}

KRRecorderControl::~KRRecorderControl()
{
    // The cell ends any recording (and its keyboard grab) before the view goes.
    m_cell->setDelegate(nullptr);
    m_cell.reset();
}

uint64_t KRRecorderControl::cocoaToCarbonFlags(uint64_t f)
{
    return KRCarbonFlagsFromCocoa(f);
}
uint64_t KRRecorderControl::carbonToCocoaFlags(uint64_t f)
{
    return KRCocoaFlagsFromCarbon(f);
}

void KRRecorderControl::setFrame(const QRect& frame)
{
    setGeometry(QRect(frame.topLeft(), QSize(std::max(frame.width(), MinimumWidth), FixedHeight)));
}

void KRRecorderControl::setFrameSize(const QSize& size)
{
    resize(std::max(size.width(), MinimumWidth), FixedHeight);
}

QVariant KRRecorderControl::objectValue() const
{
    const KeyCombo c = m_cell->keyCombo();
    if (c.code == -1 || c.flags == 0)
        return {};
    QVariantMap d;
    d.insert(QStringLiteral("characters"), m_cell->keyCharsIgnoringModifiers());
    d.insert(QStringLiteral("keyCode"), qint64(c.code));
    d.insert(QStringLiteral("modifierFlags"), qulonglong(c.flags));
    return d;
}

void KRRecorderControl::setObjectValue(const QVariant& value)
{
    if (value.typeId() == QMetaType::QVariantMap) {
        const QVariantMap d = value.toMap();
        const QVariant code = d.value(QStringLiteral("keyCode"));
        const QVariant flags = d.value(QStringLiteral("modifierFlags"));
        if (platform::isNumberOrBool(code) && platform::isNumberOrBool(flags)) {
            setKeyCombo(KRKeyComboFromValues(code, flags));
            return;
        }
    }
    setKeyCombo(KeyCombo{0, -1});
}

void KRRecorderControl::bind(const QString& binding, const ValueBinding& info)
{
    m_bindings.insert(binding, info);
}

void KRRecorderControl::unbind(const QString& binding)
{
    m_bindings.remove(binding);
}

bool KRRecorderControl::keyRecorderCellIsKeyCodeAndFlagsTaken(KRRecorderCell*, int64_t keyCode,
                                                              uint64_t flags, QString* reason)
{
    return m_delegate ? m_delegate->keyRecorderIsKeyCodeAndFlagsTaken(this, keyCode, flags, reason) : false;
}

void KRRecorderControl::announceNameChange()
{
    QAccessibleEvent event(this, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&event);
}

void KRRecorderControl::keyRecorderCellKeyComboDidChange(KRRecorderCell*, KeyCombo combo)
{
    announceNameChange();
    if (m_delegate)
        m_delegate->keyRecorderKeyComboDidChange(this, combo);
    QVariant value = objectValue();
    emit valueChanged(value);
    auto it = m_bindings.constFind(QStringLiteral("value"));
    if (it == m_bindings.constEnd())
        return;
    std::shared_ptr<ValueTransformer> transformer = it->transformer;
    if (!transformer && !it->transformerName.isEmpty())
        transformer = ValueTransformer::valueTransformerForName(it->transformerName);
    if (transformer) {
        if (transformer->allowsReverseTransformation())
            value = transformer->reverseTransformedValue(value);
        else
            platform::log(QStringLiteral("WARNING: value has value transformer, but it doesn't allow reverse "
                                         "transformations in %1")
                              .arg(QLatin1String(kMethod)));
    }
    if (!it->observedObject) {
        platform::log(QStringLiteral("ERROR: NSObservedObjectKey was nil for value binding in %1")
                          .arg(QLatin1String(kMethod)));
        return;
    }
    if (it->observedKeyPath.isEmpty()) {
        platform::log(QStringLiteral("ERROR: NSObservedKeyPathKey was nil for value binding in %1")
                          .arg(QLatin1String(kMethod)));
        return;
    }
    it->observedObject->setProperty(it->observedKeyPath.constData(), value);
}

bool KRRecorderControl::event(QEvent* e)
{
    if (e->type() == QEvent::ShortcutOverride && hasFocus()) {
        // Keys the recorder wants must not fire menu shortcuts first:
        // recording Ctrl+N must not open a new note.
        auto* ke = static_cast<QKeyEvent*>(e);
        if (m_cell->isRecording() || ke->key() == Qt::Key_Space) {
            e->accept();
            return true;
        }
    }
    if (e->type() == QEvent::KeyPress && m_cell->isRecording()) {
        auto* ke = static_cast<QKeyEvent*>(e);
        if (ke->key() == Qt::Key_Tab || ke->key() == Qt::Key_Backtab) {
            keyPressEvent(ke);
            return true;
        }
    }
    return QWidget::event(e);
}

void KRRecorderControl::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    m_cell->drawWithFrame(p, QRectF(rect()));
}

void KRRecorderControl::modifierKeyEvent(QKeyEvent* event, bool pressed)
{
    Qt::KeyboardModifiers mods = event->modifiers();
    const Qt::KeyboardModifier own = modifierOfKey(event->key());
    if (pressed)
        mods |= own;
    else
        mods &= ~Qt::KeyboardModifiers(own);
    m_cell->flagsChanged(platform::KeyMap::flagsFromQt(mods));
}

void KRRecorderControl::keyPressEvent(QKeyEvent* event)
{
    if (platform::isModifierQtKey(event->key())) {
        modifierKeyEvent(event, true);
        return;
    }
    const platform::KeyEventInfo info =
        platform::KeyMap::fromKeyEvent(*event, platform::KeyboardLayout::current());
    if (!m_cell->performKeyEquivalent(info))
        QWidget::keyPressEvent(event);
}

void KRRecorderControl::keyReleaseEvent(QKeyEvent* event)
{
    if (platform::isModifierQtKey(event->key())) {
        modifierKeyEvent(event, false);
        return;
    }
    QWidget::keyReleaseEvent(event);
}

void KRRecorderControl::focusInEvent(QFocusEvent*)
{
    if (m_cell->becomeFirstResponder())
        update();
}

void KRRecorderControl::focusOutEvent(QFocusEvent*)
{
    // The refusal alert gives the focus back when dismissed. Any other loss of
    // focus (another field clicked, the window left) ends recording and so
    // releases the keyboard.
    if (m_cell->isPresentingAlert())
        return;
    if (m_cell->resignFirstResponder())
        update();
}

void KRRecorderControl::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    m_cell->mousePressed(event->position(), QRectF(rect()));
}

void KRRecorderControl::mouseMoveEvent(QMouseEvent* event)
{
    if (event->buttons() & Qt::LeftButton)
        m_cell->mouseDragged(event->position(), QRectF(rect()));
    else
        m_cell->mouseMoved(event->position(), QRectF(rect()));
}

void KRRecorderControl::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return QWidget::mouseReleaseEvent(event);
    m_cell->mouseReleased(event->position(), QRectF(rect()));
}

void KRRecorderControl::leaveEvent(QEvent*)
{
    if (m_cell->mouseInsideTrackingArea())
        m_cell->mouseExited();
}

void KRRecorderControl::resizeEvent(QResizeEvent*)
{
    m_cell->resetTrackingRects();
}

void KRRecorderControl::showEvent(QShowEvent*)
{
    m_cell->resetTrackingRects();
}

void KRRecorderControl::hideEvent(QHideEvent*)
{
    // A hidden recorder must not keep the keyboard.
    if (m_cell->isRecording() || m_cell->isAnimatingNow())
        m_cell->_endRecording();
}

void KRRecorderControl::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::PaletteChange)
        m_cell->_createGradient();
    QWidget::changeEvent(event);
}
