#include "FMStart.h"

#include "DocumentSearch.h"
#include "FileListDelegate.h"
#include "FileListMenu.h"
#include "Handover.h"
#include "about/frmAbout.h"
#include "app/frmProgrammverlauf.h"
#include "cache/FMPass.h"
#include "cache/cacheapi.h"
#include "lookup/frmLookup.h"
#include "preview/PreviewPane.h"
#include "search/VelmorSu.h"
#include "widgets/FileDialog.h"
#include "widgets/MaskedDateEdit.h"
#include "widgets/MessageBox.h"
#include "widgets/PasswordEcho.h"
#include "widgets/ScreenPointer.h"
#include "widgets/Twips.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSplitter>
#include <QStatusBar>

namespace {

// Places a control by its documented geometry in twips.
void place(QWidget* w, int left, int top, int width, int height)
{
    w->setGeometry(Twips::toPixels(left), Twips::toPixels(top), Twips::toPixels(width),
                   Twips::toPixels(height));
}

template <typename T> T* named(T* widget, const QString& name)
{
    widget->setObjectName(name);
    return widget;
}

// The documented size of the window's area, in twips; what the window has beyond it goes to the
// file list and the preview.
constexpr int AreaWidth = 9720;
constexpr int AreaHeight = 6120;
constexpr int ListWidth = 4200;
// Below this width the preview has no room and stays hidden, so the list keeps its own.
constexpr int PreviewMinWidth = 2400;

std::unique_ptr<QSettings> windowSettings()
{
    auto settings = std::make_unique<QSettings>(QSettings::UserScope, QStringLiteral("VELMOR"),
                                                QStringLiteral("Cache Login"));
    settings->beginGroup(FMStart::windowSection());
    return settings;
}

constexpr int NumberLeft = 120;
constexpr int NumberWidthNarrow = 1455;
constexpr int NumberWidthWide = 3015;

// The key code of a key event as the key-up handlers count them; only Home has a use there.
int keyCodeOf(const QKeyEvent* event)
{
    if (event->key() == Qt::Key_Home)
        return FMStart::KeyHome;
    if ((event->key() >= Qt::Key_0 && event->key() <= Qt::Key_9) ||
        (event->key() >= Qt::Key_A && event->key() <= Qt::Key_Z))
        return event->key();
    return 0;
}

int shiftOf(const QKeyEvent* event)
{
    const Qt::KeyboardModifiers m = event->modifiers();
    return (m.testFlag(Qt::ShiftModifier) ? 1 : 0) | (m.testFlag(Qt::ControlModifier) ? 2 : 0) |
           (m.testFlag(Qt::AltModifier) ? 4 : 0);
}

} // namespace

FMStart::FMStart(QWidget* parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("FMStart"));
    buildControls();
    buildMenus();
    TrackWindowOrder();
    // The login dialog and the log window belong to this window.
    FMPass& login = FMPass::instance();
    login.setParent(this, login.windowFlags());
    setLogWindowCreator([this] { logWindow(); });
    setMinimumSize(documentedSize());
    resize(documentedSize());
    restoreWindowState();
}

FMStart::~FMStart()
{
    // The login dialog lives on after this window; it must not reach back into a deleted one.
    FMPass& login = FMPass::instance();
    login.setMainWindow(nullptr, nullptr);
    login.setParent(nullptr, login.windowFlags());
    setLogWindowCreator(nullptr);
}

