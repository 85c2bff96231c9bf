#include "report/printers.h"

#include <QProcess>
#include <QRegularExpression>

namespace ondrel {

namespace {

// lpstat's answer in the C locale (its words are parsed); false when it
// could not run or said no.
bool Lpstat(const QStringList& args, QString* out) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral("lpstat"), args);
    if (!p.waitForFinished(10000)) {
        p.kill();
        p.waitForFinished();
        return false;
    }
    *out = QString::fromUtf8(p.readAllStandardOutput());
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

}  // namespace

QStringList Printers() {
    QString out;
    if (!Lpstat({QStringLiteral("-e")}, &out)) return {};
    QStringList names = out.split(u'\n', Qt::SkipEmptyParts);
    for (QString& n : names) n = n.trimmed();
    return names;
}

QString DefaultPrinter() {
    QString out;
    if (!Lpstat({QStringLiteral("-d")}, &out)) return {};
    static const QRegularExpression named(QStringLiteral("destination: *(\\S+)"));
    const auto m = named.match(out);
    return m.hasMatch() ? m.captured(1) : QString();
}

QString PrinterProblem(const QString& name, QString* resolved) {
    const QString printer = name.isEmpty() ? DefaultPrinter() : name;
    *resolved = printer;
    if (printer.isEmpty())
        return QStringLiteral("既定のプリンタが設定されていません。プリンタを選んで下さい。");
    QString out;
    if (!Printers().contains(printer) || !Lpstat({QStringLiteral("-p"), printer}, &out))
        return QStringLiteral("プリンタ「%1」が見つかりません。").arg(printer);
    if (out.contains(QStringLiteral(" disabled")))
        return QStringLiteral(
                   "プリンタ「%1」は停止しています。"
                   "プリンタを再開してから、もう一度印刷して下さい。")
            .arg(printer);
    return {};
}

}  // namespace ondrel
