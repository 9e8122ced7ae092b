#include "cacheapi.h"

#include <QLineEdit>

QString ReplaceText(const QString& text, const QString& find, const QString& replace, bool multiChar)
{
    const QString what = multiChar ? find : find.left(1);
    const QString with = multiChar ? replace : replace.left(1);
    if (what.isEmpty())
        return text;
    QString result;
    result.reserve(text.size());
    qsizetype at = 0;
    while (at < text.size()) {
        if (QStringView(text).mid(at, what.size()) == what) {
            result += with;
            at += what.size();
        } else {
            result += text.at(at);
            ++at;
        }
    }
    return result;
}

QString ConvertText(const QString& text, const QString& mode, bool upperCase)
{
    QString result = upperCase ? text.toUpper() : text;
    if (mode == QLatin1String("VELMOR") && !result.isEmpty()) {
        // Each code stands for one character and no such character is a code again: one pass
        // does what replacing code after code would, and a text without codes stays as it is.
        static constexpr char16_t codes[] = u"{|}~[\\]õ";
        static constexpr char16_t chars[] = u"äöüßÄÖÜ§";
        const QStringView codeView(codes, 8);
        for (qsizetype i = 0; i < result.size(); ++i) {
            // Digits, capitals and most small letters are no code: passed over without a search.
            const char16_t c = result.at(i).unicode();
            if (c < u'[' || (c > u']' && c < u'{') || (c > u'~' && c != u'õ'))
                continue;
            const qsizetype code = codeView.indexOf(QChar(c));
            if (code >= 0)
                result[i] = QChar(chars[code]);
        }
    } else if (mode == QLatin1String("VELMOR")) {
        static const char16_t* const pairs[][2] = {{u"{", u"ä"}, {u"|", u"ö"},  {u"}", u"ü"}, {u"~", u"ß"},
                                                   {u"[", u"Ä"}, {u"\\", u"Ö"}, {u"]", u"Ü"}, {u"õ", u"§"}};
        for (const auto& p : pairs)
            result = ReplaceText(result, QString::fromUtf16(p[0]), QString::fromUtf16(p[1]), false);
    } else if (mode == QLatin1String("VELMORSUCHE")) {
        static const char16_t* const pairs[][2] = {
            {u"ß", u"SS"}, {u"Ä", u"AE"}, {u"Ö", u"OE"}, {u"Ü", u"UE"}};
        for (const auto& p : pairs)
            result = ReplaceText(result, QString::fromUtf16(p[0]), QString::fromUtf16(p[1]), true);
    }
    return result;
}

void SelectAllText(QLineEdit* control)
{
    if (control)
        control->setSelection(0, static_cast<int>(control->text().size()));
}
