#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <atomic>
#include <memory>
#include <thread>

#include "core/ini_file.h"
#include "core/link_file.h"
#include "test_support.h"

using namespace ondrel;
using test::ReadBytes;
using test::ToCp932;
using test::WriteBytes;

class TstIniFile : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString Path(const char* name = "t.ini") const {
        return dir_.filePath(QString::fromUtf8(name));
    }

  private slots:
    void linkFileNeverTakesALineBreak();
    void readsAsWindowsProfileFunctions_data();
    void readsAsWindowsProfileFunctions();
    void writeChangesOnlyItsOwnLine_data();
    void writeChangesOnlyItsOwnLine();
    void cp932RoundTrip();
    void longValueCutOnCharacterBoundary();
    void hostileFiles_data();
    void hostileFiles();
    void unreadableFileIsKept();
    void writeLeavesNoTemporaryFile();
    void fifoNeverBlocks();
    void fileEncodings_data();
    void fileEncodings();
    void writeKeepsModeAndOwner_data();
    void writeKeepsModeAndOwner();
};

void TstIniFile::readsAsWindowsProfileFunctions_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("expected");

    const QByteArray basic = "[System]\r\nTitle=Clinic\r\nSystemDB=/a/b.db\r\n";
    QTest::newRow("plain") << basic << "System"
                           << "Title"
                           << "Clinic";
    QTest::newRow("case-insensitive names") << basic << "SYSTEM"
                                            << "systemdb"
                                            << "/a/b.db";
    QTest::newRow("missing key") << basic << "System"
                                 << "DefaultTab"
                                 << "";
    QTest::newRow("missing section") << basic << "frmOndrel"
                                     << "Title"
                                     << "";
    QTest::newRow("blanks around")
        << QByteArray("  [ System ]  \r\n  Title  =  A B  \r\n") << "System"
        << "Title"
        << "A B";
    QTest::newRow("double quotes") << QByteArray("[S]\r\nk=\"  x \"\r\n") << "S"
                                   << "k"
                                   << "  x ";
    QTest::newRow("single quotes") << QByteArray("[S]\r\nk='x'\r\n") << "S"
                                   << "k"
                                   << "x";
    QTest::newRow("unmatched quote kept") << QByteArray("[S]\r\nk=\"x'\r\n") << "S"
                                          << "k"
                                          << "\"x'";
    QTest::newRow("first duplicate wins") << QByteArray("[S]\r\nk=1\r\nk=2\r\n") << "S"
                                          << "k"
                                          << "1";
    QTest::newRow("first section wins") << QByteArray("[S]\r\na=1\r\n[S]\r\nk=2\r\n") << "S"
                                        << "k"
                                        << "";
    QTest::newRow("key of other section") << QByteArray("[A]\r\nk=1\r\n[B]\r\nj=2\r\n") << "B"
                                          << "k"
                                          << "";
    QTest::newRow("LF only") << QByteArray("[S]\nk=v\n") << "S"
                             << "k"
                             << "v";
    QTest::newRow("no final line end") << QByteArray("[S]\r\nk=v") << "S"
                                       << "k"
                                       << "v";
    QTest::newRow("empty value") << QByteArray("[S]\r\nk=\r\n") << "S"
                                 << "k"
                                 << "";
    QTest::newRow("equals in value") << QByteArray("[S]\r\nk=a=b\r\n") << "S"
                                     << "k"
                                     << "a=b";
    QTest::newRow("key before any section") << QByteArray("k=0\r\n[S]\r\nj=1\r\n") << "S"
                                            << "k"
                                            << "";
    // ー is 81 5B: its trail byte is '[' and must not start a section.
    QTest::newRow("trail byte is bracket")
        << ToCp932(QStringLiteral("[Patient.Info]\r\nName=コーヒー\r\n")) << "Patient.Info"
        << "Name" << QStringLiteral("コーヒー");
    // ソ is 83 5C: its trail byte is a backslash.
    QTest::newRow("trail byte is backslash")
        << ToCp932(QStringLiteral("[S]\r\nk=ソフト\\表\r\n")) << "S"
        << "k" << QStringLiteral("ソフト\\表");
    QTest::newRow("japanese section and key")
        << ToCp932(QStringLiteral("[患者]\r\nカルテ番号=12345\r\n")) << QStringLiteral("患者")
        << QStringLiteral("カルテ番号") << "12345";
}

void TstIniFile::readsAsWindowsProfileFunctions() {
    QFETCH(QByteArray, file);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, expected);
    WriteBytes(Path(), file);
    QCOMPARE(ReadIniString(Path(), section, key), expected);
}

