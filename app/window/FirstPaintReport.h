#pragma once

class QWidget;

// With QUILLARY_REPORT_FIRST_PAINT set in the environment, the first paint of
// `widget` prints "first paint, resident N MB" on stdout once it is done and
// ends the event loop: start-up timing for the benchmarks. With
// QUILLARY_REPORT_RESIDENT_LATER_MS set too, the loop runs that many
// milliseconds longer and "resident later N MB" follows. Does nothing
// otherwise.
void reportFirstPaintIfAsked(QWidget* widget);

// Resident memory of a process in MB (this one when `pid` is 0), or -1 when
// it cannot be read.
double residentMB(long long pid = 0);
