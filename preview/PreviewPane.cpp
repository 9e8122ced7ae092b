#include "PreviewPane.h"

#include "widgets/MessageBox.h"
#include "widgets/SystemServices.h"

#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QStackedLayout>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <cmath>

namespace preview {

namespace {
QString waitingText()
{
    return QStringLiteral("Vorschau wird erstellt …");
}
} // namespace

PageView::PageView(QWidget* parent) : QAbstractScrollArea(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setBackgroundRole(QPalette::Dark);
    viewport()->setAutoFillBackground(true);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
}

void PageView::setImage(const QImage& image)
{
    m_image = image;
    m_image.setDevicePixelRatio(devicePixelRatioF());
    m_stretch = 1.0;
    updateScrollBars();
    viewport()->update();
}

void PageView::clear()
{
    setImage(QImage());
}

void PageView::setStretch(double stretch)
{
    m_stretch = stretch;
    updateScrollBars();
    viewport()->update();
}

QSize PageView::shownSize() const
{
    if (m_image.isNull())
        return {};
    const QSizeF logical = m_image.deviceIndependentSize() * m_stretch;
    return logical.toSize();
}

void PageView::updateScrollBars()
{
    const QSize page = shownSize() + QSize(2 * Margin, 2 * Margin);
    const QSize room = viewport()->size();
    horizontalScrollBar()->setRange(0, std::max(0, page.width() - room.width()));
    verticalScrollBar()->setRange(0, std::max(0, page.height() - room.height()));
    horizontalScrollBar()->setPageStep(room.width());
    verticalScrollBar()->setPageStep(room.height());
    verticalScrollBar()->setSingleStep(40);
    horizontalScrollBar()->setSingleStep(40);
}

void PageView::paintEvent(QPaintEvent*)
{
    if (m_image.isNull())
        return;
    QPainter painter(viewport());
    const QSize size = shownSize();
    const int x = std::max(Margin, (viewport()->width() - size.width()) / 2) - horizontalScrollBar()->value();
    const int y = Margin - verticalScrollBar()->value();
    const QRect target(QPoint(x, y), size);
    painter.fillRect(target.translated(2, 2), QColor(0, 0, 0, 60));
    if (m_stretch == 1.0)
        painter.drawImage(target.topLeft(), m_image);
    else
        painter.drawImage(target, m_image);
}

void PageView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBars();
}

void PageView::scrollContentsBy(int, int)
{
    viewport()->update();
}

void PageView::wheelEvent(QWheelEvent* event)
{
    if (!event->modifiers().testFlag(Qt::ControlModifier)) {
        QAbstractScrollArea::wheelEvent(event);
        return;
    }
    // One notch is 120; touchpads send less at a time.
    m_wheelRest += event->angleDelta().y();
    const int steps = m_wheelRest / 120;
    m_wheelRest -= steps * 120;
    if (steps != 0)
        emit zoomStep(steps);
    event->accept();
}

void PageView::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_PageUp:
        emit pageStep(-1);
        break;
    case Qt::Key_PageDown:
        emit pageStep(1);
        break;
    case Qt::Key_Home:
        emit firstOrLast(false);
        break;
    case Qt::Key_End:
        emit firstOrLast(true);
        break;
    default:
        QAbstractScrollArea::keyPressEvent(event);
    }
}

