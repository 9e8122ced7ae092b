// The searches of the link entry: the five document-number requests field by field, key fields,
// and the number, account and building-site searches through the main window against the
// in-process demo server, with a probing factory for keys and failures the demo data never has.
#include "app/DocumentSearch.h"
#include "app/FMStart.h"
#include "cache/cacheapi.h"
#include "common/TestSupport.h"
#include "erpsim/LocalServer.h"
#include "lookup/LookupLogic.h"
#include "lookup/frmLookup.h"
#include "search/FMKnrsu.h"
#include "search/FMLnrsu.h"
#include "search/SearchTermField.h"
#include "search/VelmorSu.h"
#include "widgets/Clock.h"
#include "widgets/MaskedDateEdit.h"
#include "widgets/VirtualList.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>

using cacheclient::CacheError;

namespace {

// Forwards to the demo server's factory; rewrites keys of chosen queries, fails chosen
// operations and records every query execution.
class ProbeFactory : public cacheclient::Factory
{
public:
    explicit ProbeFactory(std::shared_ptr<cacheclient::Factory> inner) : m_inner(std::move(inner)) {}

    std::function<QString(const QString&)> rewriteKey;
    QString failQueryOf;
    bool failOpen = false;
    QList<QStringList> executed;

    bool connect(QString& connectString) override { return m_inner->connect(connectString); }
    bool isConnected() const override { return m_inner->isConnected(); }
    void disconnect() override { m_inner->disconnect(); }
    std::unique_ptr<cacheclient::CacheObject> openId(const QString& className, const QString& id) override
    {
        if (failOpen)
            throw CacheError(5809,
                             QStringLiteral("Objekt %1 mit Id \"%2\" nicht gefunden").arg(className, id));
        return m_inner->openId(className, id);
    }
    std::unique_ptr<cacheclient::CacheObject> classObject(const QString& className) override
    {
        return m_inner->classObject(className);
    }
    std::unique_ptr<cacheclient::ResultSet> resultSet(const QString& className,
                                                      const QString& queryName) override;

private:
    std::shared_ptr<cacheclient::Factory> m_inner;
};

class ProbeResultSet : public cacheclient::ResultSet
{
public:
    ProbeResultSet(std::unique_ptr<cacheclient::ResultSet> inner, ProbeFactory& owner, bool probed)
        : m_inner(std::move(inner)), m_owner(owner), m_probed(probed)
    {
    }
    void execute(const QStringList& args) override
    {
        if (m_probed)
            m_owner.executed << args;
        m_inner->execute(args);
    }
    bool next() override { return m_inner->next(); }
    int columnCount() const override { return m_inner->columnCount(); }
    QString columnValue(int column) const override
    {
        const QString value = m_inner->columnValue(column);
        return m_probed && m_owner.rewriteKey && column == m_inner->keyColumn() ? m_owner.rewriteKey(value)
                                                                                : value;
    }
    QString columnName(int column) const override { return m_inner->columnName(column); }
    int parameterCount() const override { return m_inner->parameterCount(); }
    QString parameterName(int parameter) const override { return m_inner->parameterName(parameter); }
    int keyColumn() const override { return m_inner->keyColumn(); }
    void close() override { m_inner->close(); }

private:
    std::unique_ptr<cacheclient::ResultSet> m_inner;
    ProbeFactory& m_owner;
    bool m_probed;
};

std::unique_ptr<cacheclient::ResultSet> ProbeFactory::resultSet(const QString& className,
                                                                const QString& queryName)
{
    if (className == failQueryOf)
        throw CacheError(5803, QStringLiteral("Abfrage %1 %2 gibt es nicht").arg(className, queryName));
    // Only the searches of the link entry are probed, not the choice lists inside the dialog.
    static const QStringList searched = {"XR.AuftrMaKundeBeleg", "XR.BestHaupt", "XR.EinReHaupt",
                                         "XR.OffertHaupt", "XR.KundBau"};
    const bool probed = searched.contains(className);
    return std::make_unique<ProbeResultSet>(m_inner->resultSet(className, queryName), *this, probed);
}

// Counts lookup dialogs that show and runs an action on them; a dialog left open is closed,
// so one that should not have appeared cannot hang the test. The action waits for the dialog's
// own event loop: the activation lets events run before it, and a dialog closed then would
// wait forever.
class LookupWatch : public QObject
{
public:
    explicit LookupWatch(std::function<void(frmLookup*)> action = {}) : m_action(std::move(action))
    {
        qApp->installEventFilter(this);
    }
    int shows = 0;
    QString title;
    QStringList arguments;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show) {
            if (auto* dialog = qobject_cast<frmLookup*>(watched)) {
                ++shows;
                actWhenRunning(dialog, QThread::currentThread()->loopLevel());
            }
        }
        return false;
    }

