#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

// The operating system's registry and process start, behind seams that tests replace.
namespace SystemServices {

// A string value of HKEY_LOCAL_MACHINE\key, or nothing when key or value cannot be read.
// There is no registry outside Windows: nothing is ever found there.
std::optional<QString> readMachineRegistryValue(const QString& key, const QString& valueName);
// Starts a program in a normal, focused window; false when it cannot be started.
bool startProgram(const QString& path);
// Opens a document in the program the system associates with its type; false when none opens it.
bool openDocument(const QString& path);

using RegistryReader = std::function<std::optional<QString>(const QString& key, const QString& valueName)>;
using ProgramStarter = std::function<bool(const QString& path)>;
using DocumentOpener = std::function<bool(const QString& path)>;
// Empty functions restore the real ones.
void setRegistryReader(RegistryReader reader);
void setProgramStarter(ProgramStarter starter);
void setDocumentOpener(DocumentOpener opener);

} // namespace SystemServices
