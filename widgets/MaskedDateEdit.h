#pragma once

#include <QDate>
#include <QFrame>
#include <QWidget>

class QLabel;
class QLineEdit;
class QTableWidget;
class QToolButton;

// Date input with the mask dd.MM.yyyy and a drop-down calendar. It may be empty; its text
// then reads "  .  .". Its value is a valid date or a null date (empty or incomplete).
class MaskedDateEdit : public QWidget
{
    Q_OBJECT

public:
    static const QString EmptyText;
    static const QString Format;

    explicit MaskedDateEdit(QWidget* parent = nullptr);

    QDate date() const;
    // An invalid date empties the control.
    void setDate(const QDate& date);
    // As shown, trailing blanks removed: "15.03.2004", "  .  ." when empty.
    QString text() const;
    // Takes d.M.yyyy or d.M.yy (two-digit years from 1930 to 2029); anything else empties it.
    void setText(const QString& text);
    void clear();
    bool isEmpty() const;

    QLineEdit* lineEdit() const { return m_edit; }
    QToolButton* calendarButton() const { return m_button; }

    // The calendar's month title with the year in two digits ("März, 04") instead of four.
    void setTwoDigitYearInCalendar(bool twoDigits);

    // Opens the calendar at the control's date, or at today's when empty; F4 and Alt+Down in
    // the field open it too.
    void showCalendar();
    QWidget* calendarPopup() const;

signals:
    void dateChanged(const QDate& date);
    void returnPressed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLineEdit* m_edit;
    QToolButton* m_button;
    class CalendarPopup* m_popup = nullptr;
    QDate m_lastDate;
    bool m_twoDigitYear = false;
};

// The drop-down month sheet: weekdays from Sunday, "So" to "Sa", title "März, 2004".
class CalendarPopup : public QFrame
{
    Q_OBJECT

public:
    static const QStringList WeekdayHeaders;

    explicit CalendarPopup(QWidget* parent = nullptr);

    void showMonth(int year, int month, const QDate& marked);
    void setTwoDigitYear(bool twoDigits) { m_twoDigitYear = twoDigits; }
    int year() const { return m_year; }
    int month() const { return m_month; }
    QString title() const;
    QStringList weekdayHeaders() const;
    // The date in a cell of the six-week sheet.
    QDate dateAt(int row, int column) const;
    void choose(const QDate& date);

    QTableWidget* grid() const { return m_grid; }

signals:
    void chosen(const QDate& date);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void step(int months);
    void fitGrid();

    QToolButton* m_previous;
    QToolButton* m_next;
    QLabel* m_title;
    QTableWidget* m_grid;
    int m_year = 2000;
    int m_month = 1;
    QDate m_marked;
    bool m_twoDigitYear = false;
};