void FMStart::buildControls()
{
    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("FMStartFlaeche"));
    setCentralWidget(central);
    central->installEventFilter(this);

    Teiler = named(new QSplitter(Qt::Horizontal, central), QStringLiteral("Teiler"));
    Teiler->setChildrenCollapsible(false);
    FileListe = named(new QListWidget(Teiler), QStringLiteral("FileListe"));
    FileListe->setAccessibleName(QStringLiteral("Dateiliste"));
    FileListe->setAcceptDrops(true);
    FileListe->viewport()->setAcceptDrops(true);
    FileListe->viewport()->installEventFilter(this);
    FileListe->installEventFilter(this);
    FileListe->setItemDelegate(new FileListDelegate(FileListe));
    FileListe->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    connect(FileListe, &QListWidget::itemSelectionChanged, this, &FMStart::FileListe_Click);
    connect(FileListe, &QListWidget::itemClicked, this, &FMStart::FileListe_Click);
    connect(FileListe, &QListWidget::currentItemChanged, this, &FMStart::showSelectedFile);
    connect(FileListe, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* item) {
        preview::PreviewPane::openExternally(this, item->data(FileListDelegate::PathRole).toString());
    });
    Vorschau = new preview::PreviewPane(Teiler);
    // The user decides how narrow it gets; its tool bar is then cut at the right.
    Vorschau->setMinimumWidth(1);
    Teiler->setStretchFactor(0, 1);
    Teiler->setStretchFactor(1, 2);
    Vorschau->hide();
    connect(Teiler, &QSplitter::splitterMoved, this,
            [this] { m_listTwips = static_cast<int>(Twips::fromPixels(FileListe->width())); });

    Dokument[0] =
        named(new QPushButton(QStringLiteral("Dokument hinzufügen"), central), QStringLiteral("Dokument(0)"));
    Dokument[1] =
        named(new QPushButton(QStringLiteral("Eingaben löschen"), central), QStringLiteral("Dokument(1)"));
    for (int i = 0; i < 2; ++i)
        connect(Dokument[i], &QPushButton::clicked, this, [this, i] { Dokument_Click(i); });

    fr_KontoKreis = named(new QGroupBox(QStringLiteral(" Dokumentverknüpfung"), central),
                          QStringLiteral("fr_KontoKreis"));
    QWidget* frame = fr_KontoKreis;

    Label1 = named(new QLabel(QStringLiteral("Suchbegriff"), frame), QStringLiteral("Label1"));
    cmb_Match = named(new QComboBox(frame), QStringLiteral("cmb_Match"));
    cmb_Match->setEditable(true);
    Label1->setBuddy(cmb_Match);
    place(Label1, 120, 300, 2400, 240);
    place(cmb_Match, 120, 540, 4800, 330);

    Label2 = named(new QLabel(QStringLiteral("Belegart"), frame), QStringLiteral("Label2"));
    cmb_LinkBelArt = named(new QComboBox(frame), QStringLiteral("cmb_LinkBelArt"));
    cmb_LinkBelArt->setEditable(true);
    cmb_LinkBelArt->setInsertPolicy(QComboBox::NoInsert);
    cmb_LinkBelArt->addItems(QStringList{QString()} + Handover::typeTexts());
    cmb_LinkBelArt->setCurrentIndex(0);
    Label2->setBuddy(cmb_LinkBelArt);
    place(Label2, 120, 960, 2400, 240);
    place(cmb_LinkBelArt, 120, 1200, 4800, 330);
    connect(cmb_LinkBelArt, &QComboBox::currentTextChanged, this, &FMStart::cmb_LinkBelArt_LostFocus);
    connect(cmb_LinkBelArt, &QComboBox::activated, this, &FMStart::cmb_LinkBelArt_LostFocus);
    cmb_LinkBelArt->installEventFilter(this);

    Label3 = named(new QLabel(QStringLiteral("Belegnummer"), frame), QStringLiteral("Label3"));
    txt_LinkBelNr = named(new QLineEdit(frame), QStringLiteral("txt_LinkBelNr"));
    Label3->setBuddy(txt_LinkBelNr);
    SucheBelegnummer =
        named(new QPushButton(QStringLiteral("Suche"), frame), QStringLiteral("SucheBelegnummer"));
    SucheBelegnummer->setAccessibleName(QStringLiteral("Suche Belegnummer"));
    cmb_Datum = named(new MaskedDateEdit(frame), QStringLiteral("cmb_Datum"));
    cmb_Datum->setTwoDigitYearInCalendar(true);
    cmb_Datum->setAccessibleName(QStringLiteral("Belegdatum"));
    place(Label3, 120, 1620, 2400, 240);
    // Until the document type first changes: number field narrow, button right of it, date after the button.
    place(txt_LinkBelNr, NumberLeft, 1860, NumberWidthNarrow, 330);
    place(SucheBelegnummer, NumberLeft + NumberWidthNarrow, 1860, 840, 330);
    place(cmb_Datum, NumberLeft + NumberWidthNarrow + 960, 1860, 1800, 330);

    o_KontoKreis[0] =
        named(new QRadioButton(QStringLiteral("Kunde"), frame), QStringLiteral("o_KontoKreis(0)"));
    o_KontoKreis[1] =
        named(new QRadioButton(QStringLiteral("Lieferant"), frame), QStringLiteral("o_KontoKreis(1)"));
    o_KontoKreis[0]->setChecked(true);
    place(o_KontoKreis[0], 120, 2340, 1300, 300);
    place(o_KontoKreis[1], 1500, 2340, 1500, 300);
    for (int i = 0; i < 2; ++i)
        connect(o_KontoKreis[i], &QRadioButton::clicked, this, [this, i] { o_KontoKreis_Click(i); });

    txt_KKRNr = named(new QLineEdit(QStringLiteral("0"), frame), QStringLiteral("txt_KKRNr"));
    txt_KKRNr->setAccessibleName(QStringLiteral("Kontonummer"));
    b_KKRSuche = named(new QPushButton(QStringLiteral("Suche"), frame), QStringLiteral("b_KKRSuche"));
    b_KKRSuche->setAccessibleName(QStringLiteral("Suche Kontonummer"));
    place(txt_KKRNr, 120, 2700, 1455, 330);
    place(b_KKRSuche, 1575, 2700, 840, 330);
    txt_KKRNr->installEventFilter(this);

    lbl_BAU = named(new QLabel(QStringLiteral("Baustellenummer"), frame), QStringLiteral("lbl_BAU"));
    txt_BAU = named(new QLineEdit(frame), QStringLiteral("txt_BAU"));
    lbl_BAU->setBuddy(txt_BAU);
    b_BAU = named(new QPushButton(QStringLiteral("Suche"), frame), QStringLiteral("b_BAU"));
    b_BAU->setAccessibleName(QStringLiteral("Suche Baustelle"));
    place(lbl_BAU, 120, 3180, 2400, 240);
    place(txt_BAU, 120, 3420, 1455, 330);
    place(b_BAU, 1575, 3420, 840, 330);
    txt_BAU->installEventFilter(this);
    connect(SucheBelegnummer, &QPushButton::clicked, this, &FMStart::SucheBelegnummer_Click);
    connect(b_KKRSuche, &QPushButton::clicked, this, &FMStart::b_KKRSuche_Click);
    connect(b_BAU, &QPushButton::clicked, this, &FMStart::b_BAU_Click);

    fr_Passwort = named(new QGroupBox(QStringLiteral(" Passwort"), central), QStringLiteral("fr_Passwort"));
    txt_Passwort = named(new QLineEdit(fr_Passwort), QStringLiteral("txt_Passwort"));
    ShowPasswordAsStars(txt_Passwort);
    txt_Passwort->setToolTip(QStringLiteral("Passwort für Archivzugriff auf das Dokument"));
    txt_Passwort->setAccessibleName(QStringLiteral("Passwort"));
    place(txt_Passwort, 120, 300, 2880, 330);

    OKButton =
        named(new QPushButton(QStringLiteral("Übernehmen ins &Archiv"), central), QStringLiteral("OKButton"));
    Command1 = named(new QPushButton(QStringLiteral("B&eenden"), central), QStringLiteral("Command1"));
    connect(Command1, &QPushButton::clicked, this, &QWidget::close);
    connect(OKButton, &QPushButton::clicked, this, &FMStart::OKButton_Click);

    m_progressText = named(new QLabel(this), QStringLiteral("Fortschritt"));
    m_progress = named(new QProgressBar(this), QStringLiteral("FortschrittBalken"));
    m_progress->setAccessibleName(QStringLiteral("Übergabe-Fortschritt"));
    statusBar()->addWidget(m_progressText);
    statusBar()->addPermanentWidget(m_progress);
    m_progress->hide();

    // Keyboard order follows the work: files, then the link from top to bottom, then the hand-over.
    const QList<QWidget*> order = {
        FileListe,        Dokument[0], Dokument[1],     cmb_Match,       cmb_LinkBelArt, txt_LinkBelNr,
        SucheBelegnummer, cmb_Datum,   o_KontoKreis[0], o_KontoKreis[1], txt_KKRNr,      b_KKRSuche,
        txt_BAU,          b_BAU,       txt_Passwort,    OKButton,        Command1};
    for (qsizetype i = 1; i < order.size(); ++i)
        setTabOrder(order.at(i - 1), order.at(i));
    layoutControls();
}