private:
    void actWhenRunning(frmLookup* dialog, int outerLevel)
    {
        QTimer::singleShot(0, dialog, [this, dialog, outerLevel] {
            if (QThread::currentThread()->loopLevel() <= outerLevel) {
                actWhenRunning(dialog, outerLevel);
                return;
            }
            title = dialog->windowTitle();
            arguments = dialog->lastArguments();
            if (m_action)
                m_action(dialog);
            if (dialog->isVisible())
                dialog->close();
        });
    }

    std::function<void(frmLookup*)> m_action;
};

// Picks the row with this key, or the first row when key is empty.
std::function<void(frmLookup*)> pick(const QString& key = QString())
{
    return [key](frmLookup* d) {
        QTreeWidget* list = d->ListView1;
        for (int i = 0; i < list->topLevelItemCount(); ++i) {
            QTreeWidgetItem* item = list->topLevelItem(i);
            if (key.isEmpty() || d->keyOf(item) == key) {
                list->setCurrentItem(item);
                item->setSelected(true);
                d->cmdSelect->click();
                return;
            }
        }
        QStringList keys;
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            keys << d->keyOf(list->topLevelItem(i));
        QFAIL(qPrintable(QStringLiteral("Zeile %1 fehlt in %2").arg(key, keys.mid(0, 10).join(u' '))));
    };
}

void pickAccount(QWidget* window, const QString& term)
{
    auto* form = static_cast<AccountSearchForm*>(window);
    form->SKBEZ->setText(term);
    QTest::mouseClick(form->BUSuch, Qt::LeftButton);
    VirtualList* list = window->objectName() == QLatin1String("FMKnrsu")
                            ? static_cast<FMKnrsu*>(window)->KNRSULI
                            : static_cast<FMLnrsu*>(window)->LNRSULI;
    list->setCurrentRow(1);
    QTest::keyClick(list, Qt::Key_Return);
}

QList<int> slotsOf(const LookupRequest& r)
{
    return {r.DatumFeld1,      r.DatumParameter1,  r.DatumFeld2,   r.DatumParameter2,  r.DatumFeld3,
            r.DatumParameter3, r.KNRParameter,     r.LNRParameter, r.ANRParameter,     r.CmbParam1,
            r.CmbType1,        r.CmbParam2,        r.CmbType2,     r.CmbParam3,        r.CmbType3,
            r.FeldUmwandl1,    r.FeldUmwandl1Type, r.FeldUmwandl2, r.FeldUmwandl2Type, r.FeldUmwandl3,
            r.FeldUmwandl3Type};
}

// The focused control of a window by its name: the nearest named ancestor of the focus widget.
QString focusedName(QWidget* window)
{
    static const QRegularExpression named(QStringLiteral("^(txt|cmb|b_|Suche|ListView)"));
    for (QWidget* w = QApplication::focusWidget(); w && w != window; w = w->parentWidget())
        if (named.match(w->objectName()).hasMatch())
            return w->objectName();
    return QString();
}

// A list column's texts read as a user reads them: dates (in full) by date, numbers by value.
void checkSortedAsRead(const frmLookup* d, int column)
{
    const QLocale german(QLocale::German, QLocale::Germany);
    double previous = -std::numeric_limits<double>::infinity();
    for (int i = 0; i < d->ListView1->topLevelItemCount(); ++i) {
        const QString text = d->ListView1->topLevelItem(i)->text(column);
        bool ok = true;
        double value = 0;
        if (d->sortKind(column) == lookup::SortKind::Date) {
            const QDate date = QDate::fromString(text, QStringLiteral("dd.MM.yyyy"));
            QVERIFY2(date.isValid(), qPrintable(text));
            value = date.toJulianDay();
        } else {
            QCOMPARE(d->sortKind(column), lookup::SortKind::Number);
            const std::optional<double> plain = lookup::plainNumber(text);
            value = plain ? *plain : german.toDouble(text, &ok);
            QVERIFY2(ok, qPrintable(text));
        }
        QVERIFY2(value >= previous, qPrintable(QStringLiteral("Zeile %1: %2").arg(i).arg(text)));
        previous = value;
    }
}

int traceLineCount(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    return static_cast<int>(file.readAll().count('\n'));
}

} // namespace

class TestLinkSearches : public QObject
{
    Q_OBJECT

    MockClock m_clock;
    std::unique_ptr<FMStart> m_window;
    std::shared_ptr<ProbeFactory> m_probe;

    FMStart& window()
    {
        m_window = std::make_unique<FMStart>();
        [&] { QVERIFY(loginAsDemoUser()); }();
        m_probe = std::make_shared<ProbeFactory>(session().Factory);
        session().Factory = m_probe;
        m_window->show();
        return *m_window;
    }

private slots:
    void initTestCase()
    {
        Clock::setInstance(&m_clock);
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    }

    void cleanupTestCase()
    {
        resetProgramState();
        Clock::setInstance(nullptr);
    }

    void init() { resetProgramState(); }

    void cleanup()
    {
        m_window.reset();
        m_probe.reset();
    }

    // ---- the five number-search requests, every field --------------------------------------

