#pragma once

#include <sys/types.h>

#include <QString>
#include <chrono>
#include <memory>
#include <utility>

#include "core/app_error.h"

namespace ondrel {

// Where the program's own office lives: its pipe, profile and executable.
struct OfficeConfig {
    QString pipeName;
    QString profileDir;
    QString soffice;  // empty: found on PATH
    std::chrono::milliseconds startDeadline{20000};
    // A running office answers at once; one that does not is ended.
    std::chrono::milliseconds connectDeadline{5000};
    std::chrono::milliseconds workDeadline{30000};
    bool withDisplay = false;
    // Where the office's own output goes, and why it could not start (empty:
    // nowhere). The program's: office.log in the program folder, 0600.
    QString logFile;

    // Per user and program folder, under the user's cache folder; reused
    // across runs. Two program folders never share an office.
    static OfficeConfig For(const QString& programFolder);
};

class OfficeDocument;

// A connection to the program's office, started on demand. The office runs
// as its own process group and outlives the program, as Excel did.
class Office {
  public:
    explicit Office(OfficeConfig config);
    ~Office();
    Office(const Office&) = delete;
    Office& operator=(const Office&) = delete;

    // Finds the running office or starts one; AppError 429 when it cannot.
    // A running office of ours that does not answer in time is ended and
    // replaced.
    void Connect();
    bool Connected() const;
    bool StartedHere() const { return startedPid_ > 0; }
    // Whether the last Connect started the office (rather than finding it).
    bool JustStarted() const { return justStarted_; }
    // Ends our office whatever its state (a failed report is tried again on
    // a fresh one); the next Connect starts a new office.
    void Discard();
    // At the program's end: ends an office that this run talked to and that
    // shows no document; one showing a report stays for the user.
    void EndIfIdle() noexcept;
    // Whether the office can show a window: it was started with a display
    // (here or by an earlier run) and this program has one.
    bool HasDisplay() const { return config_.withDisplay && officeShows_; }
    const OfficeConfig& Config() const { return config_; }

    // Loads a workbook hidden, as a template (the file stays untouched).
    std::unique_ptr<OfficeDocument> LoadTemplate(const QString& path);
    // Loads a workbook to read it (tests, checks).
    std::unique_ptr<OfficeDocument> LoadForReading(const QString& path);
    // Closes, unsaved, every loaded document stored at this path.
    void CloseDocumentsAt(const QString& path);
    // The office's active window to the front, when it has a display.
    void BringToFront();
    // The office's windows on screen (tests).
    int VisibleWindows();
    // Runs a command of the office's menus on a window it shows, as the user
    // would (tests): ".uno:CloseDoc".
    void RunCommand(const QString& command);
    // Ends the office (the batch command, tests).
    void Terminate();

    // The process group to kill when a call hangs; 0 when unknown.
    pid_t ProcessGroup() const;

    struct Impl;

  private:
    [[noreturn]] void CannotStart(const QString& why) const;
    std::unique_ptr<OfficeDocument> Load(const QString& path, bool asTemplate);
    bool TryConnect();
    void StartProcess();
    void SeedProfile();

    OfficeConfig config_;
    std::unique_ptr<Impl> impl_;
    pid_t startedPid_ = 0;
    bool officeShows_ = true;
    bool justStarted_ = false;
    int profileLockFd_ = -1;
};

// One loaded spreadsheet document.
class OfficeDocument {
  public:
    struct Impl;
    explicit OfficeDocument(std::unique_ptr<Impl> impl);
    ~OfficeDocument();

    QString FirstSheetName();
    // The workbook's language for Japanese text, "ja-JP".
    QString Language();
    // False when the spreadsheet refuses the name.
    bool RenameFirstSheet(const QString& name);
    QString CellText(int row, int column);  // 1-based, as the report counts
    void SetCellText(int row, int column, const QString& text);
    // Saves as Excel 97 .xls over any file at the path.
    void StoreAs(const QString& path);
    // Grows the merged area that starts at (row, column), 1-based, to the
    // given number of rows; added rows take the height of its first row.
    // Returns the rows it had.
    int ExtendMergedRows(int row, int column, int rows);
    // Exports the printed pages as PDF (what the printer would get).
    void ExportPdf(const QString& path);
    // Prints every page to the named printer, without a window; returns when
    // the office has handed the job to the print service.
    void Print(const QString& printer);
    // The first sheet's rows printed at the top of every page, 1-based;
    // {0, 0} when none.
    std::pair<int, int> RepeatedRows();
    // Shows the document maximised in front.
    void Show();
    void Close();

  private:
    void Store(const QString& path, const char* filter, bool becomesLocation);

    std::unique_ptr<Impl> impl_;
};

// Ends a hung office: after the deadline the process group is killed, which
// breaks the blocked call with an exception instead of a frozen window.
class OfficeWatchdog {
  public:
    OfficeWatchdog(pid_t processGroup, std::chrono::milliseconds deadline);
    ~OfficeWatchdog();
    bool Fired() const;

  private:
    struct State;
    std::shared_ptr<State> state_;
};

// Runs one step of talking to the office under the work deadline; a step
// that the watchdog ended fails as the office having stopped answering.
template <typename F>
auto Watched(Office& office, F&& step) -> decltype(step()) {
    OfficeWatchdog watchdog(office.ProcessGroup(), office.Config().workDeadline);
    try {
        return step();
    } catch (const AppError&) {
        if (watchdog.Fired()) throw AppError(err::OfficeGone);
        throw;
    }
}

}  // namespace ondrel
