#include "CommandLine.h"

namespace CommandLine {

QStringList splitWords(const QString& commandLine)
{
    enum class Quote { None, Single, Double };

    QStringList words;
    QString word;
    bool inWord = false;
    Quote quote = Quote::None;

    for (qsizetype i = 0; i < commandLine.size(); ++i) {
        const QChar c = commandLine.at(i);
        const bool hasNext = i + 1 < commandLine.size();
        switch (quote) {
        case Quote::Single:
            if (c == u'\'')
                quote = Quote::None;
            else
                word += c;
            break;
        case Quote::Double:
            if (c == u'"') {
                quote = Quote::None;
            } else if (c == u'\\' && hasNext && QStringView(u"\"\\$`").contains(commandLine.at(i + 1))) {
                word += commandLine.at(++i);
            } else {
                word += c;
            }
            break;
        case Quote::None:
            if (c.isSpace()) {
                if (inWord)
                    words.append(std::exchange(word, QString()));
                inWord = false;
                continue;
            }
            inWord = true;
            if (c == u'\'')
                quote = Quote::Single;
            else if (c == u'"')
                quote = Quote::Double;
            else if (c == u'\\' && hasNext)
                word += commandLine.at(++i);
            else
                word += c;
            break;
        }
    }
    if (inWord)
        words.append(word);
    return words;
}

} // namespace CommandLine