QSize FMStart::documentedSize() const
{
    return {Twips::toPixels(AreaWidth), Twips::toPixels(AreaHeight) + menuBar()->sizeHint().height() + 28};
}

void FMStart::layoutControls()
{
    // Everything keeps its documented place and size in twips; the extra width and height of a
    // larger window go to the list and the preview, and the controls at the right and bottom
    // move with the window's edges.
    const QWidget* area = centralWidget();
    const int dx = std::max(0, static_cast<int>(Twips::fromPixels(area->width())) - AreaWidth);
    const int dy = std::max(0, static_cast<int>(Twips::fromPixels(area->height())) - AreaHeight);
    const bool roomForPreview = dx >= PreviewMinWidth;
    const bool previewWasShown = !Vorschau->isHidden();
    place(Teiler, 120, 120, ListWidth + dx, 4920 + dy);
    place(Dokument[0], 120, 5160 + dy, 2040, 420);
    place(Dokument[1], 2280, 5160 + dy, 2040, 420);
    place(fr_KontoKreis, 4440 + dx, 120, 5160, 4080);
    place(fr_Passwort, 4440 + dx, 4260, 5160, 780);
    place(OKButton, 4440 + dx, 5160 + dy, 2760, 420);
    place(Command1, 7320 + dx, 5160 + dy, 2280, 420);
    if (roomForPreview == previewWasShown)
        return;
    Vorschau->setVisible(roomForPreview);
    if (roomForPreview) {
        // The list as wide as the user left it, within what leaves the preview its room.
        const int total = Teiler->width() - Teiler->handleWidth();
        const int wanted = m_listTwips > 0
                               ? Twips::toPixels(m_listTwips)
                               : Twips::toPixels(ListWidth) + (total - Twips::toPixels(ListWidth)) / 5;
        const int list =
            std::clamp(wanted, Twips::toPixels(ListWidth), total - Twips::toPixels(PreviewMinWidth));
        Teiler->setSizes({list, total - list});
        showSelectedFile();
    } else {
        Vorschau->showFile(QString());
        Teiler->setSizes({Teiler->width(), 0});
    }
}

