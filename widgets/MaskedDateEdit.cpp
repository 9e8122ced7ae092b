#include "MaskedDateEdit.h"

#include "Clock.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QTableWidget>
#include <QToolButton>
#include <QVBoxLayout>

const QString MaskedDateEdit::EmptyText = QStringLiteral("  .  .");
const QString MaskedDateEdit::Format = QStringLiteral("dd.MM.yyyy");

namespace {
constexpr int DateRole = Qt::UserRole + 1;
constexpr int Weeks = 6;
const QColor TodayColour(255, 230, 150);

QDate parseDate(const QString& text)
{
    const QString t = text.trimmed();
    QDate date = QDate::fromString(t, QStringLiteral("d.M.yyyy"));
    if (!date.isValid()) {
        date = QDate::fromString(t, QStringLiteral("d.M.yy"));
        if (date.isValid() && date.year() < 1930)
            date = date.addYears(100);
    }
    return date;
}
} // namespace

MaskedDateEdit::MaskedDateEdit(QWidget* parent)
    : QWidget(parent), m_edit(new QLineEdit(this)), m_button(new QToolButton(this))
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_edit->setObjectName(QStringLiteral("dateText"));
    // A blank as the mask's free character makes the empty text read "  .  .".
    m_edit->setInputMask(QStringLiteral("99.99.9999; "));
    m_button->setObjectName(QStringLiteral("dateButton"));
    m_button->setArrowType(Qt::DownArrow);
    m_button->setFocusPolicy(Qt::NoFocus);
    m_button->setAccessibleName(QStringLiteral("Kalender"));
    layout->addWidget(m_edit, 1);
    layout->addWidget(m_button);
    setFocusProxy(m_edit);
    connect(m_button, &QToolButton::clicked, this, &MaskedDateEdit::showCalendar);
    // QLineEdit reports Enter only for acceptable input; an empty date must report it too.
    m_edit->installEventFilter(this);
    connect(m_edit, &QLineEdit::textChanged, this, [this] {
        const QDate now = date();
        if (now != m_lastDate) {
            m_lastDate = now;
            emit dateChanged(now);
        }
    });
}