PreviewPane::PreviewPane(QWidget* parent) : QWidget(parent), m_renderer(new Renderer(this))
{
    setObjectName(QStringLiteral("Vorschau"));
    setAccessibleName(QStringLiteral("Vorschau"));

    auto tool = [this](const QString& name, const QString& accessible, const QString& tip) {
        auto* b = new QToolButton(this);
        b->setObjectName(name);
        b->setAccessibleName(accessible);
        b->setToolTip(tip);
        return b;
    };
    b_VorigeSeite = tool(QStringLiteral("b_VorigeSeite"), QStringLiteral("Vorige Seite"),
                         QStringLiteral("Vorige Seite (Bild auf)"));
    b_VorigeSeite->setArrowType(Qt::LeftArrow);
    b_NaechsteSeite = tool(QStringLiteral("b_NaechsteSeite"), QStringLiteral("Nächste Seite"),
                           QStringLiteral("Nächste Seite (Bild ab)"));
    b_NaechsteSeite->setArrowType(Qt::RightArrow);
    lbl_Seite = new QLabel(this);
    lbl_Seite->setObjectName(QStringLiteral("lbl_Seite"));
    lbl_Seite->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("Seite 888 von 888")));
    lbl_Seite->setAlignment(Qt::AlignCenter);
    o_Seitenbreite = tool(QStringLiteral("o_Seitenbreite"), QStringLiteral("Seitenbreite"),
                          QStringLiteral("Die Seite so breit wie die Vorschau zeigen"));
    o_Seitenbreite->setText(QStringLiteral("Seitenbreite"));
    o_GanzeSeite = tool(QStringLiteral("o_GanzeSeite"), QStringLiteral("Ganze Seite"),
                        QStringLiteral("Die ganze Seite in der Vorschau zeigen"));
    o_GanzeSeite->setText(QStringLiteral("Ganze Seite"));
    for (QToolButton* b : {o_Seitenbreite, o_GanzeSeite}) {
        b->setCheckable(true);
        b->setAutoExclusive(true);
    }
    o_Seitenbreite->setChecked(true);
    b_Oeffnen = new QPushButton(QStringLiteral("Ö&ffnen"), this);
    b_Oeffnen->setObjectName(QStringLiteral("b_Oeffnen"));
    b_Oeffnen->setAccessibleName(QStringLiteral("Im Standardprogramm öffnen"));
    b_Oeffnen->setToolTip(QStringLiteral("Die Datei im Standardprogramm des Systems öffnen"));

    auto* bar = new QHBoxLayout;
    bar->setContentsMargins(0, 0, 0, 0);
    bar->addWidget(b_VorigeSeite);
    bar->addWidget(lbl_Seite);
    bar->addWidget(b_NaechsteSeite);
    bar->addSpacing(8);
    bar->addWidget(o_Seitenbreite);
    bar->addWidget(o_GanzeSeite);
    bar->addStretch(1);
    bar->addWidget(b_Oeffnen);

    Seitenansicht = new PageView(this);
    Seitenansicht->setObjectName(QStringLiteral("Seitenansicht"));
    Seitenansicht->setAccessibleName(QStringLiteral("Seitenansicht"));

    m_messagePanel = new QWidget(this);
    auto* messageLayout = new QVBoxLayout(m_messagePanel);
    lbl_Hinweis = new QLabel(m_messagePanel);
    lbl_Hinweis->setObjectName(QStringLiteral("lbl_Hinweis"));
    lbl_Hinweis->setWordWrap(true);
    lbl_Hinweis->setAlignment(Qt::AlignCenter);
    lbl_Hinweis->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_factsPanel = new QWidget(m_messagePanel);
    auto* facts = new QFormLayout(m_factsPanel);
    const char* labels[] = {"Name:", "Typ:", "Größe:", "Geändert:"};
    for (int i = 0; i < 4; ++i) {
        m_facts[i] = new QLabel(m_factsPanel);
        m_facts[i]->setTextInteractionFlags(Qt::TextSelectableByMouse);
        m_facts[i]->setWordWrap(true);
        facts->addRow(QString::fromUtf8(labels[i]), m_facts[i]);
    }
    messageLayout->addStretch(1);
    messageLayout->addWidget(lbl_Hinweis);
    messageLayout->addWidget(m_factsPanel, 0, Qt::AlignHCenter);
    messageLayout->addStretch(2);

    m_pages = new QWidget(this);
    m_stack = new QStackedLayout(m_pages);
    m_stack->addWidget(Seitenansicht);
    m_stack->addWidget(m_messagePanel);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(bar);
    layout->addWidget(m_pages, 1);

    m_waitNotice = new QTimer(this);
    m_waitNotice->setSingleShot(true);
    m_waitNotice->setInterval(250);
    connect(m_waitNotice, &QTimer::timeout, this, [this] { showMessage(waitingText()); });
    m_redraw = new QTimer(this);
    m_redraw->setSingleShot(true);
    m_redraw->setInterval(80);
    connect(m_redraw, &QTimer::timeout, this, &PreviewPane::requestPage);

    connect(m_renderer, &Renderer::ready, this, &PreviewPane::onReady);
    connect(b_VorigeSeite, &QToolButton::clicked, this, [this] { setPage(m_page - 1); });
    connect(b_NaechsteSeite, &QToolButton::clicked, this, [this] { setPage(m_page + 1); });
    connect(o_Seitenbreite, &QToolButton::clicked, this, [this] { setFit(Fit::Width); });
    connect(o_GanzeSeite, &QToolButton::clicked, this, [this] { setFit(Fit::Page); });
    connect(b_Oeffnen, &QPushButton::clicked, this, [this] { openExternally(this, m_path); });
    connect(Seitenansicht, &PageView::pageStep, this, [this](int step) { setPage(m_page + step); });
    connect(Seitenansicht, &PageView::firstOrLast, this,
            [this](bool last) { setPage(last ? m_pageCount - 1 : 0); });
    connect(Seitenansicht, &PageView::zoomStep, this,
            [this](int steps) { setZoom(m_zoom * std::pow(1.25, steps)); });
    showFile(QString());
}

PreviewPane::~PreviewPane() = default;

void PreviewPane::showFile(const QString& path)
{
    m_path = path;
    m_page = 0;
    m_pageCount = 0;
    m_zoom = 1.0;
    Seitenansicht->clear();
    m_redraw->stop();
    if (path.isEmpty()) {
        m_renderer->cancel();
        m_waitNotice->stop();
        showMessage(QStringLiteral("Keine Datei ausgewählt."));
    } else {
        m_stack->setCurrentWidget(Seitenansicht);
        requestPage();
        m_waitNotice->start();
    }
    updateControls();
}

