#pragma once

// The access routines every part of the program calls: connection, login, call helpers,
// error report and log, text conversion and application parameters.

#include "cacheclient/Factory.h"

#include <QDate>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <functional>
#include <memory>

class QLineEdit;

// The one program-wide session record.
struct SessionContext
{
    QString Firma;
    QString Filiale;
    QString Personalcode;
    QString Passwort;
    QString UserName;
    QString Server;
    QString Port;
    QString Namespace;
    QString WJ;
    QString CommandLine;
    QString ConnectString;
    std::shared_ptr<cacheclient::Factory> Factory;
    bool LoginDialogForced = false;
    bool LoginFailed = false;

    // The user record filled at login.
    QString PNAME, PNR, DW, BERGRP, ABTBEZ, ABTNR, HAbtNr, fax, EMAIL;

    // A login with data from the command line failed: the next login dialog comes with them.
    bool CommandLineRejected = false;
    // The last LoadConnectionSettings took its data from the command line.
    bool DataFromCommandLine = false;
    // The command line served the first login; later logins take what the user types.
    bool CommandLineServed = false;
    // The last connect stood but the server refused the session lines; reported once already.
    bool SessionSetupFailed = false;
    // EndProgram ran; whatever is still on the stack returns without further work.
    bool ProgramEnded = false;
    // False in programs without windows: no dialog is opened to ask the user.
    bool Interactive = true;
    // The number of the last error ReportCacheError reported: a hot folder tells a lost
    // connection from a refusal by it.
    int LastErrorNumber = 0;
};

SessionContext& session();

// Connection
extern const QString DefaultServer;
void LoadConnectionSettings();
void ReadLoginSettings();
// False when no connection with the session lines stands (the reason is reported already).
bool CacheConnect();
bool DBBegin();
void DBEnd(bool resetPointer);
void CacheDisconnect();
// Waits hundredths of a second while window events run; returns the whole seconds passed.
int Pause(int hundredths);
void EndProgram();
// What ends the process after the windows are gone; tests put a recorder in its place.
void setProgramExitHook(std::function<void()> hook);
// The idle timer that closes the connection after 60 s without database access.
bool idleTimerActive();
constexpr int IdleTimeoutMs = 60000;
constexpr int ConnectTriesPerRound = 3;
constexpr int ConnectPauseHundredths = 1000;

// Login
bool CacheLogin();
// What is wrong with login data, named for the user; empty when they may be sent. Company and
// branch are whole numbers in digits; the code has no control character and no "|".
QString LoginDataProblem(const QString& firma, const QString& filiale, const QString& personalcode);
// The line that tells the server for which company, branch and user the connection works.
QString SessionLine(const QString& firma, const QString& filiale, const QString& personalcode);
// True while a user is logged in; else the box "Bitte melden Sie sich zuerst an." and false.
bool RequireLogin();
// Remembers top-level windows in the order they were shown, for EndProgram; idempotent.
void TrackWindowOrder();

// Call helpers
// A text as an M string literal: in double quotes, inner double quotes doubled.
QString MStringLiteral(const QString& text);
// True for a non-empty run of ASCII digits: what may stand unquoted as a number in an M line.
bool IsDigits(const QString& text);
QString DBCall(const QString& command, bool& errorFlag);
// list keeps element 0 unused; its upper bound grows in steps of 10 (list.size() - 1).
short DBCallD(const QString& command, QChar delimiter, QStringList& list, bool& errorFlag);
void CloseCacheObject(std::unique_ptr<cacheclient::CacheObject>& object);
void CloseCacheObject(std::unique_ptr<cacheclient::ResultSet>& resultSet);
QString StrPiece(const QString& text, QChar delimiter, int n, const QString& defaultValue = QString());
QString StrAfterLast(const QString& text, QChar delimiter);
// Throws CacheError when the number is no valid date.
QDate ErpDateToDate(const QString& text);
QString DateToErpDate(const QVariant& value);
// The empty date mask of the date input.
extern const QString EmptyDateMask;
// Error number for a value that is no date, as the date conversion raises it.
constexpr int DateConversionError = 13;

// Error report and program log
void ReportCacheError(const cacheclient::CacheError& error, const QString& operation);
QString CacheErrorText(const cacheclient::CacheError& error, const QString& operation);
void WriteLog(const QString& programPart, const QString& text, const QString& parameter);
// Called once, on the first log line: creates the log window (hidden).
void setLogWindowCreator(std::function<void()> creator);

// Text conversion
QString ConvertText(const QString& text, const QString& mode, bool upperCase);
QString ReplaceText(const QString& text, const QString& find, const QString& replace, bool multiChar);
void SelectAllText(QLineEdit* control);

// Application parameters
QVariant GetAppParameter(const QString& group, const QString& name, bool wantDescription,
                         const QVariant& defaultValue = QVariant(), bool raw = false);