    void documentRequests_data()
    {
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("kreis");
        QTest::addColumn<QString>("cls");
        QTest::addColumn<QString>("query");
        QTest::addColumn<QString>("title");
        QTest::addColumn<int>("maxitems");
        // P3 .. P6 for the account "4711".
        QTest::addColumn<QStringList>("p3to6");
        // DatumFeld1, DatumParameter1 .. DatumParameter3, KNR, LNR, ANR, CmbParam1, CmbType1 ..
        // CmbType3, FeldUmwandl1, FeldUmwandl1Type .. FeldUmwandl3Type.
        QTest::addColumn<QList<int>>("slots");

        QTest::newRow("AU") << "AU"
                            << "K"
                            << "XR.AuftrMaKundeBeleg"
                            << "Beleg"
                            << "Suche nach Aufträge" << 100 << QStringList{"4711", "1", "", "AU"}
                            << QList<int>{4, 4, -1, -1, -1, -1, 2,  -1, -1, 3, 1,
                                          5, 4, -1, -1, 3,  11, -1, -1, -1, -1};
        QTest::newRow("RE") << "RE"
                            << "K"
                            << "XR.AuftrMaKundeBeleg"
                            << "Beleg"
                            << "Suche nach Rechnungen" << 100 << QStringList{"4711", "1", "", "RE"}
                            << QList<int>{4, 4, -1, -1, -1, -1, 2,  -1, -1, 3, 3,
                                          5, 4, -1, -1, 3,  11, -1, -1, -1, -1};
        QTest::newRow("BE") << "BE"
                            << "K"
                            << "XR.BestHaupt"
                            << "Bestellung"
                            << "Suche nach Bestellungen" << 50 << QStringList{"4711", "", "", ""}
                            << QList<int>{4, -1, 6,  -1, -1, -1, -1, 2,  -1, 3, 5,
                                          4, 9,  -1, -1, 2,  12, 5,  13, -1, -1};
        QTest::newRow("ER Lieferant")
            << "ER"
            << "L"
            << "XR.EinReHaupt"
            << "Rechnung"
            << "Suche nach Eingangsrechungen" << 25 << QStringList{"", "", "4711", ""}
            << QList<int>{2, 6, 7, 7, -1, 8, -1, 4, -1, 2, 2, 3, 7, -1, -1, 6, 8, 3, 12, 5, 14};
        QTest::newRow("ER Kunde") << "ER"
                                  << "K"
                                  << "XR.EinReHaupt"
                                  << "Rechnung"
                                  << "Suche nach Eingangsrechungen" << 25 << QStringList{"", "", "", ""}
                                  << QList<int>{2, 6, 7,  7,  -1, 8, -1, 4,  -1, 2, 2,
                                                3, 7, -1, -1, 6,  8, 3,  12, 5,  14};
        QTest::newRow("AG") << "AG"
                            << "K"
                            << "XR.OffertHaupt"
                            << "Angebote"
                            << "Suche nach Offerten" << 50 << QStringList{"4711", "", "", ""}
                            << QList<int>{2,  -1, -1, -1, -1, -1, 2, -1, -1, 4, 0,
                                          -1, -1, -1, -1, 3,  11, 4, 10, -1, -1};
    }

    void documentRequests()
    {
        QFETCH(QString, code);
        QFETCH(QString, kreis);
        SessionContext context;
        context.Firma = "1";
        context.Filiale = "0";
        context.Factory = demoServer().createFactory();
        const auto r = DocumentSearch::request(code, "4711", kreis, context);
        QVERIFY(r.has_value());
        QCOMPARE(r->Factory, context.Factory);
        QTEST(r->Class, "cls");
        QTEST(r->Query, "query");
        QTEST(r->Title, "title");
        QTEST(int(r->Maxitems), "maxitems");
        QCOMPARE(r->MoreButton, true);
        QCOMPARE(r->AutoSelect, false);
        QCOMPARE(r->MsgBoxIfNone, qint16(2));
        QCOMPARE(r->P1, QStringLiteral("1"));
        QCOMPARE(r->P2, QStringLiteral("0"));
        QTEST((QStringList{r->P3, r->P4, r->P5, r->P6}), "p3to6");
        QCOMPARE((QStringList{r->P7, r->P8, r->P9}), (QStringList{"", "", ""}));
        QTEST(slotsOf(*r), "slots");
    }

    void otherCodesSearchNothing_data()
    {
        QTest::addColumn<QString>("code");
        QTest::newRow("typed") << "XY";
        QTest::newRow("lower case") << "re";
        QTest::newRow("empty") << "";
        QTest::newRow("longer") << "REC";
    }

    void otherCodesSearchNothing()
    {
        QFETCH(QString, code);
        QVERIFY(!DocumentSearch::request(code, "4711", "K", SessionContext()).has_value());
        QCOMPARE(DocumentSearch::numberField(code), -1);
        QCOMPARE(DocumentSearch::dateField(code), -1);
    }