void PreviewPane::setPage(int page)
{
    if (m_pageCount <= 0)
        return;
    page = std::clamp(page, 0, m_pageCount - 1);
    if (page == m_page)
        return;
    m_page = page;
    updateControls();
    requestPage();
}

void PreviewPane::setFit(Fit fit)
{
    (fit == Fit::Width ? o_Seitenbreite : o_GanzeSeite)->setChecked(true);
    if (fit == m_fit)
        return;
    m_fit = fit;
    m_zoom = 1.0;
    if (!m_path.isEmpty())
        requestPage();
}

void PreviewPane::setZoom(double zoom)
{
    zoom = std::clamp(zoom, MinZoom, MaxZoom);
    if (std::abs(zoom - m_zoom) < 1e-9)
        return;
    m_zoom = zoom;
    if (!Seitenansicht->image().isNull())
        Seitenansicht->setStretch(m_zoom / m_zoomShown);
    if (m_pageCount > 0)
        m_redraw->start();
}

QSize PreviewPane::pageBox(Fit fit) const
{
    // Measured on the area that page and notice share: whichever is hidden is not laid out, and
    // a scroll bar coming or going must not change the page's size.
    const int frame = 2 * Seitenansicht->frameWidth() + 2 * PageView::Margin;
    int width = m_pages->width() - frame;
    if (fit == Fit::Width)
        width -= std::max(Seitenansicht->verticalScrollBar()->sizeHint().width(),
                          style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, Seitenansicht));
    const double ratio = devicePixelRatioF();
    return QSize(static_cast<int>(std::max(width, 1) * ratio),
                 static_cast<int>(std::max(m_pages->height() - frame, 1) * ratio));
}

void PreviewPane::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (!m_path.isEmpty() && m_pageCount > 0)
        m_redraw->start();
}

QString PreviewPane::message() const
{
    return m_stack->currentWidget() == m_messagePanel ? lbl_Hinweis->text() : QString();
}

const QImage& PreviewPane::shownImage() const
{
    return Seitenansicht->image();
}

void PreviewPane::requestPage()
{
    if (m_path.isEmpty())
        return;
    Request request;
    request.path = m_path;
    request.page = m_page;
    request.fit = m_fit;
    request.zoom = m_zoom;
    request.box = pageBox(m_fit);
    m_renderer->request(request);
}

void PreviewPane::onReady(const Result& result)
{
    if (result.path != m_path)
        return;
    m_waitNotice->stop();
    m_pageCount = result.pageCount;
    if (!result.image.isNull()) {
        m_page = result.page;
        m_zoomShown = m_zoom;
        Seitenansicht->setImage(result.image);
        m_stack->setCurrentWidget(Seitenansicht);
        updateControls();
        emit pageShown(m_path, m_page);
        return;
    }
    if (result.kind == Kind::Other && result.reason.isEmpty()) {
        showMessage(QStringLiteral("Für diesen Dateityp gibt es keine Vorschau."), result.facts);
    } else {
        // A page that fails leaves the others reachable; a file that fails shows its name too.
        showMessage(result.reason, result.pageCount > 0 ? FileFacts{} : result.facts);
    }
    updateControls();
    emit messageShown(m_path, lbl_Hinweis->text());
}

void PreviewPane::showMessage(const QString& text, const FileFacts& facts)
{
    lbl_Hinweis->setText(text);
    const QString values[] = {facts.name, facts.type, facts.size, facts.modified};
    for (int i = 0; i < 4; ++i)
        m_facts[i]->setText(values[i]);
    m_factsPanel->setVisible(!facts.name.isEmpty());
    m_stack->setCurrentWidget(m_messagePanel);
}

void PreviewPane::updateControls()
{
    const bool paged = m_pageCount > 0;
    lbl_Seite->setText(paged ? QStringLiteral("Seite %1 von %2").arg(m_page + 1).arg(m_pageCount)
                             : QString());
    b_VorigeSeite->setEnabled(paged && m_page > 0);
    b_NaechsteSeite->setEnabled(paged && m_page + 1 < m_pageCount);
    b_Oeffnen->setEnabled(!m_path.isEmpty());
}

void PreviewPane::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_PageUp)
        setPage(m_page - 1);
    else if (event->key() == Qt::Key_PageDown)
        setPage(m_page + 1);
    else
        QWidget::keyPressEvent(event);
}

bool PreviewPane::openExternally(QWidget* parent, const QString& path)
{
    if (path.isEmpty())
        return false;
    const QString name = QFileInfo(path).fileName();
    if (!QFileInfo::exists(path)) {
        MessageBox::show(parent, QMessageBox::Warning, QStringLiteral("Öffnen"),
                         QStringLiteral("Die Datei \u201e%1\u201c wurde nicht gefunden.").arg(name));
        return false;
    }
    if (SystemServices::openDocument(path))
        return true;
    MessageBox::show(
        parent, QMessageBox::Warning, QStringLiteral("Öffnen"),
        QStringLiteral("Für die Datei \u201e%1\u201c ist kein Programm zum Anzeigen eingerichtet, "
                       "oder es ließ sich nicht starten.")
            .arg(name));
    return false;
}

} // namespace preview