void TstIniFile::writeChangesOnlyItsOwnLine_data() {
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<bool>("exists");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QByteArray>("after");

    QTest::newRow("new file") << QByteArray() << false << "System"
                              << "DefaultTab"
                              << "3" << QByteArray("[System]\r\nDefaultTab=3\r\n");
    QTest::newRow("replace keeps the rest")
        << QByteArray(
               "; note\r\n[System]\r\nTitle = x \r\nDefaultTab=1\r\n\r\n[frmOndrel]\r\nWinLeft=5\n")
        << true << "system"
        << "DefaultTab"
        << "4"
        << QByteArray(
               "; note\r\n[System]\r\nTitle = x "
               "\r\nDefaultTab=4\r\n\r\n[frmOndrel]\r\nWinLeft=5\n");
    QTest::newRow("new key after the section's last line")
        << QByteArray("[System]\r\nTitle=x\r\n\r\n[frmOndrel]\r\nWinLeft=5\r\n") << true << "System"
        << "PrintFlg"
        << "1"
        << QByteArray("[System]\r\nTitle=x\r\nPrintFlg=1\r\n\r\n[frmOndrel]\r\nWinLeft=5\r\n");
    QTest::newRow("new key, last line without line end")
        << QByteArray("[System]\r\nTitle=x") << true << "System"
        << "PrintFlg"
        << "0" << QByteArray("[System]\r\nTitle=x\r\nPrintFlg=0\r\n");
    QTest::newRow("new section appended at the end")
        << QByteArray("[System]\r\nTitle=x") << true << "frmEnv"
        << "WinLeft"
        << "100" << QByteArray("[System]\r\nTitle=x\r\n[frmEnv]\r\nWinLeft=100\r\n");
    QTest::newRow("first of duplicate keys is replaced")
        << QByteArray("[S]\r\nk=1\r\nk=2\r\n") << true << "S"
        << "K"
        << "9" << QByteArray("[S]\r\nK=9\r\nk=2\r\n");
    QTest::newRow("japanese value in cp932")
        << QByteArray() << false << "System"
        << "Title" << QStringLiteral("指導指示管理")
        << QByteArray("[System]\r\nTitle=") + ToCp932(QStringLiteral("指導指示管理")) + "\r\n";
}

void TstIniFile::writeChangesOnlyItsOwnLine() {
    QFETCH(QByteArray, before);
    QFETCH(bool, exists);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(QByteArray, after);
    QFile::remove(Path());
    if (exists) WriteBytes(Path(), before);
    WriteIniString(Path(), section, key, value);
    QCOMPARE(ReadBytes(Path()), after);
    QCOMPARE(ReadIniString(Path(), section, key), value);
}

void TstIniFile::cp932RoundTrip() {
    // Characters that the code page 932 of Windows maps differently from
    // plain Shift_JIS, and vendor extensions.
    const QString value = QStringLiteral("～①髙㈱－∥￢ ＭＳ Ｐゴシック");
    WriteIniString(Path("rt.ini"), QStringLiteral("S"), QStringLiteral("k"), value);
    QVERIFY(ReadBytes(Path("rt.ini"))
                .contains(QByteArray::fromHex("8160")));  // ～ as Windows writes it
    QVERIFY(ReadBytes(Path("rt.ini")).contains(QByteArray::fromHex("fbfc")));  // 髙
    QCOMPARE(ReadIniString(Path("rt.ini"), QStringLiteral("S"), QStringLiteral("k")), value);
}

void TstIniFile::longValueCutOnCharacterBoundary() {
    // 253 ASCII bytes then a two-byte character: the character would end at
    // byte 255, so it is dropped whole.
    const QString ascii(253, u'a');
    WriteBytes(Path(), "[S]\r\nk=" + ascii.toLatin1() + ToCp932(QStringLiteral("漢字")) + "\r\n");
    QCOMPARE(ReadIniString(Path(), QStringLiteral("S"), QStringLiteral("k")), ascii);
    const QString kanji = QString(127, u'漢');
    WriteBytes(Path(), "[S]\r\nk=" + ToCp932(kanji + QStringLiteral("z")) + "\r\n");
    QCOMPARE(ReadIniString(Path(), QStringLiteral("S"), QStringLiteral("k")), kanji);
    WriteBytes(Path(), "[S]\r\nk=" + QByteArray(300, 'x') + "\r\n");
    QCOMPARE(ReadIniString(Path(), QStringLiteral("S"), QStringLiteral("k")).size(), 254);
}

