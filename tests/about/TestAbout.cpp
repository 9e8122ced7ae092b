#include "about/frmAbout.h"
#include "common/TestSupport.h"
#include "widgets/SystemServices.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

class TestAbout : public QObject
{
    Q_OBJECT

    QStringList m_started;
    QHash<QString, QString> m_registry;
    bool m_startWorks = true;

private slots:
    void init()
    {
        m_started.clear();
        m_registry.clear();
        m_startWorks = true;
        SystemServices::setRegistryReader(
            [this](const QString& key, const QString& value) -> std::optional<QString> {
                const auto it = m_registry.constFind(key + u'|' + value);
                return it == m_registry.constEnd() ? std::nullopt : std::optional<QString>(*it);
            });
        SystemServices::setProgramStarter([this](const QString& path) {
            m_started << path;
            return m_startWorks;
        });
    }

    void content()
    {
        frmAbout about;
        QCOMPARE(about.windowTitle(), QStringLiteral("Info zu ") + about.lblTitle->text());
        QVERIFY(QRegularExpression("^\\d+\\.\\d+\\.\\d+$").match(about.lblVersion->text()).hasMatch());
        QCOMPARE(about.cmdSysInfo->text(), QStringLiteral("&Systeminfo..."));
        QCOMPARE(about.cmdOK->text(), QStringLiteral("OK"));
        QVERIFY(about.findChild<QLabel*>("lblHersteller")->text().contains("mailto:"));
        QVERIFY(about.findChild<QLabel*>("lblWeb")->text().contains("https://"));
    }

    void systemInfo_data()
    {
        QTest::addColumn<QString>("registry");
        QTest::addColumn<bool>("fileExists");
        QTest::addColumn<bool>("startWorks");
        QTest::addColumn<bool>("started");
        QTest::newRow("path value") << "path" << false << true << true;
        QTest::newRow("location with file") << "location" << true << true << true;
        QTest::newRow("location without file") << "location" << false << true << false;
        QTest::newRow("nothing in the registry") << "" << false << true << false;
        QTest::newRow("start refused") << "path" << false << false << true;
    }

    void systemInfo()
    {
        QFETCH(QString, registry);
        QFETCH(bool, fileExists);
        QFETCH(bool, startWorks);
        QFETCH(bool, started);
        QTemporaryDir dir;
        if (registry == "path")
            m_registry.insert("SOFTWARE\\Microsoft\\Shared Tools\\MSINFO|PATH", "C:\\Tools\\msinfo32.exe");
        if (registry == "location")
            m_registry.insert("SOFTWARE\\Microsoft\\Shared Tools Location|MSINFO", dir.path());
        if (fileExists) {
            QFile file(dir.path() + "\\MSINFO32.EXE");
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        m_startWorks = startWorks;
        ScriptedBoxes boxes;
        if (!(started && startWorks))
            boxes.answer(QMessageBox::Ok);
        frmAbout about;
        about.cmdSysInfo->click();
        QCOMPARE(m_started.size(), started ? 1 : 0);
        if (!(started && startWorks))
            QCOMPARE(boxes.lastText(), QStringLiteral("Systeminformationen sind momentan nicht verfügbar"));
    }

    void realRegistryOutsideWindowsFindsNothing()
    {
        SystemServices::setRegistryReader(nullptr);
#ifndef Q_OS_WIN
        QVERIFY(
            !SystemServices::readMachineRegistryValue("SOFTWARE\\Microsoft\\Shared Tools\\MSINFO", "PATH"));
        ScriptedBoxes boxes;
        boxes.answer(QMessageBox::Ok);
        frmAbout about;
        about.StartSysInfo();
        QVERIFY(m_started.isEmpty());
#endif
    }
};

QTEST_MAIN(TestAbout)
#include "TestAbout.moc"