void FMStart::saveWindowState() const
{
    auto settings = windowSettings();
    settings->setValue(QStringLiteral("Groesse"), size());
    const int list =
        Vorschau->isHidden() ? m_listTwips : static_cast<int>(Twips::fromPixels(FileListe->width()));
    if (list > 0)
        settings->setValue(QStringLiteral("Teiler"), list);
}

void FMStart::restoreWindowState()
{
    auto settings = windowSettings();
    m_listTwips = settings->value(QStringLiteral("Teiler"), 0).toInt();
    const QSize size = settings->value(QStringLiteral("Groesse")).toSize();
    if (size.isValid())
        resize(size.expandedTo(minimumSize()));
}

void FMStart::showSelectedFile()
{
    // The preview follows the entry the user is on, and only while it has room to show it.
    const QListWidgetItem* item = FileListe->currentItem();
    if (Vorschau->isHidden() || !item)
        Vorschau->showFile(QString());
    else if (const QString path = item->data(FileListDelegate::PathRole).toString(); path != Vorschau->file())
        Vorschau->showFile(path);
}

void FMStart::setFileState(QListWidgetItem* item, int state, const QString& reason)
{
    const QString path = item->data(FileListDelegate::PathRole).toString();
    const auto s = static_cast<FileListDelegate::State>(state);
    item->setData(FileListDelegate::StateRole, state);
    item->setData(FileListDelegate::ReasonRole, reason);
    QString text = FileListDelegate::stateText(s);
    if (!reason.isEmpty())
        text += QStringLiteral(": ") + reason;
    item->setToolTip(reason.isEmpty() ? path : path + QStringLiteral("\n") + text);
    const auto [folder, name] = FileListDelegate::folderAndName(path);
    item->setData(Qt::AccessibleTextRole, QStringLiteral("%1, %2, Ordner %3").arg(name, text, folder));
}

QString FMStart::stateText(int index) const
{
    const QListWidgetItem* item = FileListe->item(index);
    if (!item)
        return {};
    const auto state = static_cast<FileListDelegate::State>(item->data(FileListDelegate::StateRole).toInt());
    QString text = FileListDelegate::stateText(state);
    if (const QString reason = item->data(FileListDelegate::ReasonRole).toString(); !reason.isEmpty())
        text += QStringLiteral(": ") + reason;
    return text;
}

void FMStart::buildMenus()
{
    QMenu* datei = menuBar()->addMenu(QStringLiteral("&Datei"));
    datei->setObjectName(QStringLiteral("Datei"));
    mDatei[0] = named(datei->addAction(QStringLiteral("&Einfügen")), QStringLiteral("mDatei(0)"));
    mDatei[1] = named(datei->addAction(QStringLiteral("Lö&schen")), QStringLiteral("mDatei(1)"));
    datei->addSeparator()->setObjectName(QStringLiteral("nil1"));
    mLogin = named(datei->addAction(QStringLiteral("&Login")), QStringLiteral("mLogin"));
    datei->addSeparator()->setObjectName(QStringLiteral("nil"));
    Beenden = named(datei->addAction(QStringLiteral("&Beenden")), QStringLiteral("Beenden"));
    for (int i = 0; i < 2; ++i)
        connect(mDatei[i], &QAction::triggered, this, [this, i] { Dokument_Click(i); });
    connect(mLogin, &QAction::triggered, this, [this] {
        if (refusedWhileRunning())
            return;
        FMPass& login = FMPass::instance();
        login.show();
        login.raise();
        login.activateWindow();
    });
    connect(Beenden, &QAction::triggered, this, &QWidget::close);

    QMenu* hilfe = menuBar()->addMenu(QStringLiteral("&Hilfe"));
    hilfe->setObjectName(QStringLiteral("Hilfe"));
    HilfeUeber = named(hilfe->addAction(QStringLiteral("Hilfe &über ...")), QStringLiteral("HilfeUeber"));
    mProgrammverlauf =
        named(hilfe->addAction(QStringLiteral("Programmverlauf")), QStringLiteral("mProgrammverlauf"));
    connect(HilfeUeber, &QAction::triggered, this, [] { frmAbout::showModeless(); });
    connect(mProgrammverlauf, &QAction::triggered, this, [this] {
        frmProgrammverlauf& log = logWindow();
        log.show();
        log.raise();
    });

    mRechtsImage = new QMenu(this);
    mRechtsImage->setObjectName(QStringLiteral("mRechtsImage"));
    m_RechtsImage[0] =
        named(mRechtsImage->addAction(QStringLiteral("Entfernen")), QStringLiteral("m_RechtsImage(0)"));
    connect(m_RechtsImage[0], &QAction::triggered, this, [this] { m_RechtsImage_Click(0); });
    new FileListMenu(FileListe, mRechtsImage, m_RechtsImage[0]);
}

