#include "DemoScans.h"

#include <QHash>
#include <QPoint>
#include <QRandomGenerator>
#include <QtEndian>
#include <cmath>

namespace erpsim {

QByteArray lzwEncode(const QByteArray& data)
{
    constexpr int Clear = 256, EndOfInformation = 257, First = 258, Full = 4094;
    QByteArray out;
    quint32 buffer = 0;
    int buffered = 0;
    int bits = 9;
    auto put = [&](int code) {
        buffer = (buffer << bits) | static_cast<quint32>(code);
        buffered += bits;
        while (buffered >= 8) {
            out.append(static_cast<char>((buffer >> (buffered - 8)) & 0xff));
            buffered -= 8;
        }
    };
    QHash<quint32, int> table;
    table.reserve(Full);
    int next = First;
    // The decoder widens its codes one entry ahead of the table, so the encoder does too.
    auto grow = [&] {
        ++next;
        if (next == Full) {
            put(Clear);
            table.clear();
            next = First;
            bits = 9;
        } else if (next > (1 << bits) - 1) {
            ++bits;
        }
    };
    put(Clear);
    if (!data.isEmpty()) {
        int prefix = static_cast<uchar>(data.at(0));
        for (qsizetype i = 1; i < data.size(); ++i) {
            const int c = static_cast<uchar>(data.at(i));
            const quint32 key = static_cast<quint32>(prefix) << 8 | static_cast<quint32>(c);
            const auto found = table.constFind(key);
            if (found != table.constEnd()) {
                prefix = found.value();
                continue;
            }
            put(prefix);
            table.insert(key, next);
            grow();
            prefix = c;
        }
        put(prefix);
        grow();
    }
    put(EndOfInformation);
    if (buffered > 0)
        out.append(static_cast<char>((buffer << (8 - buffered)) & 0xff));
    return out;
}

QByteArray writeTiff(const QList<TiffPage>& pages, TiffCompression compression)
{
    QByteArray tiff("II*\0\0\0\0\0", 8);
    auto put16 = [&](quint16 v) {
        char b[2];
        qToLittleEndian(v, b);
        tiff.append(b, 2);
    };
    auto put32 = [&](quint32 v) {
        char b[4];
        qToLittleEndian(v, b);
        tiff.append(b, 4);
    };
    qsizetype previousLink = 4;
    for (int p = 0; p < pages.size(); ++p) {
        const TiffPage& page = pages.at(p);
        const QByteArray strip = compression == TiffCompression::Lzw ? lzwEncode(page.pixels) : page.pixels;
        const auto stripOffset = static_cast<quint32>(tiff.size());
        tiff += strip;
        if (tiff.size() % 2)
            tiff.append('\0');
        const auto rationals = static_cast<quint32>(tiff.size());
        put32(static_cast<quint32>(page.dpi)), put32(1), put32(static_cast<quint32>(page.dpi)), put32(1);
        const auto ifd = static_cast<quint32>(tiff.size());
        qToLittleEndian(ifd, tiff.data() + previousLink);

        struct Entry
        {
            quint16 tag, type;
            quint32 count, value;
        };
        const bool bilevel = page.bitsPerSample == 1;
        const quint32 pageNumber = static_cast<quint32>(p) | static_cast<quint32>(pages.size())
                                                                 << 16; // two SHORTs in place
        const Entry entries[] = {
            {254, 4, 1, pages.size() > 1 ? 2u : 0u},
            {256, 4, 1, static_cast<quint32>(page.width)},
            {257, 4, 1, static_cast<quint32>(page.height)},
            {258, 3, 1, static_cast<quint32>(page.bitsPerSample)},
            {259, 3, 1, compression == TiffCompression::Lzw ? 5u : 1u},
            {262, 3, 1, bilevel ? 0u : 1u},
            {273, 4, 1, stripOffset},
            {277, 3, 1, 1},
            {278, 4, 1, static_cast<quint32>(page.height)},
            {279, 4, 1, static_cast<quint32>(strip.size())},
            {282, 5, 1, rationals},
            {283, 5, 1, rationals + 8},
            {296, 3, 1, 2},
            {297, 3, 2, pageNumber},
        };
        put16(static_cast<quint16>(std::size(entries)));
        for (const Entry& e : entries) {
            put16(e.tag), put16(e.type), put32(e.count);
            if (e.type == 3 && e.count == 1)
                put16(static_cast<quint16>(e.value)), put16(0);
            else
                put32(e.value);
        }
        previousLink = tiff.size();
        put32(0);
    }
    return tiff;
}

QByteArray flate(const QByteArray& data)
{
    // qCompress puts the uncompressed length in front of the zlib stream.
    return qCompress(data, 6).mid(4);
}

QByteArray pdfText(const QString& text)
{
    QByteArray out;
    for (const QChar ch : text) {
        const char16_t u = ch.unicode();
        char byte = '?';
        if (u == u'\u20ac')
            byte = '\x80';
        else if (u == u'\u2013')
            byte = '\x96';
        else if (u == u'\u00b7' || (u >= 0x20 && u < 0x7f) || (u >= 0xa0 && u <= 0xff))
            byte = static_cast<char>(u);
        if (byte == '(' || byte == ')' || byte == '\\')
            out.append('\\');
        out.append(byte);
    }
    return out;
}

QByteArray assemblePdf(const QList<QByteArray>& objects, const QByteArray& header)
{
    QByteArray pdf = header;
    QList<qsizetype> offsets;
    for (int i = 0; i < objects.size(); ++i) {
        offsets << pdf.size();
        pdf += QByteArray::number(i + 1) + " 0 obj\n" + objects.at(i) + "\nendobj\n";
    }
    const qsizetype xref = pdf.size();
    pdf += "xref\n0 " + QByteArray::number(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (qsizetype offset : offsets)
        pdf += QByteArray::number(offset).rightJustified(10, '0') + " 00000 n \n";
    pdf += "trailer\n<< /Size " + QByteArray::number(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
           QByteArray::number(xref) + "\n%%EOF\n";
    return pdf;
}

QByteArray writePdf(const QList<PdfPage>& pages)
{
    // Objects 1 catalog, 2 page tree, 3 and 4 fonts; then per page: page, content, images.
    QList<QByteArray> objects(4);
    QByteArray kids;
    for (const PdfPage& page : pages) {
        const int pageObject = static_cast<int>(objects.size()) + 1;
        kids += QByteArray::number(pageObject) + " 0 R ";
        QByteArray xobjects;
        for (int i = 0; i < page.images.size(); ++i)
            xobjects +=
                "/Im" + QByteArray::number(i) + ' ' + QByteArray::number(pageObject + 2 + i) + " 0 R ";
        objects << "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + QByteArray::number(page.width, 'f', 2) +
                       ' ' + QByteArray::number(page.height, 'f', 2) + "] /Contents " +
                       QByteArray::number(pageObject + 1) +
                       " 0 R /Resources << /Font << /F1 3 0 R /F2 4 0 R >> /XObject << " + xobjects +
                       ">> >> >>";
        const QByteArray content = flate(page.content);
        objects << "<< /Length " + QByteArray::number(content.size()) + " /Filter /FlateDecode >>\nstream\n" +
                       content + "\nendstream";
        for (const PdfImage& image : page.images) {
            QByteArray dict = "<< /Type /XObject /Subtype /Image /Width " + QByteArray::number(image.width) +
                              " /Height " + QByteArray::number(image.height) + " /ColorSpace /" +
                              image.colorSpace + " /BitsPerComponent " +
                              QByteArray::number(image.bitsPerComponent) + " /Length " +
                              QByteArray::number(image.data.size());
            if (!image.filter.isEmpty())
                dict += " /Filter /" + image.filter;
            objects << dict + " >>\nstream\n" + image.data + "\nendstream";
        }
    }
    objects[0] = "<< /Type /Catalog /Pages 2 0 R >>";
    objects[1] = "<< /Type /Pages /Kids [" + kids + "] /Count " + QByteArray::number(pages.size()) + " >>";
    objects[2] = "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>";
    objects[3] = "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica-Bold /Encoding /WinAnsiEncoding >>";

    return assemblePdf(objects, "%PDF-1.4\n%\xe2\xe3\xcf\xd3\n");
}

namespace {

// ---- The invoice ----

QString money(qint64 cents)
{
    QString digits = QString::number(std::abs(cents) / 100);
    for (qsizetype i = digits.size() - 3; i > 0; i -= 3)
        digits.insert(i, u'.');
    return (cents < 0 ? QStringLiteral("-") : QString()) + digits + u',' +
           QStringLiteral("%1").arg(std::abs(cents) % 100, 2, 10, QLatin1Char('0'));
}

// Helvetica's advance widths (per 1000) for what is right-aligned: figures and their signs.
double textWidth(const QString& text, double size)
{
    double width = 0;
    for (const QChar ch : text)
        width += ch.isDigit() ? 556 : (ch == u'.' || ch == u',' || ch == u' ') ? 278 : ch == u'-' ? 333 : 600;
    return width * size / 1000;
}

class PageWriter
{
public:
    void text(double x, double y, const QString& s, double size = 9, bool bold = false)
    {
        m_content += "BT /" + QByteArray(bold ? "F2 " : "F1 ") + QByteArray::number(size) + " Tf " + num(x) +
                     ' ' + num(y) + " Td (" + pdfText(s) + ") Tj ET\n";
    }
    void right(double x, double y, const QString& s, double size = 9, bool bold = false)
    {
        text(x - textWidth(s, size), y, s, size, bold);
    }
    void line(double x1, double y1, double x2, double y2, double width = 0.5)
    {
        m_content +=
            num(width) + " w " + num(x1) + ' ' + num(y1) + " m " + num(x2) + ' ' + num(y2) + " l S\n";
    }
    void box(double x, double y, double w, double h, double grey)
    {
        m_content += num(grey) + " g " + num(x) + ' ' + num(y) + ' ' + num(w) + ' ' + num(h) + " re f 0 g\n";
    }
    QByteArray content() const { return m_content; }

private:
    static QByteArray num(double v) { return QByteArray::number(v, 'f', 2); }
    QByteArray m_content;
};

struct Position
{
    const char* article;
    const char* text;
    int quantity;
    const char* unit;
    qint64 priceCents;
};

void letterhead(PageWriter& p, int page, int pages)
{
    p.box(56, 778, 6, 34, 0.15);
    p.text(70, 796, QStringLiteral("VELMOR Baustoffhandel GmbH"), 17, true);
    p.text(70, 782, QStringLiteral("Baustoffe \u00b7 Fliesen \u00b7 Holz \u00b7 Werkzeug"), 8.5);
    p.text(380, 800, QStringLiteral("Industriestra\u00dfe 8"), 8.5);
    p.text(380, 789, QStringLiteral("97076 W\u00fcrzburg"), 8.5);
    p.text(380, 778, QStringLiteral("Telefon 0931 40 40-0"), 8.5);
    p.line(56, 768, 539, 768, 1.2);
    p.line(56, 70, 539, 70);
    p.text(
        56, 58,
        QStringLiteral("VELMOR Baustoffhandel GmbH \u00b7 Amtsgericht W\u00fcrzburg HRB 4711 \u00b7 "
                       "Gesch\u00e4ftsf\u00fchrer: Dipl.-Kfm. Anton Velmor \u00b7 USt-IdNr. DE 123 456 789"),
        7);
    p.text(
        56, 48,
        QStringLiteral("Sparkasse Mainfranken W\u00fcrzburg \u00b7 IBAN DE27 7905 0000 0042 4711 00 \u00b7 "
                       "BIC BYLADEM1SWU"),
        7);
    p.right(539, 48, QStringLiteral("Seite %1 von %2").arg(page).arg(pages), 7);
}

void tableHeader(PageWriter& p, double y)
{
    p.box(56, y - 4, 483, 15, 0.88);
    p.text(60, y, QStringLiteral("Pos."), 8.5, true);
    p.text(88, y, QStringLiteral("Artikel"), 8.5, true);
    p.text(140, y, QStringLiteral("Bezeichnung"), 8.5, true);
    p.text(352, y, QStringLiteral("Menge"), 8.5, true);
    p.text(390, y, QStringLiteral("Einh."), 8.5, true);
    p.text(430, y, QStringLiteral("Einzelpreis"), 8.5, true);
    p.right(535, y, QStringLiteral("Gesamt EUR"), 8.5, true);
}

} // namespace

QByteArray demoInvoicePdf()
{
    static const Position positions[] = {
        {"100007", "Zement CEM I 42,5 R 25 kg", 60, "Sack", 695},
        {"100014", "Kalkzementputz Sack 30 kg", 40, "Sack", 845},
        {"100021", "Mauerziegel 2DF", 2000, "St.", 62},
        {"100028", "Porenbetonstein 24 cm", 180, "St.", 389},
        {"100035", "Estrichbeton Sack 40 kg", 60, "Sack", 749},
        {"100042", "Stahlmatte Q188", 12, "St.", 4590},
        {"100049", "Kantholz Fichte 100x100 mm", 90, "lfm", 612},
        {"100056", "Dachlatte 30x50 mm", 300, "lfm", 118},
        {"100063", "D\u00e4mmplatte WLG 035 100 mm", 110, "m\u00b2", 1290},
        {"100070", "Holzfaserd\u00e4mmplatte 60 mm", 45, "m\u00b2", 1850},
        {"100077", "Abdichtungsbahn 1 m x 10 m", 8, "Rolle", 5490},
        {"100084", "Gipskarton GKB 12,5 mm", 70, "Platte", 785},
        {"100091", "Schrauben verzinkt 4x40 (500 St.)", 6, "Pak.", 1290},
        {"100098", "Fliesenkleber Flex 25 kg", 20, "Sack", 1690},
        {"100105", "Bodenfliese Feinsteinzeug 60x60", 45, "m\u00b2", 2890},
        {"100112", "Fugenm\u00f6rtel 5 kg", 9, "Eimer", 1390},
        {"100119", "Tiefengrund 10 l", 5, "Eimer", 2450},
        {"100126", "Fassadenfarbe wei\u00df 12,5 l", 7, "Eimer", 7990},
        {"100133", "Randstein Beton 100x25x8", 30, "St.", 495},
        {"100140", "Sch\u00fcttgut Kies 0/16 lose", 6, "t", 2390},
        {"100147", "Pflasterstein grau 20x10x8", 45, "m\u00b2", 1895},
        {"100154", "Kupferrohr 15 mm 5 m", 10, "St.", 3190},
        {"100161", "Spachtelmasse 20 kg", 6, "Sack", 1590},
        {"100168", "Terrassendiele L\u00e4rche 145 mm", 32, "lfm", 845},
    };
    // The demo database books invoice 200001 at 15.307,98 EUR gross; freight makes up the rest.
    constexpr qint64 Net = 1286385;
    qint64 goods = 0;
    for (const Position& pos : positions)
        goods += pos.quantity * pos.priceCents;
    const qint64 freight = Net - goods;
    const qint64 vat = (Net * 19 + 50) / 100;

    constexpr int Pages = 2;
    QList<PdfPage> pages;
    PageWriter p;
    letterhead(p, 1, Pages);
    p.text(
        56, 724,
        QStringLiteral("VELMOR Baustoffhandel GmbH \u00b7 Industriestra\u00dfe 8 \u00b7 97076 W\u00fcrzburg"),
        6.5);
    p.line(56, 720, 290, 720, 0.3);
    p.text(56, 704, QStringLiteral("Bauunternehmung M\u00fcller & S\u00f6hne GmbH"), 10);
    p.text(56, 691, QStringLiteral("z. Hd. Herrn J\u00fcrgen M\u00fcller"), 10);
    p.text(56, 678, QStringLiteral("Hauptstra\u00dfe 12"), 10);
    p.text(56, 652, QStringLiteral("97070 W\u00fcrzburg"), 10, true);
    const QStringList labels = {"Rechnungsnummer", "Rechnungsdatum", "Kundennummer", "Auftrag",
                                "Lieferschein",    "Ihr Zeichen",    "Bearbeiter"};
    const QStringList values = {"200001",
                                "07.05.2024",
                                "4711",
                                "100001 vom 15.03.2024",
                                "4711-001 vom 06.05.2024",
                                "M\u00fc/Kiga",
                                "Sabine M\u00fcller, -17"};
    for (int i = 0; i < labels.size(); ++i) {
        p.text(350, 712 - i * 12, labels.at(i), 8.5);
        p.text(440, 712 - i * 12, values.at(i), 8.5, i == 0);
    }
    p.text(56, 600, QStringLiteral("Rechnung 200001"), 15, true);
    p.text(56, 584,
           QStringLiteral(
               "Baustelle 1: Neubau Kindergarten Sonnenstra\u00dfe, Sonnenstra\u00dfe 5, W\u00fcrzburg"),
           9);
    p.text(56, 566, QStringLiteral("Sehr geehrte Damen und Herren,"), 9);
    p.text(56, 554, QStringLiteral("f\u00fcr unsere Lieferungen und Leistungen berechnen wir Ihnen:"), 9);

    double y = 530;
    tableHeader(p, y);
    y -= 18;
    qint64 carried = 0;
    int pos = 0;
    auto row = [&](PageWriter& w, const QString& article, const QString& text, const QString& qty,
                   const QString& unit, const QString& price, qint64 total) {
        ++pos;
        w.right(76, y, QString::number(pos * 10), 8.5);
        w.text(88, y, article, 8.5);
        w.text(140, y, text, 8.5);
        w.right(380, y, qty, 8.5);
        w.text(390, y, unit, 8.5);
        w.right(476, y, price, 8.5);
        w.right(535, y, money(total), 8.5);
        carried += total;
        y -= 14;
    };
    int i = 0;
    for (; i < 18; ++i) {
        const Position& r = positions[i];
        row(p, QString::fromLatin1(r.article), QString(r.text), QString::number(r.quantity), QString(r.unit),
            money(r.priceCents), r.quantity * r.priceCents);
    }
    p.line(350, y + 8, 539, y + 8);
    p.text(350, y - 4, QStringLiteral("\u00dcbertrag"), 9, true);
    p.right(535, y - 4, money(carried), 9, true);
    pages << PdfPage{p.content(), 595.28, 841.89, {}};

    PageWriter q;
    letterhead(q, 2, Pages);
    q.text(56, 740, QStringLiteral("Rechnung 200001 vom 07.05.2024 \u2013 Kunde 4711 \u2013 Fortsetzung"), 9,
           true);
    y = 716;
    q.text(350, y, QStringLiteral("\u00dcbertrag"), 9, true);
    q.right(535, y, money(carried), 9, true);
    y -= 22;
    tableHeader(q, y);
    y -= 18;
    for (; i < static_cast<int>(std::size(positions)); ++i) {
        const Position& r = positions[i];
        row(q, QString::fromLatin1(r.article), QString(r.text), QString::number(r.quantity), QString(r.unit),
            money(r.priceCents), r.quantity * r.priceCents);
    }
    row(q, QStringLiteral("900001"), QStringLiteral("Fracht und Anlieferung Baustelle (Kran)"),
        QStringLiteral("1"), QStringLiteral("psch."), money(freight), freight);
    y -= 6;
    q.line(350, y + 10, 539, y + 10);
    q.text(350, y - 2, QStringLiteral("Nettobetrag"), 9);
    q.right(535, y - 2, money(Net), 9);
    q.text(350, y - 16, QStringLiteral("zzgl. 19 % USt."), 9);
    q.right(535, y - 16, money(vat), 9);
    q.line(350, y - 22, 539, y - 22, 1);
    q.text(350, y - 36, QStringLiteral("Rechnungsbetrag EUR"), 10, true);
    q.right(535, y - 36, money(Net + vat), 10, true);
    q.line(350, y - 42, 539, y - 42, 0.5);
    q.line(350, y - 44, 539, y - 44, 0.5);
    y -= 80;
    q.text(56, y,
           QStringLiteral(
               "Zahlbar bis 06.06.2024 ohne Abzug. Bei Zahlung bis 17.05.2024 gew\u00e4hren wir 2 % Skonto."),
           9);
    q.text(56, y - 13, QStringLiteral("Bitte geben Sie bei Zahlung die Rechnungsnummer 200001 an."), 9);
    q.text(56, y - 26, QStringLiteral("Die Ware bleibt bis zur vollst\u00e4ndigen Bezahlung unser Eigentum."),
           9);
    q.text(56, y - 52, QStringLiteral("Vielen Dank f\u00fcr Ihren Auftrag!"), 9);
    q.text(56, y - 78, QStringLiteral("Mit freundlichen Gr\u00fc\u00dfen"), 9);
    q.text(56, y - 91, QStringLiteral("VELMOR Baustoffhandel GmbH"), 9, true);
    pages << PdfPage{q.content(), 595.28, 841.89, {}};
    return writePdf(pages);
}

namespace {

// ---- The delivery note: a needle printer's 5x7 matrix, scanned at 200 dpi ----

// Each glyph is seven rows of five dots, the leftmost dot in bit 4.
struct Glyph
{
    char16_t ch;
    quint8 rows[7];
};
const Glyph Font[] = {
    {u'A', {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {u'B', {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E}},
    {u'C', {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}},
    {u'D', {0x1E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x1E}},
    {u'E', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}},
    {u'F', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10}},
    {u'G', {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F}},
    {u'H', {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {u'I', {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {u'J', {0x07, 0x02, 0x02, 0x02, 0x02, 0x12, 0x0C}},
    {u'K', {0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11}},
    {u'L', {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F}},
    {u'M', {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11}},
    {u'N', {0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11}},
    {u'O', {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
    {u'P', {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10}},
    {u'Q', {0x0E, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0D}},
    {u'R', {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}},
    {u'S', {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}},
    {u'T', {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}},
    {u'U', {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
    {u'V', {0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04}},
    {u'W', {0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A}},
    {u'X', {0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11}},
    {u'Y', {0x11, 0x11, 0x0A, 0x04, 0x04, 0x04, 0x04}},
    {u'Z', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1F}},
    {u'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}},
    {u'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {u'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}},
    {u'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {u'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}},
    {u'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {u'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}},
    {u'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {u'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}},
    {u'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {u'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}},
    {u',', {0x00, 0x00, 0x00, 0x00, 0x0C, 0x04, 0x08}},
    {u':', {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00}},
    {u'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}},
    {u'/', {0x01, 0x01, 0x02, 0x04, 0x08, 0x10, 0x10}},
    {u'(', {0x02, 0x04, 0x08, 0x08, 0x08, 0x04, 0x02}},
    {u')', {0x08, 0x04, 0x02, 0x02, 0x02, 0x04, 0x08}},
    {u'#', {0x0A, 0x0A, 0x1F, 0x0A, 0x1F, 0x0A, 0x0A}},
    {u'%', {0x18, 0x19, 0x02, 0x04, 0x08, 0x13, 0x03}},
    {u'+', {0x00, 0x04, 0x04, 0x1F, 0x04, 0x04, 0x00}},
    {u'&', {0x0C, 0x12, 0x14, 0x08, 0x15, 0x12, 0x0D}},
    {u'*', {0x00, 0x04, 0x15, 0x0E, 0x15, 0x04, 0x00}},
    {u'\u00c4', {0x0A, 0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11}},
    {u'\u00d6', {0x0A, 0x0E, 0x11, 0x11, 0x11, 0x11, 0x0E}},
    {u'\u00dc', {0x0A, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
};

class Canvas
{
public:
    Canvas(int width, int height) : m_width(width), m_height(height), m_ink(width * height, 0) {}

    void fill(int x, int y, int w, int h)
    {
        for (int r = std::max(0, y); r < std::min(m_height, y + h); ++r)
            for (int c = std::max(0, x); c < std::min(m_width, x + w); ++c)
                m_ink[r * m_width + c] = 1;
    }
    void frame(int x, int y, int w, int h, int t = 2)
    {
        fill(x, y, w, t), fill(x, y + h - t, w, t), fill(x, y, t, h), fill(x + w - t, y, t, h);
    }
    // Text in the printer's matrix: a dot every pitch pixels, the ribbon's dots a little round.
    void text(int x, int y, const QString& s, int pitch = 3, bool bold = false)
    {
        for (const QChar raw : s) {
            const QChar ch = raw == u'\u00df' ? u'S' : raw.toUpper();
            for (const Glyph& g : Font) {
                if (g.ch != ch.unicode())
                    continue;
                for (int r = 0; r < 7; ++r)
                    for (int c = 0; c < 5; ++c)
                        if (g.rows[r] & (0x10 >> c)) {
                            fill(x + c * pitch, y + r * pitch + 1, pitch, pitch - 1);
                            fill(x + c * pitch + 1, y + r * pitch, pitch - 1, pitch + 1);
                            if (bold)
                                fill(x + c * pitch + pitch / 2 + 1, y + r * pitch, pitch - 1, pitch);
                        }
            }
            x += 6 * pitch + (bold ? 1 : 0);
        }
    }
    // A pen stroke through the points, nib two pixels wide.
    void stroke(const QList<QPoint>& points)
    {
        for (qsizetype i = 1; i < points.size(); ++i) {
            const QPoint a = points.at(i - 1), b = points.at(i);
            const int steps = std::max({std::abs(b.x() - a.x()), std::abs(b.y() - a.y()), 1});
            for (int s = 0; s <= steps; ++s)
                fill(a.x() + (b.x() - a.x()) * s / steps, a.y() + (b.y() - a.y()) * s / steps, 3, 2);
        }
    }
    // Dust on the glass and the paper's own flecks.
    void specks(QRandomGenerator& random, int count)
    {
        for (int i = 0; i < count; ++i) {
            const int size = 1 + static_cast<int>(random.bounded(3));
            fill(static_cast<int>(random.bounded(m_width)), static_cast<int>(random.bounded(m_height)), size,
                 size);
        }
    }
    QByteArray packed() const
    {
        const int stride = (m_width + 7) / 8;
        QByteArray bits(stride * m_height, '\0');
        for (int r = 0; r < m_height; ++r)
            for (int c = 0; c < m_width; ++c)
                if (m_ink[r * m_width + c])
                    bits[r * stride + c / 8] =
                        static_cast<char>(bits[r * stride + c / 8] | (0x80 >> (c % 8)));
        return bits;
    }
    int width() const { return m_width; }
    int height() const { return m_height; }

private:
    int m_width, m_height;
    QList<quint8> m_ink;
};

} // namespace

QByteArray demoDeliveryNoteTiff(quint32 seed)
{
    constexpr int Dpi = 200;
    constexpr int Width = 1654, Height = 2339; // A4 at 200 dpi
    QRandomGenerator random(seed);
    struct Item
    {
        const char* article;
        const char* text;
        const char* quantity;
    };
    static const Item items[] = {
        {"100007", "ZEMENT CEM I 42,5 R 25 KG", "60 SACK"},
        {"100014", "KALKZEMENTPUTZ SACK 30 KG", "40 SACK"},
        {"100021", "MAUERZIEGEL 2DF", "2000 ST."},
        {"100028", "PORENBETONSTEIN 24 CM", "180 ST."},
        {"100035", "ESTRICHBETON SACK 40 KG", "60 SACK"},
        {"100042", "STAHLMATTE Q188", "12 ST."},
        {"100049", "KANTHOLZ FICHTE 100X100 MM", "90 LFM"},
        {"100056", "DACHLATTE 30X50 MM", "300 LFM"},
        {"100063", "DÄMMPLATTE WLG 035 100 MM", "110 M2"},
        {"100070", "HOLZFASERDÄMMPLATTE 60 MM", "45 M2"},
        {"100077", "ABDICHTUNGSBAHN 1 M X 10 M", "8 ROLLE"},
        {"100084", "GIPSKARTON GKB 12,5 MM", "70 PLATTE"},
        {"100091", "SCHRAUBEN VERZINKT 4X40 (500)", "6 PAK."},
        {"100098", "FLIESENKLEBER FLEX 25 KG", "20 SACK"},
        {"100105", "BODENFLIESE 60X60", "45 M2"},
        {"100112", "FUGENMÖRTEL 5 KG", "9 EIMER"},
        {"100119", "TIEFENGRUND 10 L", "5 EIMER"},
        {"100126", "FASSADENFARBE WEISS 12,5 L", "7 EIMER"},
        {"100133", "RANDSTEIN BETON 100X25X8", "30 ST."},
        {"100140", "KIES 0/16 LOSE", "6 T"},
        {"100147", "PFLASTERSTEIN GRAU 20X10X8", "45 M2"},
        {"100154", "KUPFERROHR 15 MM 5 M", "10 ST."},
        {"100161", "SPACHTELMASSE 20 KG", "6 SACK"},
        {"100168", "TERRASSENDIELE LÄRCHE 145", "32 LFM"},
    };
    constexpr int Pages = 2;
    constexpr int PerPage = 16;
    QList<TiffPage> pages;
    for (int page = 0; page < Pages; ++page) {
        Canvas c(Width, Height);
        const int left = 150;
        c.text(left, 140, QStringLiteral("VELMOR BAUSTOFFHANDEL GMBH"), 5, true);
        c.text(left, 190, QStringLiteral("INDUSTRIESTRASSE 8 - 97076 WÜRZBURG - TEL. 0931 40 40-0"));
        c.fill(left, 222, Width - 2 * left, 3);
        c.text(left, 260, QStringLiteral("LIEFERSCHEIN NR. 4711-001"), 4, true);
        c.text(1080, 260, QStringLiteral("BLATT %1 / %2").arg(page + 1).arg(Pages), 4);
        c.text(left, 320, QStringLiteral("DATUM:      06.05.2024         AUFTRAG: 100001"));
        c.text(left, 350, QStringLiteral("KUNDE:      4711  BAUUNTERNEHMUNG MÜLLER & SÖHNE GMBH"));
        c.text(left, 380, QStringLiteral("BAUSTELLE:  1  NEUBAU KINDERGARTEN SONNENSTRASSE"));
        c.text(left, 410, QStringLiteral("            SONNENSTRASSE 5, 97070 WÜRZBURG"));
        c.text(left, 440, QStringLiteral("FAHRER:     K. BAUER   LKW WÜ-VB 412   KRAN"));
        int y = 500;
        c.fill(left, y, Width - 2 * left, 2);
        c.text(left, y + 14, QStringLiteral("POS  ARTIKEL  BEZEICHNUNG"), 3, true);
        c.text(1180, y + 14, QStringLiteral("MENGE"), 3, true);
        c.fill(left, y + 44, Width - 2 * left, 2);
        y += 64;
        for (int i = page * PerPage; i < std::min<int>((page + 1) * PerPage, std::size(items)); ++i) {
            c.text(left, y, QStringLiteral("%1").arg((i + 1) * 10, 3));
            c.text(left + 90, y, QString::fromLatin1(items[i].article));
            c.text(left + 240, y, QString::fromUtf8(items[i].text));
            c.text(1180, y, QString::fromLatin1(items[i].quantity));
            y += 42;
        }
        c.fill(left, y, Width - 2 * left, 2);
        if (page == Pages - 1) {
            y += 60;
            c.text(left, y, QStringLiteral("GEWICHT LT. WAAGE: 38.420 KG     PALETTEN: 14 (TAUSCH)"));
            c.text(left, y + 40, QStringLiteral("WARE VOLLSTÄNDIG UND UNBESCHÄDIGT ERHALTEN:"));
            c.frame(left, y + 80, 620, 220);
            c.text(left + 20, y + 270, QStringLiteral("DATUM / UNTERSCHRIFT"), 2);
            QList<QPoint> signature;
            for (int t = 0; t <= 60; ++t) {
                const double a = t / 60.0;
                signature << QPoint(left + 60 + static_cast<int>(a * 480),
                                    y + 190 +
                                        static_cast<int>(std::sin(a * 19.0) * 38 * (1 - a * 0.6) - a * 30));
            }
            c.stroke(signature);
            c.text(left + 60, y + 110, QStringLiteral("07.05.24"), 3);
            // The site's receipt stamp.
            const int sx = 980, sy = y + 90;
            c.frame(sx, sy, 400, 170, 4);
            c.text(sx + 30, sy + 30, QStringLiteral("MÜLLER & SÖHNE"), 4, true);
            c.text(sx + 30, sy + 80, QStringLiteral("BAULEITUNG KIGA"), 3);
            c.text(sx + 30, sy + 120, QStringLiteral("EINGANG 07.05.2024"), 3);
        } else {
            c.text(left, y + 30, QStringLiteral("FORTSETZUNG AUF BLATT 2"));
        }
        c.text(left, Height - 150, QStringLiteral("ES GELTEN UNSERE ALLGEMEINEN GESCHÄFTSBEDINGUNGEN."), 2);
        c.specks(random, 260);
        // The punched holes of the folder the copy came from.
        c.fill(40, Height / 2 - 280, 44, 44), c.fill(40, Height / 2 + 236, 44, 44);
        pages << TiffPage{c.width(), c.height(), 1, Dpi, c.packed()};
    }
    return writeTiff(pages, TiffCompression::Lzw);
}

} // namespace erpsim
