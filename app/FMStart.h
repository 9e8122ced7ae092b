#pragma once

#include <QMainWindow>

class MaskedDateEdit;
class QAction;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPushButton;
class QRadioButton;
class QSplitter;
class QListWidgetItem;
class frmProgrammverlauf;
namespace preview {
class PreviewPane;
}

// The program's main window: the document file list, the document link entry and the
// hand-over.
class FMStart : public QMainWindow
{
    Q_OBJECT

public:
    explicit FMStart(QWidget* parent = nullptr);
    ~FMStart() override;

    // Logs in (repeating until a user is logged in or the program ends), sets the caption and
    // loads the keyword list; false when the program ended during the login.
    bool start();
    void setStartCaption();
    static QString caption(const QString& userName, const QString& firma, const QString& filiale);

    // Handlers, named as the window's events.
    void MatchListeLaden();
    void Dokument_Click(int index);
    void BilderLaden();
    void FileListe_Click();
    void m_RechtsImage_Click(int index);
    void cmb_LinkBelArt_LostFocus();
    void o_KontoKreis_Click(int index);
    // Files dropped from a file manager: the same duplicate rule as chosen files.
    void addDroppedFiles(const QStringList& paths);
    void OKButton_Click();
    void SucheBelegnummer_Click();
    void b_KKRSuche_Click();
    void b_BAU_Click();
    // keyCode and shift as the window system's key events count them (Home is 36; shift 1,
    // control 2, alt 4).
    void txt_KKRNr_KeyUp(int keyCode, int shift);
    void txt_BAU_KeyUp(int keyCode, int shift);
    static constexpr int KeyHome = 36;
    bool handoverRunning() const { return m_running; }
    // The text of the date field as the hand-over reads it ("  .  ." when empty).
    QString datumText() const;
    // Why the entry at index was not handed over; empty for entries not tried yet.
    QString failureReason(int index) const;
    // The state the list shows for the entry at index ("wartet", "wird übergeben …", ...).
    QString stateText(int index) const;

    // The documented geometry, in pixels: the window's first and smallest size.
    QSize documentedSize() const;
    // Window size and splitter position, per user, in the settings store's section of their own.
    void saveWindowState() const;
    void restoreWindowState();
    static QString windowSection() { return QStringLiteral("Hauptfenster"); }

    QString KontoKreisCode() const { return m_kontoKreisCode; }
    int AuswahlIndex() const { return m_auswahlIndex; }
    QStringList files() const;

    // The open-file dialog's filter as the program defines it, and in Qt's notation.
    static QString fileFilter();
    static QString toQtFilter(const QString& filter);

    // Controls, named as documented.
    QListWidget* FileListe = nullptr;
    QSplitter* Teiler = nullptr;
    preview::PreviewPane* Vorschau = nullptr;
    QPushButton* Dokument[2] = {};
    QPushButton* OKButton = nullptr;
    QPushButton* Command1 = nullptr;
    QGroupBox* fr_KontoKreis = nullptr;
    QLabel* Label1 = nullptr;
    QComboBox* cmb_Match = nullptr;
    QLabel* Label2 = nullptr;
    QComboBox* cmb_LinkBelArt = nullptr;
    QLabel* Label3 = nullptr;
    QLineEdit* txt_LinkBelNr = nullptr;
    QPushButton* SucheBelegnummer = nullptr;
    MaskedDateEdit* cmb_Datum = nullptr;
    QRadioButton* o_KontoKreis[2] = {};
    QLineEdit* txt_KKRNr = nullptr;
    QPushButton* b_KKRSuche = nullptr;
    QLabel* lbl_BAU = nullptr;
    QLineEdit* txt_BAU = nullptr;
    QPushButton* b_BAU = nullptr;
    QGroupBox* fr_Passwort = nullptr;
    QLineEdit* txt_Passwort = nullptr;
    QMenu* mRechtsImage = nullptr;
    QAction* mDatei[2] = {};
    QAction* mLogin = nullptr;
    QAction* Beenden = nullptr;
    QAction* HilfeUeber = nullptr;
    QAction* mProgrammverlauf = nullptr;
    QAction* m_RechtsImage[1] = {};

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The log window, created on first use, owned by this window.
    frmProgrammverlauf& logWindow();
    void buildControls();
    void buildMenus();
    void appendFiles(const QStringList& paths);
    void layoutControls();
    void showSelectedFile();
    void setFileState(QListWidgetItem* item, int state, const QString& reason = QString());

    void setRunning(bool running);
    // Shows why nothing may end or log in now; true while a hand-over runs.
    bool refusedWhileRunning();
    // Asks before the program ends with files listed; false while a hand-over runs.
    bool mayEnd();

    QString m_kontoKreisCode = QStringLiteral("K");
    bool m_running = false;
    QLabel* m_progressText = nullptr;
    class QProgressBar* m_progress = nullptr;
    int m_auswahlIndex = -1;
    int m_listTwips = 0; // the list's width beside the preview, as the user left it
};