frmProgrammverlauf& FMStart::logWindow()
{
    frmProgrammverlauf& log = frmProgrammverlauf::instance();
    if (log.parentWidget() != this)
        log.setParent(this, log.windowFlags() | Qt::Window);
    return log;
}

QString FMStart::caption(const QString& userName, const QString& firma, const QString& filiale)
{
    return QStringLiteral("File ins Archivladen   Benutzer: ") + userName + QStringLiteral("  Firma: ") +
           firma + QStringLiteral(" Filiale: ") + filiale;
}

void FMStart::setStartCaption()
{
    const SessionContext& s = session();
    setWindowTitle(caption(s.UserName, s.Firma, s.Filiale));
}

bool FMStart::start()
{
    SessionContext& s = session();
    for (;;) {
        s.CommandLine = QCoreApplication::arguments().mid(1).join(u' ');
        s.LoginDialogForced = true;
        if (CacheLogin())
            break;
        if (s.ProgramEnded)
            return false;
    }
    FMPass::instance().setMainWindow(
        this, [this] { setStartCaption(); }, [this] { return mayEnd(); });
    setStartCaption();
    MatchListeLaden();
    return true;
}

void FMStart::MatchListeLaden()
{
    // The list is loaded anew; a keyword the user typed stays in the field.
    const QString typed = cmb_Match->currentText();
    cmb_Match->clear();
    bool ok = false;
    const int n = GetAppParameter(QStringLiteral("FXR"), QStringLiteral("M_Anzahl"), false)
                      .toString()
                      .trimmed()
                      .toShort(&ok);
    // A missing or unreadable count loads no keywords.
    for (int i = 1; ok && i <= n; ++i)
        cmb_Match->addItem(
            GetAppParameter(QStringLiteral("FXR"), QStringLiteral("M_%1").arg(i), false).toString());
    cmb_Match->setCurrentIndex(-1);
    cmb_Match->setEditText(typed);
    o_KontoKreis_Click(0);
}

void FMStart::Dokument_Click(int index)
{
    WriteLog(QStringLiteral("Dokument_Click"), QStringLiteral("Index"), QString::number(index));
    if (index == 0) {
        BilderLaden();
    } else if (index == 1) {
        WriteLog(QStringLiteral("Dokument_Click"), QStringLiteral("Bilder Löschen"), QString());
        FileListe->clear();
        m_auswahlIndex = -1;
        showSelectedFile();
    }
}

QString FMStart::fileFilter()
{
    QString filter = QStringLiteral("Scanfile Bildformat oder Acrobat (*.tif;*.pdf)|*.tif;*.pdf");
    for (const char* more : {"|Textdokument (*.doc;*.txt;*.ntf)|*.doc;*.txt;*.ntf", "|Tabelle (*.xls)|*.xls",
                             "|Präsentation (*.ppt)|*.ppt", "|Alle Dokumente (*.*)|*.*"})
        filter += QString::fromUtf8(more);
    return filter;
}

QString FMStart::toQtFilter(const QString& filter)
{
    // Pieces alternate description and pattern list; Qt shows the description and reads the
    // patterns from the parentheses, separated by blanks.
    const QStringList pieces = filter.split(u'|');
    QStringList entries;
    for (qsizetype i = 0; i + 1 < pieces.size(); i += 2) {
        const QString patterns = pieces.at(i + 1).split(u';').join(u' ');
        QString description = pieces.at(i);
        const qsizetype open = description.indexOf(u'(');
        if (open >= 0)
            description = description.left(open).trimmed();
        entries << QStringLiteral("%1 (%2)").arg(description, patterns);
    }
    return entries.join(QStringLiteral(";;"));
}

void FMStart::BilderLaden()
{
    WriteLog(QStringLiteral("BilderLaden"), QString(), QString());
    const QString directory =
        GetAppParameter(QStringLiteral("FXR"), QStringLiteral("DirScan"), false, QVariant(), true).toString();
    const QStringList chosen =
        FileDialog::getOpenFileNames(this, QStringLiteral("Öffnen"), directory, toQtFilter(fileFilter()));
    WriteLog(QStringLiteral("BilderLaden"), QStringLiteral("FileName"), chosen.value(0));
    if (chosen.value(0).isEmpty()) {
        MessageBox::show(this, QMessageBox::Critical, QStringLiteral("Abbruch"),
                         QStringLiteral("Abbruch: Kein File ausgewählt!"));
        WriteLog(QStringLiteral("BilderLaden"), QStringLiteral("Kein File ausgewählt"), QString());
        return;
    }
    appendFiles(chosen);
}

