#pragma once
// Reading a file in pieces, to copy or to hash it: the one place that does it, for staging
// and delivery alike.

#include "platform/Platform.h"

#include <QString>

#include <functional>

class QFile;
class QIODevice;
class Sha1;

// Copies what is left to read of `in` to `out` in pieces of 1 MiB, feeding each to `hash` when
// given; `keepGoing`, when given, is asked before each piece and may stop the copy. False, with
// `error` naming the cause as the system gives it ("No space left on device"), otherwise.
bool copyAll(QIODevice &in, QIODevice &out, QString &error, Sha1 *hash = nullptr,
             const std::function<bool()> &keepGoing = {});

// copyAll() into the new file `target` (which must not exist yet), feeding `hash` when given.
// On failure, a stop included, the partial file is removed; a failure to write names `target`.
bool copyToNewFile(QIODevice &in, const QString &target, QString &error,
                   const std::function<bool()> &keepGoing = {}, Sha1 *hash = nullptr);

// Waits until the open file `in` has been left alone for a moment (0.1 s), so that what is read
// from it next is not a state in the middle of a rewrite, which no reader could tell from a
// finished one; `stamp` is that state. False, with `error` "changed while it was being packed",
// when it is not left alone within 2 s.
bool waitUntilQuiet(const QFile &in, platform::FileStamp &stamp, QString &error);

// Copies the open regular file `in`, from its start, into the new file `target` as one state
// of it, once it was left alone (waitUntilQuiet): a copy during which `in` changed (its
// platform::FileStamp, or its content read once more) is made once more, once the file was
// also seen unchanged for a while, and a second change fails with `error` "changed while it was
// being packed". Needs the read-back library (Sha1). On any failure nothing is left at `target`.
// `copiedFrom`, when given, gets the stamp of the state that was copied.
bool copySnapshot(QFile &in, const QString &target, QString &error,
                  const std::function<bool()> &keepGoing = {},
                  platform::FileStamp *copiedFrom = nullptr);

// Whether the file at `source`, where it is still the file a copy was made from, is still in
// the state `copiedFrom` that was copied. A rewrite that had begun when the copy was made may
// show only later: the system may shrink a file before it stamps the change. A file gone or
// replaced since is no change of what was copied; a file whose stamps differ in its change time
// alone (a link made to it) is compared with `copy`. False, with `error` "changed while it was
// being packed", otherwise, or with the system's reason when the file cannot be looked at.
bool stillAsCopied(const QString &source, const platform::FileStamp &copiedFrom,
                   const QString &copy, QString &error);

// Feeds what is left of `in` to `hash` in large pieces; `keepGoing`, when given, may stop it
// before each. False on a read error (see in.errorString()) or a stop.
bool hashAll(QIODevice &in, Sha1 &hash, const std::function<bool()> &keepGoing = {});
