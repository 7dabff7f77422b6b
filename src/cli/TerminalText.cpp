#include "TerminalText.h"

#include <QChar>

namespace clipvane {

namespace {

QString escape(char32_t codePoint)
{
    if (codePoint <= 0xFF)
        return u"\\x%1"_qs.arg(uint(codePoint), 2, 16, QLatin1Char('0'));
    if (codePoint <= 0xFFFF)
        return u"\\u%1"_qs.arg(uint(codePoint), 4, 16, QLatin1Char('0'));
    return u"\\U%1"_qs.arg(uint(codePoint), 8, 16, QLatin1Char('0'));
}

bool isHidden(char32_t codePoint)
{
    switch (QChar::category(codePoint)) {
    case QChar::Other_Control:       // C0, DEL and C1: the terminal acts on them
    case QChar::Other_Format:        // bidirectional controls, zero-width and tag characters
    case QChar::Other_Surrogate:     // half a character: the terminal shows something else
    case QChar::Separator_Line:      // line and paragraph separators: breaks the table does
    case QChar::Separator_Paragraph: // not expect
        return true;
    default:
        return false;
    }
}

} // namespace

QString TerminalText::shown(const QString &text)
{
    QString result;
    result.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t codePoint = text.at(i).unicode();
        qsizetype units = 1;
        if (QChar::isHighSurrogate(codePoint) && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            codePoint = QChar::surrogateToUcs4(text.at(i), text.at(i + 1));
            units = 2;
        }
        if (isHidden(codePoint))
            result += escape(codePoint);
        else
            result += QStringView(text).mid(i, units);
        i += units - 1;
    }
    return result;
}

} // namespace clipvane