    void codeAndAccountFromTheEntry_data()
    {
        QTest::addColumn<QString>("typeText");
        QTest::addColumn<QString>("code");
        QTest::newRow("chosen") << "RE Rechnung"
                                << "RE";
        QTest::newRow("typed code only") << "AG"
                                         << "AG";
        QTest::newRow("leading blank") << " RE"
                                       << "";
    }

    void codeAndAccountFromTheEntry()
    {
        QFETCH(QString, typeText);
        QTEST(DocumentSearch::typeCode(typeText), "code");
        QCOMPARE(DocumentSearch::accountArgument("0"), QString());
        QCOMPARE(DocumentSearch::accountArgument("4711"), QStringLiteral("4711"));
        QCOMPARE(DocumentSearch::accountArgument("00"), QStringLiteral("00"));
        QCOMPARE(DocumentSearch::accountArgument(""), QString());
    }

    void keyFields_data()
    {
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("number");
        QTest::addColumn<QString>("erpDate");
        QTest::newRow("AU") << "AU"
                            << "a||b||c||d||1240507||f||4711"
                            << "4711"
                            << "1240507";
        QTest::newRow("RE") << "RE"
                            << "1||0||RE||4711||1240507||3||200001"
                            << "200001"
                            << "1240507";
        QTest::newRow("BE") << "BE"
                            << "1||0||70001||300001"
                            << "300001"
                            << "";
        QTest::newRow("ER") << "ER"
                            << "1||0||70001||400001"
                            << "400001"
                            << "";
        QTest::newRow("AG") << "AG"
                            << "1||0||500001"
                            << "500001"
                            << "";
    }

    void keyFields()
    {
        QFETCH(QString, code);
        QFETCH(QString, key);
        QTEST(DocumentSearch::keyField(key, DocumentSearch::numberField(code)), "number");
        const int dateField = DocumentSearch::dateField(code);
        QTEST(dateField < 0 ? QString() : DocumentSearch::keyField(key, dateField), "erpDate");
    }

    void missingKeyFieldThrows()
    {
        try {
            DocumentSearch::keyField("1||0||RE||4711||1240507||3", 6);
            QFAIL("kein Fehler");
        } catch (const CacheError& e) {
            QCOMPARE(e.number(), DocumentSearch::MissingKeyField);
        }
        QCOMPARE(DocumentSearch::keyField("1||0||RE||4711||1240507||3||", 6), QString());
    }

    void buildingSiteRequest()
    {
        SessionContext context;
        context.Firma = "1";
        context.Factory = demoServer().createFactory();
        const LookupRequest r = DocumentSearch::buildingSiteRequest("0", context);
        QCOMPARE(r.Factory, context.Factory);
        QCOMPARE(r.Class, QStringLiteral("XR.KundBau"));
        QCOMPARE(r.Query, QStringLiteral("BaustellenAuswahl"));
        QCOMPARE(r.Title, QStringLiteral("Suche nach Baustellen"));
        QCOMPARE(r.Maxitems, 100);
        QCOMPARE(r.MoreButton, true);
        QCOMPARE(r.AutoSelect, true);
        QCOMPARE(r.MsgBoxIfNone, qint16(0));
        QCOMPARE((QStringList{r.P1, r.P2, r.P3, r.P4, r.P5, r.P6, r.P7, r.P8, r.P9}),
                 (QStringList{"1", "0", "", "", "", "", "", "", ""}));
        QList<int> expected(21, -1);
        expected[6] = 1;
        QCOMPARE(slotsOf(r), expected);
    }

    // ---- the number search through the window ---------------------------------------------

