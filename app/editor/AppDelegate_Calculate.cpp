// Calculate: the arithmetic selected in the editor is replaced by its value,
// read and written with the locale's separators.
#include "app/QuillaryAppDelegate.h"
#include "app/window/NoteWindow.h"

#include "calculator/ZQMathEvaluator.h"

#include <QLocale>
#include <QTextCursor>
#include <QTextDocument>

#include <cmath>
#include <vector>

namespace {

bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// Whether the "(" at `open` follows a name, which makes it a function call
// (spaces may stand between them).
bool opensFunctionCall(const QString& s, qsizetype open)
{
    qsizetype end = open;
    while (end > 0 && s.at(end - 1).isSpace())
        --end;
    qsizetype start = end;
    while (start > 0 && (s.at(start - 1).isLetterOrNumber() || s.at(start - 1) == QLatin1Char('_')))
        --start;
    return start < end && !s.at(start).isDigit();
}

// A digit before the separator, exactly three digits after it and no
// further digit: "1,234" but neither "max(1,2)" nor "1,2345".
bool inGroupingPosition(const QString& s, qsizetype at, qsizetype length)
{
    const qsizetype after = at + length;
    if (at == 0 || !isDigit(s.at(at - 1)) || after + 3 > s.size())
        return false;
    for (qsizetype i = after; i < after + 3; ++i) {
        if (!isDigit(s.at(i)))
            return false;
    }
    return after + 3 == s.size() || !isDigit(s.at(after + 3));
}

bool betweenDigits(const QString& s, qsizetype at, qsizetype length)
{
    return at > 0 && isDigit(s.at(at - 1)) && at + length < s.size() && isDigit(s.at(at + length));
}

bool matchesAt(const QString& s, qsizetype at, const QString& separator)
{
    return !separator.isEmpty() && QStringView(s).mid(at).startsWith(separator);
}

// The expression with the locale's grouping taken out and its decimal
// separator made ".". Only separators where a number can have them count: a
// comma between a function's arguments (the calculator's own separator)
// stays what it is, in every locale, so "max(1,2)" keeps two arguments.
QString cleanedExpression(const QString& s, const QLocale& locale)
{
    QString group = locale.groupSeparator();
    // Locales that group with a no-break space are typed with a plain one.
    QString typedGroup = group;
    if (group == QStringView(u"\u00A0") || group == QStringView(u"\u202F"))
        typedGroup = QStringLiteral(" ");
    const QString decimal = locale.decimalPoint();
    const QString minus = locale.negativeSign();

    QString cleaned;
    cleaned.reserve(s.size());
    std::vector<bool> calls; // per open parenthesis: does it hold arguments?
    for (qsizetype i = 0; i < s.size(); ++i) {
        const QChar c = s.at(i);
        if (c == QLatin1Char('(')) {
            calls.push_back(opensFunctionCall(s, i));
        } else if (c == QLatin1Char(')')) {
            if (!calls.empty())
                calls.pop_back();
        } else if (!(c == QLatin1Char(',') && !calls.empty() && calls.back())) {
            bool skipped = false;
            for (const QString& separator : {typedGroup, group}) {
                if (matchesAt(s, i, separator) && inGroupingPosition(s, i, separator.size())) {
                    i += separator.size() - 1;
                    skipped = true;
                    break;
                }
            }
            if (skipped)
                continue;
            if (matchesAt(s, i, decimal) && betweenDigits(s, i, decimal.size())) {
                cleaned += QLatin1Char('.');
                i += decimal.size() - 1;
                continue;
            }
            if (minus != QStringView(u"-") && matchesAt(s, i, minus)) {
                cleaned += QLatin1Char('-');
                i += minus.size() - 1;
                continue;
            }
        }
        cleaned += c;
    }
    return cleaned;
}

} // namespace

std::optional<ZQNumber> QuillaryAppDelegate::calculateString(const QString& string, const QLocale& locale)
{
    if (string.isEmpty() || string.size() > MaximumCalculationLength)
        return std::nullopt;
    const std::string expression = cleanedExpression(string, locale).toStdString();
    // With an error place the calculator fails silently: validation asks at
    // every menu opening, and most selections are not math.
    std::optional<ZQError> error;
    std::optional<ZQNumber> number =
        ZQMathParsing::numberByEvaluatingStringWithSubstitutions(expression, nullptr, &error);
    if (!number)
        return std::nullopt;
    // An infinity or NaN written into the note would help nobody.
    if (number->kind() == ZQNumber::Kind::Double && !std::isfinite(number->doubleValue()))
        return std::nullopt;
    if (number->kind() == ZQNumber::Kind::Decimal && number->isNaN())
        return std::nullopt;
    return number;
}

QString QuillaryAppDelegate::formattedCalculation(const ZQNumber& number, const QLocale& locale)
{
    QString text;
    switch (number.kind()) {
    case ZQNumber::Kind::Decimal: {
        // A decimal rounds its own digits, half to even.
        ZQDecimal rounded;
        ZQDecimalRound(&rounded, number.decimalValue(), 10, ZQRoundingMode::Bankers);
        if (rounded.isNaN())
            return {};
        text = QString::fromStdString(rounded.toString());
        break;
    }
    case ZQNumber::Kind::Int64:
        text = QString::number(number.integerValue());
        break;
    case ZQNumber::Kind::UInt64:
        text = QString::number(number.unsignedIntegerValue());
        break;
    case ZQNumber::Kind::Double:
        if (!std::isfinite(number.doubleValue()))
            return {};
        text = QString::number(number.doubleValue(), 'f', 10);
        break;
    }
    if (text.contains(QLatin1Char('.'))) {
        while (text.endsWith(QLatin1Char('0')))
            text.chop(1);
        if (text.endsWith(QLatin1Char('.')))
            text.chop(1);
    }
    if (text == QLatin1String("-0"))
        text = QStringLiteral("0");
    text.replace(QLatin1Char('.'), locale.decimalPoint());
    if (text.startsWith(QLatin1Char('-')))
        text.replace(0, 1, locale.negativeSign());
    return text;
}

QString QuillaryAppDelegate::selectedCalculationText() const
{
    QVRLinkTextView* editor = textView();
    if (!editor || editor->isReadOnly() || !detailShowing())
        return {};
    const QTextCursor cursor = editor->textCursor();
    // A long selection is not math; its text is not even taken out.
    if (!cursor.hasSelection() || cursor.selectionEnd() - cursor.selectionStart() > MaximumCalculationLength)
        return {};
    QString text = editor->exactText(cursor.selectionStart(), cursor.selectionEnd());
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    for (QChar separator : {QChar(u'\r'), QChar(QChar::ParagraphSeparator), QChar(QChar::LineSeparator)})
        text.replace(separator, QLatin1Char('\n'));
    return text;
}

bool QuillaryAppDelegate::selectionLooksLikeMath()
{
    const QString text = selectedCalculationText();
    return !text.isEmpty() && calculateString(text, QLocale()).has_value();
}

void QuillaryAppDelegate::calculateSelection()
{
    saveCurrentNote();
    const QString text = selectedCalculationText();
    const std::optional<ZQNumber> number = calculateString(text, QLocale());
    if (!number)
        return;
    const QString result = formattedCalculation(*number, QLocale());
    if (result.isEmpty())
        return;
    QVRLinkTextView* editor = textView();
    QTextCursor cursor = editor->textCursor();
    // One edit, however many lines the expression took: a single undo step
    // gives it back.
    editor->insertExactText(cursor, result);
    editor->setTextCursor(cursor);
    setNoteNeedsSaving(true);
}
