#pragma once

#include <QString>
#include <optional>

namespace ondrel {

class Clock;

// The link file: the patient the clinic's link bar selected. カルテ番号.ini in
// the link folder 1-99リンクバーZEV beside the program folder, section
// [Patient.Info], Status 1 when a patient is selected and KarteNoBranch his
// full chart number (1234-5 or 12345). Nothing else in the program names them.
QString LinkFolderFor(const QString& programFolder);
QString LinkFileIn(const QString& linkFolder);
QString LinkFileFor(const QString& programFolder);

struct LinkSelection {
    QString status;
    QString karteNoBranch;
    bool Selected() const { return status == u"1"; }
    bool operator==(const LinkSelection&) const = default;
};

// The link file's number as a chart number: digits, with at most one dash
// before the last digit (1234-5, 12345), within the 32-bit range; nullopt
// for anything else (-12345, 1-23-45, 12345.0, twenty digits).
std::optional<qint32> LinkChartNo(const QString& karteNoBranch);

// Both keys from one read, so a file rewritten meanwhile never mixes;
// nullopt when the file cannot be read.
std::optional<LinkSelection> ReadLinkFile(const QString& path);

// A file still being written reads differently a moment later: true when it
// reads as `first` once more after the link bar's settle time.
bool LinkFileSettled(const QString& path, const LinkSelection& first, const Clock& clock);

// Writes as the link bar does: the number first, then the status that makes
// it count; false when the file does not take it.
bool WriteLinkFile(const QString& path, const LinkSelection& selection);

}  // namespace ondrel