    void accountRestriction_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<int>("kreis");
        QTest::addColumn<QString>("account");
        QTest::addColumn<int>("position");
        QTest::addColumn<QString>("argument");
        QTest::newRow("ER Lieferant 70001") << "ER Eingangsrechnung" << 1 << "70001" << 4 << "70001";
        QTest::newRow("ER Kunde 70001") << "ER Eingangsrechnung" << 0 << "70001" << 4 << "";
        QTest::newRow("ER Kunde, no third") << "ER Eingangsrechnung" << 0 << "70001" << 2 << "";
        QTest::newRow("AU account 0") << "AU Auftrag" << 0 << "0" << 2 << "";
        QTest::newRow("AU 4711") << "AU Auftrag" << 0 << "4711" << 2 << "4711";
        QTest::newRow("BE Lieferant 70001") << "BE Bestellung" << 1 << "70001" << 2 << "70001";
    }

    void accountRestriction()
    {
        QFETCH(QString, type);
        QFETCH(int, kreis);
        QFETCH(QString, account);
        QFETCH(int, position);
        ScriptedBoxes boxes;
        FMStart& w = window();
        w.o_KontoKreis[kreis]->click();
        w.cmb_LinkBelArt->setCurrentText(type);
        w.txt_KKRNr->setText(account);
        w.txt_LinkBelNr->setText("alt");
        LookupWatch watch;
        w.SucheBelegnummer->click();
        QCOMPARE(watch.shows, 1);
        QCOMPARE(m_probe->executed.size(), 1);
        QTEST(m_probe->executed.first().value(position), "argument");
        QCOMPARE(w.txt_LinkBelNr->text(), QStringLiteral("alt"));
    }

    void invoiceWritesNumberAndDate()
    {
        ScriptedBoxes boxes;
        FMStart& w = window();
        w.cmb_LinkBelArt->setCurrentText("RE Rechnung");
        w.txt_KKRNr->setText("4711");
        // The search lists open invoices (status 1) only.
        LookupWatch watch(pick("1||0||RE||4711||1261110||1||200002"));
        w.SucheBelegnummer->click();
        QCOMPARE(watch.title, QStringLiteral("Suche nach Rechnungen"));
        QCOMPARE(w.txt_LinkBelNr->text(), QStringLiteral("200002"));
        QCOMPARE(w.cmb_Datum->date(), QDate(2026, 11, 10));
        QVERIFY(idleTimerActive());
    }

    void orderKeyFromItsFields()
    {
        ScriptedBoxes boxes;
        FMStart& w = window();
        m_probe->rewriteKey = [](const QString&) { return QStringLiteral("a||b||c||d||1240507||f||4711"); };
        w.cmb_LinkBelArt->setCurrentText("AU Auftrag");
        LookupWatch watch(pick());
        w.SucheBelegnummer->click();
        QCOMPARE(w.txt_LinkBelNr->text(), QStringLiteral("4711"));
        QCOMPARE(w.cmb_Datum->date(), QDate(2024, 5, 7));
    }

    void offerLeavesTheDate()
    {
        ScriptedBoxes boxes;
        FMStart& w = window();
        w.cmb_LinkBelArt->setCurrentText("AG Angebot");
        w.cmb_Datum->setDate(QDate(2026, 1, 2));
        w.txt_KKRNr->setText("4711");
        LookupWatch watch(pick("1||0||500002"));
        w.SucheBelegnummer->click();
        QCOMPARE(watch.title, QStringLiteral("Suche nach Offerten"));
        QCOMPARE(w.txt_LinkBelNr->text(), QStringLiteral("500002"));
        QCOMPARE(w.cmb_Datum->date(), QDate(2026, 1, 2));
    }

    void closedWithoutChoiceChangesNothing()
    {
        ScriptedBoxes boxes;
        FMStart& w = window();
        w.cmb_LinkBelArt->setCurrentText("RE Rechnung");
        w.txt_LinkBelNr->setText("123");
        w.cmb_Datum->setDate(QDate(2025, 3, 4));
        LookupWatch watch([](frmLookup* d) { d->cmdCancel->click(); });
        w.SucheBelegnummer->click();
        QCOMPARE(watch.shows, 1);
        QCOMPARE(w.txt_LinkBelNr->text(), QStringLiteral("123"));
        QCOMPARE(w.cmb_Datum->date(), QDate(2025, 3, 4));
        QVERIFY(boxes.shown().isEmpty());
    }

    void emptyTypeTouchesNoServer()
    {
        ScriptedBoxes boxes;
        QTemporaryDir dir;
        const QString trace = dir.filePath("trace.jsonl");
        demoServer().setTracePath(trace);
        FMStart& w = window();
        w.cmb_LinkBelArt->setCurrentIndex(0);
        w.txt_LinkBelNr->setText("9");
        LookupWatch watch;
        const int before = traceLineCount(trace);
        w.SucheBelegnummer->click();
        const int afterEmpty = traceLineCount(trace) - before;
        // The same trace sees a search with a type.
        w.cmb_LinkBelArt->setCurrentText("AG Angebot");
        w.SucheBelegnummer->click();
        demoServer().setTracePath(QString());
        QVERIFY(before > 0);
        QCOMPARE(afterEmpty, 0);
        QVERIFY(traceLineCount(trace) > before);
        QCOMPARE(watch.shows, 1);
        QCOMPARE(w.txt_LinkBelNr->text(), QStringLiteral("9"));
    }

    void unknownTypeSearchesNothing()
    {
        ScriptedBoxes boxes;
        FMStart& w = window();
        w.cmb_LinkBelArt->setCurrentText("XY irgendwas");
        w.txt_LinkBelNr->setText("9");
        LookupWatch watch;
        w.SucheBelegnummer->click();
        QCOMPARE(watch.shows, 0);
        QVERIFY(m_probe->executed.isEmpty());
        QCOMPARE(w.txt_LinkBelNr->text(), QStringLiteral("9"));
    }

    void tooFewKeyFieldsAreReported()
    {
        ScriptedBoxes boxes;
        boxes.answer(QMessageBox::Ok);
        FMStart& w = window();
        m_probe->rewriteKey = [](const QString&) { return QStringLiteral("1||0||RE||4711||1240507||3"); };
        w.cmb_LinkBelArt->setCurrentText("RE Rechnung");
        w.txt_LinkBelNr->setText("alt");
        w.cmb_Datum->setDate(QDate(2025, 3, 4));
        LookupWatch watch(pick());
        w.SucheBelegnummer->click();
        QCOMPARE(boxes.shown().size(), 1);
        QVERIFY2(boxes.lastText().startsWith("Vorgang: Suche nach Belegart RE.\r\n\r\nFehler: 9\r\n"),
                 qPrintable(boxes.lastText()));
        QCOMPARE(w.txt_LinkBelNr->text(), QStringLiteral("alt"));
        QCOMPARE(w.cmb_Datum->date(), QDate(2025, 3, 4));
    }

    void badDateKeepsTheNumberWritten()
    {
        ScriptedBoxes boxes;
        boxes.answer(QMessageBox::Ok);
        FMStart& w = window();
        m_probe->rewriteKey = [](const QString&) {
            return QStringLiteral("1||0||AU||4711||kein||3||100001");
        };
        w.cmb_LinkBelArt->setCurrentText("AU Auftrag");
        w.cmb_Datum->setDate(QDate(2025, 3, 4));
        LookupWatch watch(pick());
        w.SucheBelegnummer->click();
        QCOMPARE(boxes.shown().size(), 1);
        QVERIFY(boxes.lastText().startsWith(
            QStringLiteral("Vorgang: Suche nach Belegart AU.\r\n\r\nFehler: %1\r\n")
                .arg(DateConversionError)));
        QCOMPARE(w.txt_LinkBelNr->text(), QStringLiteral("100001"));
        QCOMPARE(w.cmb_Datum->date(), QDate(2025, 3, 4));
    }

    void failedQueryIsReported()
    {
        ScriptedBoxes boxes;
        boxes.answer(QMessageBox::Ok);
        FMStart& w = window();
        m_probe->failQueryOf = "XR.EinReHaupt";
        w.cmb_LinkBelArt->setCurrentText("ER Eingangsrechnung");
        w.txt_LinkBelNr->setText("alt");
        LookupWatch watch;
        w.SucheBelegnummer->click();
        QCOMPARE(watch.shows, 0);
        QCOMPARE(boxes.shown().size(), 1);
        QCOMPARE(boxes.shown().first().title, QStringLiteral("Caché Zugriffsfehler"));
        QVERIFY(boxes.lastText().startsWith("Vorgang: Suche nach Belegart ER.\r\n\r\nFehler: 5803\r\n"));
        QCOMPARE(w.txt_LinkBelNr->text(), QStringLiteral("alt"));
        // The window stays usable: the next search runs.
        m_probe->failQueryOf.clear();
        LookupWatch again(pick());
        w.SucheBelegnummer->click();
        QCOMPARE(again.shows, 1);
        QVERIFY(w.txt_LinkBelNr->text() != QStringLiteral("alt"));
    }

    // ---- account search ---------------------------------------------------------------------

    void accountSearchFollowsTheOptionButtons()
    {
        ScriptedBoxes boxes;
        FMStart& w = window();
        w.o_KontoKreis[1]->click();
        whenShown("FMLnrsu", [](QWidget* s) { pickAccount(s, "BAUSTOFFWERKE SCHW"); });
        w.b_KKRSuche->click();
        QCOMPARE(w.txt_KKRNr->text(), QStringLiteral("70001"));

        // A background click resets KontoKreisCode to "K"; "Lieferant" stays selected and rules.
        w.MatchListeLaden();
        QCOMPARE(w.KontoKreisCode(), QStringLiteral("K"));
        QString opened;
        whenShown("FMLnrsu", [&](QWidget* s) {
            opened = s->objectName();
            s->close();
        });
        w.b_KKRSuche->click();
        QCOMPARE(opened, QStringLiteral("FMLnrsu"));

        w.o_KontoKreis[0]->click();
        whenShown("FMKnrsu", [](QWidget* s) { pickAccount(s, "MUELLER BAU"); });
        w.b_KKRSuche->click();
        QCOMPARE(w.txt_KKRNr->text(), QStringLiteral("4711"));
    }

    void closedAccountSearchEmptiesTheField()
    {
        ScriptedBoxes boxes;
        FMStart& w = window();
        w.txt_KKRNr->setText("4711");
        whenShown("FMKnrsu", [](QWidget* s) { s->close(); });
        w.b_KKRSuche->click();
        QCOMPARE(w.txt_KKRNr->text(), QString());
    }

    void homeKeyOpensTheSearches()
    {
        ScriptedBoxes boxes;
        FMStart& w = window();
        w.activateWindow();
        whenShown("FMKnrsu", [](QWidget* s) { pickAccount(s, "MUELLER BAU"); });
        QTest::keyClick(w.txt_KKRNr, Qt::Key_Home);
        QCOMPARE(w.txt_KKRNr->text(), QStringLiteral("4711"));

        // Other keys search nothing; a dialog would hang here without a handler.
        QTest::keyClick(w.txt_KKRNr, Qt::Key_End);
        QTest::keyClick(w.txt_KKRNr, Qt::Key_1);
        QCOMPARE(w.txt_KKRNr->text(), QStringLiteral("47111"));

        w.txt_KKRNr->setText("4711");
        LookupWatch watch(pick("1||4711||2"));
        QTest::keyClick(w.txt_BAU, Qt::Key_Home);
        QCOMPARE(watch.shows, 1);
        QCOMPARE(w.txt_BAU->text(), QStringLiteral("2"));
        QTest::keyClick(w.txt_BAU, Qt::Key_End);
        QCOMPARE(watch.shows, 1);
    }

    // ---- keyboard only ----------------------------------------------------------------------

    void keyboardOnlyPass_data()
    {
        QTest::addColumn<QString>("type"); // empty: the building sites, from their field's Home key
        QTest::addColumn<int>("tabs");     // from the opening focus to the account box; < 0 backwards
        QTest::addColumn<int>("box");
        QTest::addColumn<QString>("term");
        QTest::addColumn<QString>("account");
        QTest::addColumn<int>("sortColumn");
        QTest::newRow("AU amounts") << "AU Auftrag" << -2 << 2 << "MUELLER BAU"
                                    << "4711" << 5;
        QTest::newRow("RE dates") << "RE Rechnung" << -2 << 2 << "MUELLER BAU"
                                  << "4711" << 3;
        QTest::newRow("BE delivery dates") << "BE Bestellung" << -2 << 2 << "BAUSTOFFWERKE SCH"
                                           << "70001" << 5;
        QTest::newRow("ER formatted amounts") << "ER Eingangsrechnung" << 1 << 4 << "BAUSTOFFWERKE SCH"
                                              << "70001" << 4;
        QTest::newRow("AG dates") << "AG Angebot" << 2 << 2 << "MUELLER BAU"
                                  << "4711" << 1;
        QTest::newRow("building sites") << "" << 1 << 1 << "MUELLER BAU"
                                        << "4711" << 0;
    }

    // Open, type (a bad number first), search through the magnifier, search, sort, pick, leave:
    // keys only, pressed and released through the window system.
    void keyboardOnlyPass()
    {
        QFETCH(QString, type);
        QFETCH(int, tabs);
        QFETCH(int, box);
        QFETCH(QString, term);
        QFETCH(QString, account);
        QFETCH(int, sortColumn);
        TypedBoxAnswers boxes;
        setLookupSearches({&SearchCustomer, &SearchSupplier, &SearchArticle});
        FMStart& w = window();
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QWidget* field = type.isEmpty() ? static_cast<QWidget*>(w.txt_BAU) : w.txt_LinkBelNr;
        if (type.isEmpty()) {
            w.txt_KKRNr->setFocus();
            typeKey(Qt::Key_A, Qt::ControlModifier);
            typeText("4711");
            typeKey(Qt::Key_Tab);
            typeKey(Qt::Key_Tab);
            QCOMPARE(focusedName(&w), QStringLiteral("txt_BAU"));
        } else {
            w.cmb_LinkBelArt->setFocus();
            typeText(type);
            typeKey(Qt::Key_Tab);
            typeKey(Qt::Key_Tab);
            QCOMPARE(focusedName(&w), QStringLiteral("SucheBelegnummer"));
        }
        auto open = [&] { typeKey(type.isEmpty() ? Qt::Key_Home : Qt::Key_Space); };

        QString key;
        auto watch = std::make_unique<LookupWatch>([&](frmLookup* d) {
            QVERIFY(waitForKeyboard(d));
            for (int i = 0; i < qAbs(tabs); ++i)
                typeKey(Qt::Key_Tab, tabs < 0 ? Qt::ShiftModifier : Qt::NoModifier);
            const QString boxName = QStringLiteral("txtParam%1").arg(box);
            QCOMPARE(focusedName(d), boxName);
            typeKey(Qt::Key_A, Qt::ControlModifier);
            typeText("abc");
            const int before = m_probe->executed.size();
            typeKey(Qt::Key_Return);
            QCOMPARE(boxes.texts.size(), 1);
            QCOMPARE(m_probe->executed.size(), before + 1);
            QCOMPARE(focusedName(d), boxName);

            // The magnifier beside the box opens the account search.
            typeKey(Qt::Key_Tab);
            auto* magnifier = qobject_cast<QPushButton*>(QApplication::focusWidget());
            QVERIFY(magnifier && magnifier->text().isEmpty() && !magnifier->icon().isNull());
            QCOMPARE(magnifier->accessibleName(), QStringLiteral("Suche"));
            whenShown(account == "4711" ? "FMKnrsu" : "FMLnrsu", [&](QWidget* search) {
                QVERIFY(waitForKeyboard(search));
                auto* list = search->findChild<VirtualList*>(account == "4711" ? "KNRSULI" : "LNRSULI");
                typeText(term);
                typeKey(Qt::Key_Return);
                QVERIFY(list->rowCountValue() > 0);
                QVERIFY(!list->horizontalScrollBar()->isVisible());
                for (int i = 0; i < 3; ++i)
                    typeKey(Qt::Key_Tab);
                QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(list));
                typeKey(Qt::Key_Down);
                typeKey(Qt::Key_Return);
            });
            typeKey(Qt::Key_Space);
            QCOMPARE(d->txtParam[box]->text(), account);
            // Back in the filled box; the Enter that picked searched nothing here.
            QCOMPARE(focusedName(d), boxName);
            QCOMPARE(m_probe->executed.size(), before + 1);
            typeKey(Qt::Key_Return);
            QCOMPARE(m_probe->executed.size(), before + 2);
            QVERIFY(d->ListView1->topLevelItemCount() > 1);

            for (int i = 0; i < 12 && QApplication::focusWidget() != d->ListView1; ++i)
                typeKey(Qt::Key_Tab);
            typeKey(Qt::Key_Menu);
            for (int i = 0; i <= sortColumn; ++i)
                typeKey(Qt::Key_Down);
            typeKey(Qt::Key_Return);
            checkSortedAsRead(d, sortColumn);
            typeKey(Qt::Key_Down);
            key = d->keyOf(d->ListView1->currentItem());
            typeKey(Qt::Key_Return);
        });
        open();
        QCOMPARE(watch->shows, 1);
        watch.reset();
        QVERIFY(!key.isEmpty());
        const QString expected = DocumentSearch::keyField(
            key, type.isEmpty() ? 2 : DocumentSearch::numberField(DocumentSearch::typeCode(type)));
        QCOMPARE(qobject_cast<QLineEdit*>(field)->text(), expected);

        // Leaving with Escape changes nothing.
        LookupWatch leave([](frmLookup* d) {
            QVERIFY(waitForKeyboard(d));
            typeKey(Qt::Key_Escape);
        });
        open();
        QCOMPARE(leave.shows, 1);
        QCOMPARE(qobject_cast<QLineEdit*>(field)->text(), expected);
        if (type.isEmpty()) {
            // The account search from its own field: Home opens it, Escape leaves it empty-handed.
            w.txt_KKRNr->setFocus();
            whenShown("FMKnrsu", [](QWidget* s) {
                QVERIFY(waitForKeyboard(s));
                typeKey(Qt::Key_Escape);
            });
            typeKey(Qt::Key_Home);
            QCOMPARE(w.txt_KKRNr->text(), QString());
        }
        QCOMPARE(boxes.texts.size(), 1);
    }

    // ---- building-site search ---------------------------------------------------------------

    void buildingSites_data()
    {
        QTest::addColumn<QString>("account");
        QTest::addColumn<int>("shows");
        QTest::addColumn<QString>("site");
        QTest::newRow("three, second picked") << "4711" << 1 << "2";
        QTest::newRow("one, taken at once") << "4712" << 0 << "1";
        QTest::newRow("none, nothing shown") << "4713" << 0 << "vorher";
        QTest::newRow("account 0 as it stands") << "0" << 0 << "vorher";
    }

    void buildingSites()
    {
        QFETCH(QString, account);
        ScriptedBoxes boxes;
        FMStart& w = window();
        w.txt_KKRNr->setText(account);
        w.txt_BAU->setText("vorher");
        LookupWatch watch(pick("1||4711||2"));
        w.b_BAU->click();
        QTEST(watch.shows, "shows");
        QTEST(w.txt_BAU->text(), "site");
        QCOMPARE(m_probe->executed.size(), 1);
        QCOMPARE(m_probe->executed.first().mid(0, 3), (QStringList{"1", account, ""}));
        if (watch.shows)
            QCOMPARE(watch.title, QStringLiteral("Suche nach Baustellen"));
        QVERIFY(boxes.shown().isEmpty());
        QVERIFY(idleTimerActive());
    }

    void buildingSiteFailures_data()
    {
        QTest::addColumn<bool>("failQuery");
        QTest::addColumn<int>("number");
        QTest::newRow("query") << true << 5803;
        QTest::newRow("open by id") << false << 5809;
    }

    void buildingSiteFailures()
    {
        QFETCH(bool, failQuery);
        ScriptedBoxes boxes;
        boxes.answer(QMessageBox::Ok);
        FMStart& w = window();
        if (failQuery)
            m_probe->failQueryOf = "XR.KundBau";
        else
            m_probe->failOpen = true;
        w.txt_KKRNr->setText("4712");
        w.txt_BAU->setText("vorher");
        LookupWatch watch;
        w.b_BAU->click();
        QCOMPARE(boxes.shown().size(), 1);
        QCOMPARE(boxes.shown().first().title, QStringLiteral("Caché Zugriffsfehler"));
        QFETCH(int, number);
        QVERIFY2(boxes.lastText().startsWith(
                     QStringLiteral("Vorgang: Baustelle suchen.\r\n\r\nFehler: %1\r\n").arg(number)),
                 qPrintable(boxes.lastText()));
        QCOMPARE(w.txt_BAU->text(), QStringLiteral("vorher"));
        // The bracket is closed: the idle timer runs again.
        QVERIFY(idleTimerActive());
        QCOMPARE(watch.shows, 0);
    }
};

QTEST_MAIN(TestLinkSearches)
#include "TestLinkSearches.moc"
