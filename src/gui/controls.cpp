#include "gui/controls.h"

#include <QAbstractItemView>
#include <QBoxLayout>
#include <QCalendarWidget>
#include <QDateEdit>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QToolButton>
#include <algorithm>
#include <utility>

#include "gui/twips.h"

namespace ondrel {

QFont WindowsFont(double points) {
    QFont f(QStringLiteral("MS PGothic"));
    f.setPointSizeF(points);
    return f;
}

QLabel* TwipsLabel(QWidget* parent, const QString& text, const QString& name, int index,
                   QRect twips) {
    auto* l = new QLabel(text, parent);
    NameControl(l, name, index);
    PlaceTwips(l, twips.x(), twips.y(), twips.width(), twips.height());
    return l;
}

QFrame* GroupFrame(QWidget* parent, QRect twips) {
    auto* f = new QFrame(parent);
    NameControl(f, QStringLiteral("picGroup"), 0);
    f->setFrameShape(QFrame::Box);
    f->setFrameShadow(QFrame::Sunken);
    PlaceTwips(f, twips.x(), twips.y(), twips.width(), twips.height());
    return f;
}

QPushButton* CommandButton(QWidget* parent, int index, const QString& caption, QRect twips) {
    auto* b = new QPushButton(caption, parent);
    NameControl(b, QStringLiteral("cmdProcess"), index);
    PlaceTwips(b, twips.x(), twips.y(), twips.width(), twips.height());
    b->setAutoDefault(false);
    return b;
}

namespace {

// The calendar's header as a Japanese reader expects it: "2030年" before "9月".
void JapaneseHeader(QCalendarWidget* calendar) {
    auto* month = calendar->findChild<QToolButton*>(QStringLiteral("qt_calendar_monthbutton"));
    auto* year = calendar->findChild<QToolButton*>(QStringLiteral("qt_calendar_yearbutton"));
    auto* bar = calendar->findChild<QWidget*>(QStringLiteral("qt_calendar_navigationbar"));
    auto* layout = bar ? qobject_cast<QBoxLayout*>(bar->layout()) : nullptr;
    if (!month || !year || !layout) return;
    layout->removeWidget(year);
    layout->insertWidget(layout->indexOf(month), year);
    auto suffix = [year](int y) { year->setText(QString::number(y) + u'年'); };
    suffix(calendar->yearShown());
    QObject::connect(calendar, &QCalendarWidget::currentPageChanged, year,
                     [suffix](int y, int) { suffix(y); });
}

// A typed date gives that date: "/" moves to the next part (selected, so
// the digits replace it) unless a part was just filled and left by itself,
// and a part left half-typed ("2025/1/1") is read when the box is left.
class DateTyping : public QObject {
  public:
    explicit DateTyping(QDateEdit* edit) : QObject(edit), edit_(edit) {
        edit->installEventFilter(this);
    }

  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        switch (event->type()) {
            case QEvent::FocusIn:
                Reset();
                break;
            case QEvent::FocusOut:
                ReadTyped();
                break;
            case QEvent::MouseButtonPress:
                PrepareCalendar();
                break;
            case QEvent::KeyPress:
                PrepareCalendar();
                return KeyPress(static_cast<QKeyEvent*>(event));
            default:
                break;
        }
        return false;
    }

  private:
    // The calendar is made when it is first needed (a press that may open
    // it), not with every picker at start-up.
    void PrepareCalendar() {
        if (calendarReady_) return;
        calendarReady_ = true;
        JapaneseHeader(edit_->calendarWidget());
    }

    void Reset() {
        section_ = -1;
        typed_ = 0;
        digits_.clear();
    }

    bool KeyPress(const QKeyEvent* key) {
        // A run of digits with nothing else typed, wherever it began.
        if (const QString t = key->text(); t.size() == 1 && t[0].isDigit()) {
            if (digits_.isEmpty()) {
                before_ = edit_->date();
                inYear_ = edit_->currentSection() == QDateTimeEdit::YearSection;
            }
            digits_ += t;
        } else if (!IsCommit(key->key())) {
            digits_.clear();
        }
        const int section = edit_->currentSectionIndex();
        if (section != section_) {
            section_ = section;
            typed_ = 0;
        }
        const QString text = key->text();
        if (text == u"/") {
            const int next = typed_ > 0 ? section + 1 : section;
            if (next < edit_->sectionCount()) {
                edit_->setCurrentSectionIndex(next);
                edit_->setSelectedSection(edit_->currentSection());
            }
            section_ = edit_->currentSectionIndex();
            typed_ = 0;
            return true;
        }
        if (text.size() == 1 && text[0].isDigit()) ++typed_;
        if (IsCommit(key->key())) ReadTyped();
        return false;
    }

    static bool IsCommit(int k) {
        return k == Qt::Key_Tab || k == Qt::Key_Backtab || k == Qt::Key_Return ||
               k == Qt::Key_Enter;
    }

    // Digits alone, as a Japanese user types a date: yyyymmdd, yymmdd (this
    // century) or mmdd (this year). An impossible one leaves the date as it
    // was before the digits.
    bool ReadDigits() {
        const QString d = std::exchange(digits_, QString());
        // Four digits typed into the year are that year, as the box takes them.
        if (d.size() != 8 && d.size() != 6 && (d.size() != 4 || inYear_)) return false;
        const int n = int(d.size());
        const int year = n == 8   ? d.left(4).toInt()
                         : n == 6 ? 2000 + d.left(2).toInt()
                                  : QDate::currentDate().year();
        const QDate date(year, d.mid(n - 4, 2).toInt(), d.right(2).toInt());
        edit_->setDate(date.isValid() && date >= edit_->minimumDate() &&
                               date <= edit_->maximumDate()
                           ? date
                           : before_);
        return true;
    }

    void ReadTyped() {
        if (ReadDigits()) return;
        static const QRegularExpression kDate(QStringLiteral("^(\\d{4})/(\\d{1,2})/(\\d{1,2})$"));
        const auto* line = edit_->findChild<QLineEdit*>();
        if (!line) return;
        const auto m = kDate.match(line->text());
        if (!m.hasMatch()) return;
        const QDate d(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
        if (d.isValid() && d != edit_->date()) edit_->setDate(d);
    }

    QDateEdit* edit_;
    bool calendarReady_ = false;
    int section_ = -1;
    int typed_ = 0;
    QString digits_;
    QDate before_;
    bool inYear_ = false;
};

}  // namespace

QDateEdit* DatePicker(QWidget* parent, const QString& name, int index,
                      const QString& accessibleName, QRect twips) {
    auto* d = new QDateEdit(parent);
    NameControl(d, name, index);
    d->setAccessibleName(accessibleName);
    PlaceTwips(d, twips.x(), twips.y(), twips.width(), twips.height());
    d->setCalendarPopup(true);
    d->setDisplayFormat(QStringLiteral("yyyy/MM/dd"));
    d->resize(std::max(d->width(), d->sizeHint().width()), d->height());
    new DateTyping(d);
    return d;
}

bool StepListFromBox(QAbstractItemView& list, int key) {
    const int rows = list.model() ? list.model()->rowCount() : 0;
    if ((key != Qt::Key_Down && key != Qt::Key_Up) || rows == 0) return false;
    const int row =
        std::clamp(list.currentIndex().row() + (key == Qt::Key_Down ? 1 : -1), 0, rows - 1);
    list.setCurrentIndex(list.model()->index(row, 0));
    return true;
}

}  // namespace ondrel