void TstIniFile::hostileFiles_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("expected");
    QByteArray binary;
    for (int i = 0; i < 4096; ++i) binary.append(char(i * 7919 % 256));
    QTest::newRow("binary") << binary << "";
    QTest::newRow("NUL bytes") << QByteArray("[S]\r\nk=a\0b\r\n", 11)
                               << QString::fromLatin1("a\0b", 3);
    QTest::newRow("broken cp932 lead byte at line end")
        << QByteArray::fromHex("5b535d0d0a6b3d610d0a783d82") + "\r\n[S2]\r\n"
        << "a";
    QTest::newRow("broken cp932 in value") << QByteArray::fromHex("5b535d0d0a6b3d82ff41") << "";
    QByteArray big = "[S]\r\n";
    while (big.size() < 10 * 1024 * 1024)
        big += "filler=0123456789012345678901234567890123456789\r\n";
    big += "k=last\r\n";
    // Beyond the limit a file is neither read nor rewritten.
    QTest::newRow("10 MB") << big << "";
    QTest::newRow("10 MB one line") << QByteArray(10 * 1024 * 1024, '[') << "";
    QByteArray justBelow = "[S]\r\nk=last\r\n";
    justBelow += QByteArray(kIniSizeLimit - justBelow.size(), ';');
    QTest::newRow("at the limit") << justBelow << "last";
}

void TstIniFile::hostileFiles() {
    QFETCH(QByteArray, file);
    QFETCH(QString, expected);
    WriteBytes(Path("h.ini"), file);
    const QString got = ReadIniString(Path("h.ini"), QStringLiteral("S"), QStringLiteral("k"));
    if (QByteArray(QTest::currentDataTag()).startsWith("broken cp932 in value")) {
        QVERIFY(got.endsWith(u'A'));  // replacement characters, no crash
    } else {
        QCOMPARE(got, expected);
    }
    WriteIniString(Path("h.ini"), QStringLiteral("S"), QStringLiteral("k"), QStringLiteral("v"));
    if (file.size() > kIniSizeLimit) {
        QCOMPARE(ReadBytes(Path("h.ini")), file);
        return;
    }
    QCOMPARE(ReadIniString(Path("h.ini"), QStringLiteral("S"), QStringLiteral("k")),
             QStringLiteral("v"));
}

void TstIniFile::unreadableFileIsKept() {
    if (::geteuid() == 0) QSKIP("root reads every file");
    WriteBytes(Path("u.ini"), "[S]\r\nk=1\r\n");
    QFile::setPermissions(Path("u.ini"), QFileDevice::WriteOwner);
    QCOMPARE(ReadIniString(Path("u.ini"), QStringLiteral("S"), QStringLiteral("k")), QString());
    WriteIniString(Path("u.ini"), QStringLiteral("S"), QStringLiteral("k"), QStringLiteral("2"));
    QFile::setPermissions(Path("u.ini"), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    QCOMPARE(ReadBytes(Path("u.ini")), QByteArray("[S]\r\nk=1\r\n"));
}

void TstIniFile::writeLeavesNoTemporaryFile() {
    QTemporaryDir d;
    const QString p = d.filePath(QStringLiteral("w.ini"));
    for (int i = 0; i < 5; ++i)
        WriteIniString(p, QStringLiteral("S"), QStringLiteral("k"), QString::number(i));
    QCOMPARE(QDir(d.path()).entryList(QDir::Files), QStringList{QStringLiteral("w.ini")});
    // A folder that cannot be written: nothing happens, nothing is reported.
    WriteIniString(QStringLiteral("/nonexistent-dir/x.ini"), QStringLiteral("S"),
                   QStringLiteral("k"), QStringLiteral("1"));
    QVERIFY(!QFile::exists(QStringLiteral("/nonexistent-dir/x.ini")));
}

// A settings or link file that is a FIFO: nobody writes it, so opening it
// the ordinary way would wait for good.
void TstIniFile::fifoNeverBlocks() {
    const QString p = Path("fifo.ini");
    QCOMPARE(::mkfifo(QFile::encodeName(p).constData(), 0600), 0);
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::thread([p, done] {
        ReadIniString(p, QStringLiteral("System"), QStringLiteral("Title"));
        WriteIniString(p, QStringLiteral("System"), QStringLiteral("Title"), QStringLiteral("x"));
        *done = true;
    }).detach();
    QTRY_VERIFY_WITH_TIMEOUT(*done, 3000);
    QVERIFY(QFileInfo(p).exists() && !QFileInfo(p).isFile());  // still the FIFO
    QVERIFY(!ReadIniStrings(p, QStringLiteral("S"), {QStringLiteral("k")}));
}

// A write keeps the file's mode and owner; a file without a write bit is
// left alone, also when the program runs as root.
void TstIniFile::writeKeepsModeAndOwner_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("written");
    QTest::newRow("0600") << 0600 << true;
    QTest::newRow("0640") << 0640 << true;
    QTest::newRow("0666") << 0666 << true;
    QTest::newRow("read-only 0444") << 0444 << false;
    QTest::newRow("read-only 0400") << 0400 << false;
}

