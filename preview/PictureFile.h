#pragma once
// The map's picture written as a PNG, filtered and deflated on every core: a picture of 8192
// pixels a side took seconds to write on one, as long as drawing it on two.

#include <QString>

class QImage;
class QIODevice;

// Writes `picture`, opaque throughout (its alpha is not written), as an 8-bit RGB PNG to
// `device`, on `threads` threads (0: as many as the machine has). The rows are deflated in
// strips, each ended on a byte boundary, that join into one stream; at most a few strips per
// thread are held at once. False, with `error` (the device's reason), when a write fails.
bool writeOpaquePng(const QImage &picture, QIODevice &device, QString &error, int threads = 0);
