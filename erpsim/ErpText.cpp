#include "ErpText.h"

namespace erpsim {

namespace {
constexpr char16_t Coded[] = u"{|}~[\\]\u00f5";
constexpr char16_t Plain[] = u"\u00e4\u00f6\u00fc\u00df\u00c4\u00d6\u00dc\u00a7";
constexpr int Pairs = 8;

QString mapChars(const QString& text, const char16_t* from, const char16_t* to)
{
    QString out = text;
    for (QChar& c : out) {
        for (int i = 0; i < Pairs; ++i) {
            if (c.unicode() == from[i]) {
                c = QChar(to[i]);
                break;
            }
        }
    }
    return out;
}
} // namespace

QString erpToDisplay(const QString& stored)
{
    return mapChars(stored, Coded, Plain);
}

QString displayToErp(const QString& text)
{
    return mapChars(text, Plain, Coded);
}

QString searchKey(const QString& text)
{
    QString key = erpToDisplay(text).toUpper();
    key.replace(u'\u00df', QStringLiteral("SS"));
    key.replace(QStringLiteral("\u1e9e"), QStringLiteral("SS"));
    key.replace(u'\u00c4', QStringLiteral("AE"));
    key.replace(u'\u00d6', QStringLiteral("OE"));
    key.replace(u'\u00dc', QStringLiteral("UE"));
    return key;
}

} // namespace erpsim
