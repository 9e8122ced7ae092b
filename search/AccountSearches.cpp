#include "FMKnrsu.h"
#include "FMLnrsu.h"
#include "SearchLogic.h"
#include "SearchTermField.h"
#include "VelmorSu.h"
#include "cache/cacheapi.h"
#include "widgets/VirtualList.h"

#include <QComboBox>

using cacheclient::CacheError;

namespace {
cacheclient::Factory& factory()
{
    if (!session().Factory)
        throw CacheError(cacheclient::ClientError::NotConnected,
                         QStringLiteral("Keine Verbindung zum Server"));
    return *session().Factory;
}

// Appends "column 1 | column 2" per row of a two-column query.
void appendEntries(QComboBox* combo, const QString& className, const QString& query, const QStringList& args)
{
    std::unique_ptr<cacheclient::ResultSet> result = factory().resultSet(className, query);
    try {
        result->execute(args);
        while (result->next())
            combo->addItem(result->columnValue(1) + QStringLiteral(" | ") +
                           ConvertText(result->columnValue(2), QStringLiteral("VELMOR"), false));
    } catch (const CacheError&) {
        CloseCacheObject(result);
        throw;
    }
    CloseCacheObject(result);
}
} // namespace

FMKnrsu::FMKnrsu(QWidget* parent)
    : AccountSearchForm({QStringLiteral("FMKnrsu"), QStringLiteral("Suche nach Kunden"),
                         QStringLiteral("Kurzbezeichnung::"), QStringLiteral("SKGRP"),
                         QStringLiteral("K Gruppe:"), QStringLiteral("KNRSULI"), QStringLiteral("KundenNr.")},
                        CustomerRows, ChosenCustomerNo, parent),
      SKGRP(m_combo), KNRSULI(m_list)
{
    loadGroups();
}

void FMKnrsu::loadGroups()
{
    // The empty entry stands for all groups and stays chosen until the user picks one.
    SKGRP->addItem(QString());
    DBBegin();
    try {
        appendEntries(SKGRP, QStringLiteral("XR.ParKundenGruppen"), QStringLiteral("Gruppen"),
                      {session().Firma, QString(), QStringLiteral("J")});
        DBEnd(false);
    } catch (const CacheError& error) {
        ReportCacheError(error, QStringLiteral("Kundengruppen für Kundensuche"));
    }
    SKGRP->setCurrentIndex(0);
}

void FMKnrsu::RunCustomerSearch()
{
    DBBegin();
    try {
        const int n = ReadAccountRows(factory(), session().Firma, QStringLiteral("K"), SKBEZ->text(),
                                      CustomerGroupArgument(SKGRP->currentText()), CustomerRows);
        DBEnd(false);
        showRowCount(n);
    } catch (const CacheError& error) {
        ReportCacheError(error, QStringLiteral("Kundennummer Suche"));
        showRowCount(KNRSULI->rowCountValue());
    }
}

FMLnrsu::FMLnrsu(QWidget* parent)
    : AccountSearchForm({QStringLiteral("FMLnrsu"), QStringLiteral("Suche nach Lieferant"),
                         QStringLiteral("Kurzbezeichnung:"), QStringLiteral("SSKTOK"),
                         QStringLiteral("SAKonto:"), QStringLiteral("LNRSULI"),
                         QStringLiteral("Lieferant.Nr.")},
                        SupplierRows, ChosenSupplierNo, parent),
      SSKTOK(m_combo), LNRSULI(m_list)
{
    loadAccounts();
}

void FMLnrsu::loadAccounts()
{
    DBBegin();
    try {
        appendEntries(SSKTOK, QStringLiteral("XR.KontoSammelKontoKreis"), QStringLiteral("SaKontoBez"),
                      {session().Firma, QStringLiteral("L"), QString(), QString()});
        DBEnd(false);
        SSKTOK->setCurrentIndex(SSKTOK->count() > 0 ? 0 : -1);
    } catch (const CacheError& error) {
        ReportCacheError(error, QStringLiteral("Lieferantensuche: Lieferantenarten"));
        SSKTOK->setCurrentIndex(-1);
    }
}

void FMLnrsu::RunSupplierSearch()
{
    DBBegin();
    try {
        const QString account = SupplierAccountArgument(SSKTOK->currentText());
        const int n = ReadAccountRows(factory(), session().Firma, QStringLiteral("L"), SKBEZ->text(), account,
                                      SupplierRows);
        DBEnd(false);
        showRowCount(n);
    } catch (const CacheError& error) {
        ReportCacheError(error, QStringLiteral("Suche Lieferantennummer"));
        showRowCount(LNRSULI->rowCountValue());
    }
}
