#pragma once

class QWidget;

// With QUILLARY_REPORT_FIRST_PAINT set in the environment, the first paint of
// `widget` prints "first paint, resident N MB" on stdout once it is done and
// ends the event loop: start-up timing for the benchmarks. Does nothing
// otherwise.
void reportFirstPaintIfAsked(QWidget* widget);
