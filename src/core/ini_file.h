#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace ondrel {

// One key of an INI file as the Windows profile functions read and write it:
// code page 932 on disk, CRLF lines, section and key names matched without
// regard to case. A file that starts with a UTF-8 BOM, or is valid UTF-8 and
// holds a byte above 0x7F (saved by a Linux editor), is read as UTF-8, and a
// write keeps the file's own encoding. Neither function reports a failure.

// A file larger than this is not read (its keys read as missing): an INI
// file of the program is a few hundred bytes.
inline constexpr qint64 kIniSizeLimit = 1024 * 1024;

// The value, without surrounding blanks and one pair of matching quotes, cut
// to at most 254 bytes on a character boundary; empty when the file, the
// section or the key is missing.
QString ReadIniString(const QString& file, const QString& section, const QString& key);

// Several keys of one section from a single read of the file, so that a file
// rewritten meanwhile never mixes two versions; nullopt when it cannot be read.
[[nodiscard]] std::optional<QStringList> ReadIniStrings(const QString& file, const QString& section,
                                                        const QStringList& keys);

// Only a regular file is read or replaced, and a file that its mode keeps
// from being written (also for root) is left as it is; a replaced file keeps
// its mode and owner.
// Changes only the key's own line (or adds it), keeping every other byte.
// The file is replaced through a temporary file, never half-written.
void WriteIniString(const QString& file, const QString& section, const QString& key,
                    const QString& value);

}  // namespace ondrel