void FMStart::appendFiles(const QStringList& paths)
{
    for (const QString& path : paths) {
        if (files().contains(path)) {
            MessageBox::show(this, QMessageBox::NoIcon, QStringLiteral("Doppeltes File"),
                             QStringLiteral("Das ausgewählte File wurde bereits zur Liste hinzugefügt"));
            continue;
        }
        auto* item = new QListWidgetItem(path, FileListe);
        item->setData(Qt::UserRole, path);
        setFileState(item, FileListDelegate::Waiting);
    }
}

void FMStart::addDroppedFiles(const QStringList& paths)
{
    for (const QString& path : paths)
        WriteLog(QStringLiteral("FileListe_Drop"), QStringLiteral("Abgelegt"), path);
    appendFiles(paths);
}

QStringList FMStart::files() const
{
    QStringList paths;
    for (int i = 0; i < FileListe->count(); ++i)
        paths << FileListe->item(i)->data(Qt::UserRole).toString();
    return paths;
}

void FMStart::FileListe_Click()
{
    const int selected = FileListMenu::firstSelectedRow(FileListe);
    if (selected >= 0)
        m_auswahlIndex = selected;
}

void FMStart::m_RechtsImage_Click(int index)
{
    if (index == 0 && m_auswahlIndex >= 0 && m_auswahlIndex < FileListe->count()) {
        delete FileListe->takeItem(m_auswahlIndex);
        FileListMenu::clearSelection(FileListe);
        m_auswahlIndex = -1;
    }
}

void FMStart::cmb_LinkBelArt_LostFocus()
{
    const QString code = StrPiece(cmb_LinkBelArt->currentText(), u' ', 1, QString());
    const bool dated = code == QLatin1String("AU") || code == QLatin1String("RE");
    const int width = Twips::toPixels(dated ? NumberWidthNarrow : NumberWidthWide);
    txt_LinkBelNr->resize(width, txt_LinkBelNr->height());
    cmb_Datum->setVisible(dated);
    SucheBelegnummer->move(txt_LinkBelNr->x() + width, SucheBelegnummer->y());
}

void FMStart::o_KontoKreis_Click(int index)
{
    if (index != 0 && index != 1)
        return;
    const bool customer = index == 0;
    lbl_BAU->setVisible(customer);
    txt_BAU->setVisible(customer);
    b_BAU->setVisible(customer);
    m_kontoKreisCode = customer ? QStringLiteral("K") : QStringLiteral("L");
}

bool FMStart::refusedWhileRunning()
{
    if (!m_running)
        return false;
    MessageBox::show(this, QMessageBox::Information, QStringLiteral("Archiv-Übergabe"),
                     QStringLiteral("Die Übergabe läuft noch."));
    return true;
}