void TstIniFile::writeKeepsModeAndOwner() {
    QFETCH(int, mode);
    QFETCH(bool, written);
    QTemporaryDir d;
    const QString p = d.filePath(QStringLiteral("m.ini"));
    const QByteArray before("[S]\r\nk=1\r\n");
    WriteBytes(p, before);
    const QByteArray name = QFile::encodeName(p);
    QCOMPARE(::chmod(name.constData(), mode_t(mode)), 0);
    const bool root = ::geteuid() == 0;
    if (root) QCOMPARE(::chown(name.constData(), 1234, 1235), 0);
    WriteIniString(p, QStringLiteral("S"), QStringLiteral("k"), QStringLiteral("2"));
    struct stat st {};
    QCOMPARE(::stat(name.constData(), &st), 0);
    QCOMPARE(int(st.st_mode & 07777), mode);
    if (root) {
        QCOMPARE(int(st.st_uid), 1234);
        QCOMPARE(int(st.st_gid), 1235);
    }
    QCOMPARE(ReadBytes(p), written ? QByteArray("[S]\r\nk=2\r\n") : before);
}

// A settings or link file edited on Linux is UTF-8; Windows wrote code page
// 932. Each is read as what it is and written back in its own encoding.
void TstIniFile::fileEncodings_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QByteArray>("afterWrite");  // the file after Title=新しい題名
    const QByteArray bom("\xEF\xBB\xBF");
    const QByteArray utf8Title = QStringLiteral("指導指示管理").toUtf8();
    const QByteArray utf8New = QStringLiteral("新しい題名").toUtf8();
    QTest::newRow("UTF-8 with BOM")
        << bom + "[System]\r\nTitle=" + utf8Title + "\r\n"
        << "指導指示管理" << bom + "[System]\r\nTitle=" + utf8New + "\r\n";
    QTest::newRow("UTF-8 without BOM, LF lines")
        << "[System]\nSystemDB=/home/クリニック/system.db\nTitle=" + utf8Title + "\n"
        << "指導指示管理"
        << "[System]\nSystemDB=/home/クリニック/system.db\nTitle=" + utf8New + "\n";
    QTest::newRow("BOM, ASCII only") << bom + "[System]\r\nTitle=abc\r\n"
                                     << "abc" << bom + "[System]\r\nTitle=" + utf8New + "\r\n";
    QTest::newRow("code page 932") << "[System]\r\nTitle=" + ToCp932("指導指示管理") + "\r\n"
                                   << "指導指示管理"
                                   << "[System]\r\nTitle=" + ToCp932("新しい題名") + "\r\n";
    QTest::newRow("ASCII only: code page 932")
        << QByteArray("[System]\r\nTitle=abc\r\n") << "abc"
        << "[System]\r\nTitle=" + ToCp932("新しい題名") + "\r\n";
}

void TstIniFile::fileEncodings() {
    QFETCH(QByteArray, file);
    QFETCH(QString, title);
    QFETCH(QByteArray, afterWrite);
    WriteBytes(Path("enc.ini"), file);
    QCOMPARE(ReadIniString(Path("enc.ini"), "System", "Title"), title);
    if (file.contains("SystemDB"))
        QCOMPARE(ReadIniString(Path("enc.ini"), "System", "SystemDB"),
                 QStringLiteral("/home/クリニック/system.db"));
    WriteIniString(Path("enc.ini"), "System", "Title", QStringLiteral("新しい題名"));
    QCOMPARE(ReadBytes(Path("enc.ini")), afterWrite);
    QCOMPARE(ReadIniStrings(Path("enc.ini"), "System", {"Title"}),
             std::optional<QStringList>(QStringList{QStringLiteral("新しい題名")}));
}

// The link file as the link bar writes it, and never a value that would put
// lines of its own into it.
void TstIniFile::linkFileNeverTakesALineBreak() {
    QVERIFY(WriteLinkFile(Path(), {"1", "1234-5"}));
    QCOMPARE(ReadLinkFile(Path()), std::optional<LinkSelection>(LinkSelection{"1", "1234-5"}));
    const QByteArray before = ReadBytes(Path());
    QVERIFY(!WriteLinkFile(Path(), {"1\r\nStatus=9", "12346"}));
    QVERIFY(!WriteLinkFile(Path(), {"1", "12346\nX=1"}));
    QCOMPARE(ReadBytes(Path()), before);
}

QTEST_GUILESS_MAIN(TstIniFile)
#include "tst_ini_file.moc"
