#include "app/window/NSColorAdditions.h"

namespace NSColorAdditions {

QColor quorvaneBlueColor()
{
    return QColor::fromRgbF(0.173f, 0.694f, 0.745f, 1.0f);
}
QColor paperBackgroundColor()
{
    return QColor::fromRgbF(0.921f, 0.909f, 0.835f, 1.0f);
}
QColor paperSelectionColor()
{
    return QColor::fromRgbF(0.873f, 0.858f, 0.738f, 1.0f);
}
QColor darkNoteTextColor()
{
    return QColor::fromRgbF(0.0f, 0.0f, 0.0f, 1.0f);
}
QColor darkerNoteTextColor()
{
    return QColor::fromRgbF(0.0f, 0.0f, 0.0f, 0.9f);
}
QColor archivedNoteTextColor()
{
    return QColor::fromRgbF(0.298f, 0.267f, 0.18f, 0.8f);
}
QColor linkedNoteTextColor()
{
    return QColor::fromRgbF(0.251f, 0.333f, 0.361f, 0.9f);
}
QColor lightNoteTextColor()
{
    return QColor::fromRgbF(0.302f, 0.247f, 0.122f, 0.8f);
}
QColor lightNoteTextHighlightedColor()
{
    return QColor::fromRgbF(0.298f, 0.267f, 0.18f, 1.0f);
}
QColor lightNoteTextShadowColor()
{
    return QColor::fromRgbF(1.0f, 1.0f, 1.0f, 0.4f);
}
QColor highlightedNoteTextColor()
{
    return QColor::fromRgbF(0.386f, 0.338f, 0.221f, 0.25f);
}
QColor searchPlaceholderTextColor()
{
    return QColor::fromRgbF(0.302f, 0.247f, 0.122f, 0.5f);
}

} // namespace NSColorAdditions