bool FMStart::mayEnd()
{
    // Ending now would leave a published archive unregistered and lose the list.
    if (refusedWhileRunning())
        return false;
    return FileListe->count() == 0 ||
           MessageBox::show(
               this, QMessageBox::Question, QStringLiteral("Beenden"),
               QStringLiteral("Es stehen noch Dateien in der Liste.\r\nProgramm trotzdem beenden?"),
               QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
}

void FMStart::closeEvent(QCloseEvent* event)
{
    if (!session().ProgramEnded && !mayEnd()) {
        event->ignore();
        return;
    }
    saveWindowState();
    event->accept();
    if (session().ProgramEnded)
        return;
    CacheDisconnect();
    EndProgram();
}

bool FMStart::eventFilter(QObject* watched, QEvent* event)
{
    if (!FileListe || !cmb_LinkBelArt)
        return QMainWindow::eventFilter(watched, event);
    if (watched == centralWidget() && event->type() == QEvent::MouseButtonPress) {
        MatchListeLaden();
    } else if (watched == cmb_LinkBelArt && event->type() == QEvent::FocusOut) {
        cmb_LinkBelArt_LostFocus();
    } else if (watched == centralWidget() && event->type() == QEvent::Resize) {
        layoutControls();
    } else if ((watched == txt_KKRNr || watched == txt_BAU) && event->type() == QEvent::KeyRelease) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (!key->isAutoRepeat()) {
            if (watched == txt_KKRNr)
                txt_KKRNr_KeyUp(keyCodeOf(key), shiftOf(key));
            else
                txt_BAU_KeyUp(keyCodeOf(key), shiftOf(key));
        }
    } else if (watched == FileListe->viewport()) {
        if (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove) {
            auto* drag = static_cast<QDropEvent*>(event);
            if (drag->mimeData()->hasUrls()) {
                drag->acceptProposedAction();
                return true;
            }
        } else if (event->type() == QEvent::Drop) {
            auto* drop = static_cast<QDropEvent*>(event);
            QStringList paths;
            for (const QUrl& url : drop->mimeData()->urls())
                if (url.isLocalFile())
                    paths << url.toLocalFile();
            drop->acceptProposedAction();
            addDroppedFiles(paths);
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

QString FMStart::datumText() const
{
    return cmb_Datum->text();
}

QString FMStart::failureReason(int index) const
{
    const QListWidgetItem* item = FileListe->item(index);
    return item ? item->data(FileListDelegate::ReasonRole).toString() : QString();
}

void FMStart::setRunning(bool running)
{
    m_running = running;
    // Neither a click nor a Space on a focused "Beenden" may end the run; disabling the button
    // that has the focus would hand it on to "Beenden".
    Command1->setFocusPolicy(running ? Qt::NoFocus : Qt::StrongFocus);
    if (running && (focusWidget() == Command1 || focusWidget() == OKButton))
        centralWidget()->setFocus();
    // The list must not change under the run: its events keep running during the pauses.
    FileListe->setEnabled(!running);
    for (QWidget* w : {static_cast<QWidget*>(Dokument[0]), static_cast<QWidget*>(Dokument[1]),
                       static_cast<QWidget*>(OKButton)})
        w->setEnabled(!running);
    for (QAction* a : {mDatei[0], mDatei[1], m_RechtsImage[0]})
        a->setEnabled(!running);
    m_progress->setVisible(running);
    if (!running) {
        m_progressText->clear();
        if (focusWidget() == centralWidget())
            OKButton->setFocus();
    }
}

void FMStart::OKButton_Click()
{
    if (m_running || !RequireLogin())
        return;
    ScreenPointer::set(ScreenPointer::Hourglass);
    if (!cmb_LinkBelArt->currentText().isEmpty() &&
        (txt_LinkBelNr->text().isEmpty() || txt_LinkBelNr->text() == QLatin1String(" "))) {
        if (MessageBox::show(
                this, QMessageBox::NoIcon, QStringLiteral("Belegnummer fehlt."),
                QStringLiteral("Sie haben keine Belegnummer eingegeben!\r\nOhne Belegnummer weiter?"),
                QMessageBox::Yes | QMessageBox::No, QMessageBox::No) != QMessageBox::Yes) {
            ScreenPointer::set(ScreenPointer::Default);
            return;
        }
        cmb_LinkBelArt->setCurrentIndex(0);
        cmb_LinkBelArt_LostFocus();
    }
    HandoverInput input;
    input.keyword = cmb_Match->currentText();
    input.typeText = cmb_LinkBelArt->currentText();
    input.number = txt_LinkBelNr->text();
    input.dateText = datumText();
    input.account = txt_KKRNr->text();
    input.site = txt_BAU->text();
    input.password = txt_Passwort->text();
    const QString badField = Handover::fieldWithSeparator(input);
    const QString controlField = Handover::fieldWithControlCharacter(input);
    if (!badField.isEmpty() || !controlField.isEmpty()) {
        MessageBox::show(
            this, QMessageBox::Warning, QStringLiteral("Übergabe nicht möglich"),
            QStringLiteral(
                "Das Feld \u201e%1\u201c enthält %2, das die Übergabe an das "
                "Archiv nicht verarbeiten kann.\r\nBitte entfernen Sie es und übergeben Sie dann erneut.")
                .arg(badField.isEmpty() ? controlField : badField,
                     badField.isEmpty() ? QStringLiteral("ein Steuerzeichen")
                                        : QStringLiteral("das Zeichen \u201e|\u201c")));
        ScreenPointer::set(ScreenPointer::Default);
        return;
    }

    setRunning(true);
    for (int i = 0; i < FileListe->count(); ++i)
        setFileState(FileListe->item(i), FileListDelegate::Waiting);
    Handover handover;
    Handover::Callbacks callbacks;
    callbacks.started = [this](int index, int total) {
        m_progressText->setText(QStringLiteral("Datei %1 von %2").arg(index + 1).arg(total));
        m_progress->setRange(0, std::max(total, 1));
        m_progress->setValue(index);
        if (QListWidgetItem* now = FileListe->item(index))
            setFileState(now, FileListDelegate::Running);
    };
    callbacks.done = [this](int index, HandoverOutcome& outcome) {
        if (QListWidgetItem* item = FileListe->item(index))
            setFileState(item,
                         outcome.archived ? FileListDelegate::HandedOver : FileListDelegate::NotHandedOver,
                         outcome.reason);
    };
    QList<HandoverOutcome> outcomes = handover.run(files(), input, callbacks);
    setRunning(false);
    if (session().ProgramEnded)
        return;

    const bool anyArchived =
        std::any_of(outcomes.begin(), outcomes.end(), [](const HandoverOutcome& o) { return o.archived; });
    const bool remove =
        anyArchived &&
        MessageBox::show(this, QMessageBox::NoIcon, QStringLiteral("Files löschen?"),
                         QStringLiteral("Sollen Die Ursprungsfiles gelöscht werden?"),
                         QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
    // Only what was packed, registered and is unchanged since may be deleted.
    QStringList kept;
    for (HandoverOutcome& outcome : outcomes)
        if (outcome.archived && remove && !Handover::deleteSource(outcome))
            kept << outcome.path;
    QStringList summary;
    for (int i = FileListe->count() - 1; i >= 0; --i) {
        QListWidgetItem* item = FileListe->item(i);
        const QString path = item->data(FileListDelegate::PathRole).toString();
        const auto it = std::find_if(outcomes.begin(), outcomes.end(),
                                     [&](const HandoverOutcome& o) { return o.path == path; });
        if (it == outcomes.end()) {
            setFileState(item, FileListDelegate::Waiting);
        } else if (it->archived && !kept.contains(path)) {
            delete FileListe->takeItem(i);
        } else if (it->archived) {
            setFileState(item, FileListDelegate::HandedOver, it->reason);
            summary.prepend(QStringLiteral("%1: übergeben, %2").arg(path, it->reason));
        } else {
            item->setText(QStringLiteral("%1   \u2013 nicht übergeben: %2").arg(path, it->reason));
            setFileState(item, FileListDelegate::NotHandedOver, it->reason);
            summary.prepend(QStringLiteral("%1: %2").arg(path, it->reason));
        }
    }
    m_auswahlIndex = -1;
    showSelectedFile();
    // A retry of what stays listed needs the same password.
    if (FileListe->count() == 0)
        txt_Passwort->clear();
    if (!summary.isEmpty())
        MessageBox::show(this, QMessageBox::Warning, QStringLiteral("Nicht alle Dateien übergeben"),
                         QStringLiteral("Diese Dateien bleiben in der Liste:\r\n") +
                             summary.join(QStringLiteral("\r\n")));
    ScreenPointer::set(ScreenPointer::Default);
}

void FMStart::SucheBelegnummer_Click()
{
    if (cmb_LinkBelArt->currentText().isEmpty() || !RequireLogin())
        return;
    const QString code = DocumentSearch::typeCode(cmb_LinkBelArt->currentText());
    const QString account = DocumentSearch::accountArgument(txt_KKRNr->text());
    DBBegin();
    if (session().ProgramEnded)
        return;
    try {
        if (const auto request = DocumentSearch::request(code, account, m_kontoKreisCode, session())) {
            const QString key = Lookup(*request);
            if (!key.isEmpty()) {
                txt_LinkBelNr->setText(DocumentSearch::keyField(key, DocumentSearch::numberField(code)));
                const int dateField = DocumentSearch::dateField(code);
                if (dateField >= 0)
                    cmb_Datum->setDate(ErpDateToDate(DocumentSearch::keyField(key, dateField)));
            }
        }
        DBEnd(false);
    } catch (const cacheclient::CacheError& error) {
        ReportCacheError(error, QStringLiteral("Suche nach Belegart ") + code);
    }
}

void FMStart::b_KKRSuche_Click()
{
    if (!RequireLogin())
        return;
    // The option buttons decide, not KontoKreisCode, which a background click may have reset.
    txt_KKRNr->setText(o_KontoKreis[0]->isChecked() ? SearchCustomer() : SearchSupplier());
}

void FMStart::b_BAU_Click()
{
    if (!RequireLogin())
        return;
    DBBegin();
    if (session().ProgramEnded)
        return;
    try {
        const QString key = Lookup(DocumentSearch::buildingSiteRequest(txt_KKRNr->text(), session()));
        if (!key.isEmpty()) {
            std::unique_ptr<cacheclient::CacheObject> site =
                session().Factory->openId(QStringLiteral("XR.KundBau"), key);
            QString number;
            try {
                number = site->property(QStringLiteral("Bau"));
            } catch (...) {
                CloseCacheObject(site);
                throw;
            }
            CloseCacheObject(site);
            txt_BAU->setText(number);
        }
        DBEnd(false);
    } catch (const cacheclient::CacheError& error) {
        ReportCacheError(error, QStringLiteral("Baustelle suchen"));
    }
}

void FMStart::txt_KKRNr_KeyUp(int keyCode, int /*shift*/)
{
    if (keyCode == KeyHome)
        b_KKRSuche_Click();
}

void FMStart::txt_BAU_KeyUp(int keyCode, int /*shift*/)
{
    if (keyCode == KeyHome)
        b_BAU_Click();
}
