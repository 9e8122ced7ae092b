#include "PasswordEcho.h"

#include <QLineEdit>
#include <QProxyStyle>

namespace {

class StarEchoStyle : public QProxyStyle
{
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override
    {
        if (hint == SH_LineEdit_PasswordCharacter)
            return u'*';
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

} // namespace

void ShowPasswordAsStars(QLineEdit* edit)
{
    edit->setEchoMode(QLineEdit::Password);
    // The box holds the style as its child: it goes with the box.
    auto* style = new StarEchoStyle;
    style->setParent(edit);
    edit->setStyle(style);
}
