#include "FileListDelegate.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QPainter>

namespace {

constexpr int Pad = 4;

QFont smaller(QFont font)
{
    font.setPointSizeF(font.pointSizeF() > 0 ? font.pointSizeF() * 0.85 : 8);
    return font;
}

} // namespace

QPair<QString, QString> FileListDelegate::folderAndName(const QString& path)
{
    const qsizetype cut = std::max(path.lastIndexOf(u'/'), path.lastIndexOf(u'\\'));
    if (cut < 0)
        return {QString(), path};
    return {path.left(cut), path.mid(cut + 1)};
}

QString FileListDelegate::stateText(State state)
{
    switch (state) {
    case Waiting:
        return QStringLiteral("wartet");
    case Running:
        return QStringLiteral("wird übergeben …");
    case NotHandedOver:
        return QStringLiteral("nicht übergeben");
    case HandedOver:
        return QStringLiteral("übergeben");
    }
    return {};
}

bool FileListDelegate::showsReason(const QModelIndex& index)
{
    const int state = index.data(StateRole).toInt();
    return state == NotHandedOver || (state == HandedOver && !index.data(ReasonRole).toString().isEmpty());
}

QSize FileListDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const int lines = showsReason(index) ? 3 : 2;
    const int height =
        option.fontMetrics.height() + (lines - 1) * QFontMetrics(smaller(option.font)).height();
    return {option.rect.width() > 0 ? option.rect.width() : 200, height + 2 * Pad};
}

void FileListDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                             const QModelIndex& index) const
{
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    opt.text.clear();
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &opt, painter, widget);

    const auto [folder, name] = folderAndName(index.data(PathRole).toString());
    const auto state = static_cast<State>(index.data(StateRole).toInt());
    const bool selected = opt.state.testFlag(QStyle::State_Selected);
    const QPalette::ColorGroup group =
        opt.state.testFlag(QStyle::State_Enabled) ? QPalette::Normal : QPalette::Disabled;
    const QColor text = opt.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text);
    QColor grey = text;
    grey.setAlphaF(0.6f);
    const QColor red = selected ? text : QColor(170, 0, 0);

    painter->save();
    const QRect area = opt.rect.adjusted(Pad, Pad, -Pad, -Pad);
    const QFont small = smaller(opt.font);
    const QFontMetrics big(opt.font), little(small);

    const QString stateLabel = stateText(state);
    painter->setFont(small);
    painter->setPen(showsReason(index) ? red : state == Running ? text : grey);
    const int stateWidth = little.horizontalAdvance(stateLabel);
    const QRect first(area.left(), area.top(), area.width(), big.height());
    painter->drawText(first, Qt::AlignRight | Qt::AlignVCenter, stateLabel);

    painter->setFont(opt.font);
    painter->setPen(text);
    const QRect nameRect = first.adjusted(0, 0, -(stateWidth + 2 * Pad), 0);
    painter->drawText(nameRect, Qt::AlignLeft | Qt::AlignVCenter,
                      big.elidedText(name, Qt::ElideRight, nameRect.width()));

    painter->setFont(small);
    painter->setPen(grey);
    QRect line(area.left(), first.bottom() + 1, area.width(), little.height());
    // The end of a folder tells most: shorten it in the middle.
    painter->drawText(line, Qt::AlignLeft | Qt::AlignVCenter,
                      little.elidedText(QDir::toNativeSeparators(folder), Qt::ElideMiddle, line.width()));
    if (showsReason(index)) {
        line.translate(0, little.height());
        painter->setPen(red);
        painter->drawText(line, Qt::AlignLeft | Qt::AlignVCenter,
                          little.elidedText(index.data(ReasonRole).toString(), Qt::ElideRight, line.width()));
    }
    painter->restore();
}
