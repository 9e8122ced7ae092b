#pragma once

#include <QLineEdit>

// The short-name field of the searches: upper case, at most 18 characters, and put into the
// search-key form when it loses the focus.
class SearchTermField : public QLineEdit
{
    Q_OBJECT

public:
    explicit SearchTermField(QWidget* parent = nullptr);

    void normalise();

protected:
    void focusOutEvent(QFocusEvent* event) override;
};
