#include "FMStart.h"
#include "cache/cacheapi.h"
#include "widgets/Translations.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("VELMOR Archiv-Übergabe"));
    QApplication::setApplicationVersion(QStringLiteral(VELMOR_VERSION));
    installGermanTranslations(app);

    FMStart window;
    if (!window.start())
        return 0;
    window.show();
    const int result = app.exec();
    session().Factory.reset();
    return result;
}
