#include "SearchTermField.h"

#include "SearchLogic.h"

#include <QValidator>

namespace {
class UpperCase : public QValidator
{
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override
    {
        input = input.toUpper();
        return Acceptable;
    }
};
} // namespace

SearchTermField::SearchTermField(QWidget* parent) : QLineEdit(parent)
{
    setMaxLength(18);
    setValidator(new UpperCase(this));
}

void SearchTermField::normalise()
{
    const QString term = NormaliseSearchTerm(text());
    if (term != text())
        setText(term);
}

void SearchTermField::focusOutEvent(QFocusEvent* event)
{
    normalise();
    QLineEdit::focusOutEvent(event);
}
