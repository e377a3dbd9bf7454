#pragma once

#include <QColor>

// The application's fixed palette. Every view takes its colours from here by
// name; none is configurable.
namespace NSColorAdditions {

QColor quorvaneBlueColor();
QColor paperBackgroundColor();
QColor paperSelectionColor();
QColor darkNoteTextColor();
QColor darkerNoteTextColor();
QColor archivedNoteTextColor();
QColor linkedNoteTextColor();
QColor lightNoteTextColor();
QColor lightNoteTextHighlightedColor();
QColor lightNoteTextShadowColor();
QColor highlightedNoteTextColor();
QColor searchPlaceholderTextColor();

} // namespace NSColorAdditions
