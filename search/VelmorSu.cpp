#include "VelmorSu.h"

#include "FMArtsu.h"
#include "FMKnrsu.h"
#include "FMLnrsu.h"

#include <QApplication>

QString ChosenCustomerNo;
QString ChosenSupplierNo;
QString ChosenArticleNo;

namespace {
// The window the dialog stacks on: a search opened from another search or the lookup dialog
// belongs to that one.
QWidget* owner()
{
    if (QWidget* modal = QApplication::activeModalWidget())
        return modal;
    return QApplication::activeWindow();
}

template <typename Form> QString runModal(QString& chosen)
{
    chosen.clear();
    Form form(owner());
    form.exec();
    return chosen;
}
} // namespace

QString SearchCustomer()
{
    return runModal<FMKnrsu>(ChosenCustomerNo);
}

QString SearchSupplier()
{
    return runModal<FMLnrsu>(ChosenSupplierNo);
}

QString SearchArticle()
{
    return runModal<FMArtsu>(ChosenArticleNo);
}
