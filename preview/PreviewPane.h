#pragma once

#include "PreviewRenderer.h"

#include <QAbstractScrollArea>
#include <QWidget>

class QFormLayout;
class QLabel;
class QPushButton;
class QStackedLayout;
class QTimer;
class QToolButton;

namespace preview {

// The page as drawn, in a scroll area: Bild auf/ab turn pages, Ctrl with the wheel zooms.
class PageView : public QAbstractScrollArea
{
    Q_OBJECT

public:
    explicit PageView(QWidget* parent = nullptr);

    void setImage(const QImage& image);
    void clear();
    const QImage& image() const { return m_image; }
    // Draws the image this much larger until a new one arrives, so zooming answers at once.
    void setStretch(double stretch);
    static constexpr int Margin = 8;

signals:
    void pageStep(int step);
    void firstOrLast(bool last);
    void zoomStep(int steps);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    QSize shownSize() const;
    void updateScrollBars();

    QImage m_image;
    double m_stretch = 1.0;
    int m_wheelRest = 0;
};

// The preview of one file beside the file list: its pages with "Seite k von n", fitting to the
// width or the whole page, zoom, and a button that opens the file in the system's viewer. A file
// without pages shows the German reason, or its name, type, size and date.
class PreviewPane : public QWidget
{
    Q_OBJECT

public:
    explicit PreviewPane(QWidget* parent = nullptr);
    ~PreviewPane() override;

    // An empty path empties the pane.
    void showFile(const QString& path);
    const QString& file() const { return m_path; }
    int page() const { return m_page; }
    int pageCount() const { return m_pageCount; }
    void setPage(int page);
    void setFit(Fit fit);
    Fit fit() const { return m_fit; }
    void setZoom(double zoom);
    double zoom() const { return m_zoom; }
    // The reason or notice shown instead of a page; empty while a page shows.
    QString message() const;
    const QImage& shownImage() const;
    // Room for the page, in device pixels: the width beside a scroll bar for fitting the width,
    // the whole area for fitting the page.
    QSize pageBox(Fit fit) const;
    Renderer& renderer() { return *m_renderer; }

    // Opens the file in the system's viewer; a German message box when that fails.
    static bool openExternally(QWidget* parent, const QString& path);

    static constexpr double MinZoom = 0.25;
    static constexpr double MaxZoom = 6.0;

    QToolButton* b_VorigeSeite = nullptr;
    QLabel* lbl_Seite = nullptr;
    QToolButton* b_NaechsteSeite = nullptr;
    QToolButton* o_Seitenbreite = nullptr;
    QToolButton* o_GanzeSeite = nullptr;
    QPushButton* b_Oeffnen = nullptr;
    PageView* Seitenansicht = nullptr;
    QLabel* lbl_Hinweis = nullptr;

signals:
    void pageShown(const QString& path, int page);
    void messageShown(const QString& path, const QString& message);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void requestPage();
    void onReady(const Result& result);
    void showMessage(const QString& text, const FileFacts& facts = {});
    void updateControls();

    Renderer* m_renderer;
    QString m_path;
    int m_page = 0;
    int m_pageCount = 0;
    Fit m_fit = Fit::Width;
    double m_zoom = 1.0;
    double m_zoomShown = 1.0; // the zoom the shown image was drawn at
    QWidget* m_pages = nullptr;
    QStackedLayout* m_stack = nullptr;
    QWidget* m_messagePanel = nullptr;
    QWidget* m_factsPanel = nullptr;
    QLabel* m_facts[4] = {};
    QTimer* m_waitNotice = nullptr;
    QTimer* m_redraw = nullptr;
};

} // namespace preview