bool MaskedDateEdit::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_edit && event->type() == QEvent::KeyPress) {
        const auto* keyEvent = static_cast<QKeyEvent*>(event);
        const int key = keyEvent->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter)
            emit returnPressed();
        // The calendar drops down from the keyboard as in the system's own date fields.
        if (key == Qt::Key_F4 || (key == Qt::Key_Down && keyEvent->modifiers() == Qt::AltModifier)) {
            showCalendar();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

QDate MaskedDateEdit::date() const
{
    return QDate::fromString(m_edit->displayText(), Format);
}

void MaskedDateEdit::setDate(const QDate& date)
{
    if (date.isValid())
        m_edit->setText(date.toString(Format));
    else
        m_edit->clear();
}

QString MaskedDateEdit::text() const
{
    QString shown = m_edit->displayText();
    while (shown.endsWith(u' '))
        shown.chop(1);
    return shown;
}

void MaskedDateEdit::setText(const QString& text)
{
    setDate(parseDate(text));
}

void MaskedDateEdit::clear()
{
    m_edit->clear();
}

bool MaskedDateEdit::isEmpty() const
{
    return text() == EmptyText;
}

void MaskedDateEdit::showCalendar()
{
    if (!m_popup) {
        m_popup = new CalendarPopup(this);
        m_popup->setTwoDigitYear(m_twoDigitYear);
        connect(m_popup, &CalendarPopup::chosen, this, [this](const QDate& d) {
            setDate(d);
            m_popup->hide();
            m_edit->setFocus();
        });
    }
    const QDate current = date();
    const QDate shown = current.isValid() ? current : Clock::instance().now().date();
    m_popup->showMonth(shown.year(), shown.month(), current);
    m_popup->move(mapToGlobal(QPoint(0, height())));
    m_popup->show();
    m_popup->grid()->setFocus();
}

QWidget* MaskedDateEdit::calendarPopup() const
{
    return m_popup;
}

// ---- CalendarPopup ----------------------------------------------------------------------

// German short weekday names carry a full stop and Qt's calendar starts on Monday; the sheet
// wants neither, so the header is its own.
const QStringList CalendarPopup::WeekdayHeaders = {
    QStringLiteral("So"), QStringLiteral("Mo"), QStringLiteral("Di"), QStringLiteral("Mi"),
    QStringLiteral("Do"), QStringLiteral("Fr"), QStringLiteral("Sa")};

CalendarPopup::CalendarPopup(QWidget* parent)
    : QFrame(parent, Qt::Popup), m_previous(new QToolButton(this)), m_next(new QToolButton(this)),
      m_title(new QLabel(this)), m_grid(new QTableWidget(Weeks, 7, this))
{
    setObjectName(QStringLiteral("calendarPopup"));
    setFrameShape(QFrame::Box);
    m_previous->setObjectName(QStringLiteral("calendarPrevious"));
    m_previous->setArrowType(Qt::LeftArrow);
    m_previous->setAccessibleName(QStringLiteral("Voriger Monat"));
    m_next->setObjectName(QStringLiteral("calendarNext"));
    m_next->setArrowType(Qt::RightArrow);
    m_next->setAccessibleName(QStringLiteral("Nächster Monat"));
    m_title->setObjectName(QStringLiteral("calendarTitle"));
    m_title->setAlignment(Qt::AlignCenter);
    m_grid->setObjectName(QStringLiteral("calendarGrid"));
    m_grid->setAccessibleName(QStringLiteral("Kalender"));
    m_grid->setHorizontalHeaderLabels(WeekdayHeaders);
    m_grid->verticalHeader()->hide();
    m_grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_grid->setSelectionMode(QAbstractItemView::SingleSelection);
    m_grid->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_grid->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_grid->horizontalHeader()->setHighlightSections(false);
    m_grid->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_grid->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    auto* top = new QHBoxLayout;
    top->addWidget(m_previous);
    top->addWidget(m_title, 1);
    top->addWidget(m_next);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->addLayout(top);
    layout->addWidget(m_grid);

    connect(m_previous, &QToolButton::clicked, this, [this] { step(-1); });
    connect(m_next, &QToolButton::clicked, this, [this] { step(1); });
    connect(m_grid, &QTableWidget::cellClicked, this,
            [this](int row, int column) { choose(dateAt(row, column)); });
    connect(m_grid, &QTableWidget::cellActivated, this,
            [this](int row, int column) { choose(dateAt(row, column)); });
}

void MaskedDateEdit::setTwoDigitYearInCalendar(bool twoDigits)
{
    m_twoDigitYear = twoDigits;
    if (m_popup)
        m_popup->setTwoDigitYear(twoDigits);
}

void CalendarPopup::showMonth(int year, int month, const QDate& marked)
{
    m_year = year;
    m_month = month;
    m_marked = marked;
    const QLocale german(QLocale::German, QLocale::Germany);
    m_title->setText(german.standaloneMonthName(month, QLocale::LongFormat) + QStringLiteral(", ") +
                     (m_twoDigitYear ? QStringLiteral("%1").arg(year % 100, 2, 10, QLatin1Char('0'))
                                     : QString::number(year)));
    const QDate first(year, month, 1);
    // dayOfWeek() counts Monday as 1 and Sunday as 7; the sheet starts on Sunday.
    const QDate sheetStart = first.addDays(-(first.dayOfWeek() % 7));
    const QColor other = palette().color(QPalette::Disabled, QPalette::Text);
    const QDate today = Clock::instance().now().date();
    m_grid->clearSelection();
    for (int i = 0; i < Weeks * 7; ++i) {
        const QDate d = sheetStart.addDays(i);
        auto* item = new QTableWidgetItem(QString::number(d.day()));
        item->setData(DateRole, d);
        item->setTextAlignment(Qt::AlignCenter);
        if (d.month() != month)
            item->setForeground(other);
        if (d == today) {
            QFont bold = m_grid->font();
            bold.setBold(true);
            item->setFont(bold);
            item->setBackground(TodayColour);
            item->setToolTip(QStringLiteral("Heute"));
        }
        m_grid->setItem(i / 7, i % 7, item);
        // Without a date the cursor starts on today in today's month, else on the first.
        const QDate cursor = today.year() == year && today.month() == month ? today : first;
        if (d == marked || (!marked.isValid() && d == cursor)) {
            m_grid->setCurrentItem(item);
            if (d == marked)
                item->setSelected(true);
        }
    }
    fitGrid();
}

void CalendarPopup::fitGrid()
{
    // The sheet is as large as its cells: no empty band beside or below the month.
    QHeaderView* columns = m_grid->horizontalHeader();
    QHeaderView* rows = m_grid->verticalHeader();
    columns->resizeSections(QHeaderView::ResizeToContents);
    rows->resizeSections(QHeaderView::ResizeToContents);
    const int frame = 2 * m_grid->frameWidth();
    m_grid->setFixedSize(columns->length() + frame, columns->sizeHint().height() + rows->length() + frame);
    adjustSize();
}

QString CalendarPopup::title() const
{
    return m_title->text();
}

QStringList CalendarPopup::weekdayHeaders() const
{
    QStringList headers;
    for (int c = 0; c < m_grid->columnCount(); ++c)
        headers << m_grid->horizontalHeaderItem(c)->text();
    return headers;
}

QDate CalendarPopup::dateAt(int row, int column) const
{
    const QTableWidgetItem* item = m_grid->item(row, column);
    return item ? item->data(DateRole).toDate() : QDate();
}

void CalendarPopup::choose(const QDate& date)
{
    if (date.isValid())
        emit chosen(date);
}

void CalendarPopup::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_PageUp:
        step(-1);
        break;
    case Qt::Key_PageDown:
        step(1);
        break;
    default:
        QFrame::keyPressEvent(event);
    }
}

void CalendarPopup::step(int months)
{
    const QDate first = QDate(m_year, m_month, 1).addMonths(months);
    showMonth(first.year(), first.month(), m_marked);
}
