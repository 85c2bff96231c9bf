#include "core/link_file.h"

#include <QDir>
#include <QRegularExpression>

#include "core/clock.h"
#include "core/ini_file.h"

namespace ondrel {

namespace {

const QString kSection = QStringLiteral("Patient.Info");
const QString kStatus = QStringLiteral("Status");
const QString kKarteNoBranch = QStringLiteral("KarteNoBranch");
// How long the link bar takes to finish a file it is writing.
constexpr int kSettleMs = 50;

}  // namespace

QString LinkFolderFor(const QString& programFolder) {
    return QDir::cleanPath(programFolder + QStringLiteral("/../1-99リンクバーZEV"));
}

QString LinkFileIn(const QString& linkFolder) {
    return linkFolder + QStringLiteral("/カルテ番号.ini");
}

QString LinkFileFor(const QString& programFolder) {
    return LinkFileIn(LinkFolderFor(programFolder));
}

std::optional<qint32> LinkChartNo(const QString& karteNoBranch) {
    static const QRegularExpression kChart(QStringLiteral("^[0-9]+(-[0-9])?$"));
    if (!kChart.match(karteNoBranch).hasMatch()) return std::nullopt;
    bool ok = false;
    const qint32 n = QString(karteNoBranch).remove(u'-').toInt(&ok);
    return ok ? std::optional<qint32>(n) : std::nullopt;
}

std::optional<LinkSelection> ReadLinkFile(const QString& path) {
    const auto values = ReadIniStrings(path, kSection, {kStatus, kKarteNoBranch});
    if (!values) return std::nullopt;
    return LinkSelection{values->at(0), values->at(1)};
}

bool LinkFileSettled(const QString& path, const LinkSelection& first, const Clock& clock) {
    clock.Pause(kSettleMs);
    return ReadLinkFile(path) == first;
}

bool WriteLinkFile(const QString& path, const LinkSelection& selection) {
    // A line break inside a value would write lines of its own.
    for (const QString* v : {&selection.status, &selection.karteNoBranch}) {
        if (v->contains(u'\n') || v->contains(u'\r')) return false;
    }
    WriteIniString(path, kSection, kKarteNoBranch, selection.karteNoBranch);
    WriteIniString(path, kSection, kStatus, selection.status);
    return ReadLinkFile(path) == selection;
}

}  // namespace ondrel
