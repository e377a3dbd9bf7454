#pragma once
// Key codes and modifier masks as the user sees them: "⌥⌘K", "Command + K".

#include "hotkey/ValueTransformer.h"

#include <QHash>
#include <QString>
#include <cstdint>

// Key code → its text (special keys fixed, the rest from the current layout);
// text → key code through a map rebuilt when the layout changes.
class KRKeyCodeTransformer : public ValueTransformer
{
public:
    KRKeyCodeTransformer();
    QVariant transformedValue(const QVariant& value) const override;
    QVariant reverseTransformedValue(const QVariant& value) const override;
    bool allowsReverseTransformation() const override { return true; }

    static void regenerateStringToKeyCodeMapping();
    static const QHash<int, QString>& specialKeyNames();
    static bool isPadKeyCode(int code);
};

// A null string means "no text".
QString KRKeyCodeString(int64_t keyCode);
QString KRCarbonModifierGlyphs(uint64_t carbonFlags);
QString KRCocoaModifierGlyphs(uint64_t cocoaFlags);
QString KRCarbonComboGlyphs(uint64_t carbonFlags, int64_t keyCode);
QString KRCarbonComboReadableString(uint64_t carbonFlags, int64_t keyCode);
QString KRCocoaComboReadableString(uint64_t cocoaFlags, int64_t keyCode);
uint64_t KRCocoaFlagsFromCarbon(uint64_t carbonFlags);
uint64_t KRCarbonFlagsFromCocoa(uint64_t cocoaFlags);
QString KRKeyCharacterForCocoaFlags(int64_t keyCode, uint64_t cocoaFlags);

// "%@" formats of the "KeyRecorder" strings, filled in order.
QString KRFormat(const QString& format, const QStringList& arguments);
QString KRLocalized(const char* text);

// Whether a stored combination names a real key: a code with text and at
// least one modifier or the function bit. A missing setting reads as
// {flags 0, code 0}, the plain A key, which must never be grabbed system-wide.
bool KRKeyComboNamesKey(uint64_t cocoaFlags, int64_t keyCode);
