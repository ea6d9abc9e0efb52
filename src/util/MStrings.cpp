#include "MStrings.h"

#include <QFile>
#include <QLocale>

#include <mutex>
#include <optional>

// The string tables live in a static library: its resources register only when asked.
static void InitStringResources()
{
    Q_INIT_RESOURCE(strings);
}

namespace Cogitra {

namespace {

const QString kEnglish = QStringLiteral("en");
const QString kChinese = QStringLiteral("cn");

// Reads one quoted text starting at pos (on the opening quote); pos ends after the
// closing quote. Fails on a missing closing quote or an unknown escape.
std::optional<QString> ReadQuoted(const QString &line, qsizetype &pos)
{
    if (pos >= line.size() || line.at(pos) != u'"')
        return std::nullopt;
    QString out;
    for (++pos; pos < line.size(); ++pos) {
        const QChar c = line.at(pos);
        if (c == u'"') {
            ++pos;
            return out;
        }
        if (c != u'\\') {
            out.append(c);
            continue;
        }
        if (++pos >= line.size())
            return std::nullopt;
        switch (line.at(pos).unicode()) {
        case u'"':
            out.append(u'"');
            break;
        case u'\\':
            out.append(u'\\');
            break;
        case u'n':
            out.append(u'\n');
            break;
        case u't':
            out.append(u'\t');
            break;
        case u'r':
            out.append(u'\r');
            break;
        default:
            return std::nullopt;
        }
    }
    return std::nullopt;
}

void SkipBlanks(const QString &line, qsizetype &pos)
{
    while (pos < line.size() && (line.at(pos) == u' ' || line.at(pos) == u'\t'))
        ++pos;
}

struct Tables
{
    std::mutex mutex;
    QString language;
    QHash<QString, QString> current;
};

Tables &State()
{
    static Tables *tables = [] {
        auto *t = new Tables;
        t->language = Internal::ChooseLanguage(qEnvironmentVariable("COGITRA_LANG"),
                                               QLocale::system().uiLanguages());
        t->current = StringTable(t->language);
        return t;
    }();
    return *tables;
}

} // namespace

namespace Internal {

QString ChooseLanguage(const QString &forced, const QStringList &preferred)
{
    if (forced == kEnglish || forced == kChinese)
        return forced;
    auto isLanguage = [](const QString &tag, QStringView code) {
        return tag.startsWith(code, Qt::CaseInsensitive)
               && (tag.size() == code.size() || tag.at(code.size()) == u'-'
                   || tag.at(code.size()) == u'_');
    };
    // The first preferred language that has a table wins, as a bundle's localisations do.
    for (const QString &tag : preferred) {
        if (isLanguage(tag, u"zh"))
            return kChinese;
        if (isLanguage(tag, u"en"))
            return kEnglish;
    }
    return kEnglish;
}

} // namespace Internal

QHash<QString, QString> ParseStringTable(const QString &text, QStringList *problems)
{
    QHash<QString, QString> table;
    const QStringList lines = text.split(u'\n');
    auto report = [problems](qsizetype index, const QString &why) {
        if (problems)
            problems->append(QStringLiteral("line %1: %2").arg(index + 1).arg(why));
    };
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QString line = lines.at(i);
        if (line.endsWith(u'\r'))
            line.chop(1);
        if (i == 0 && line.startsWith(QChar(0xFEFF)))
            line.remove(0, 1);
        const QString trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith(u"//"))
            continue;
        if (trimmed.startsWith(u"/*")) {
            if (!trimmed.endsWith(u"*/") || trimmed.size() < 4)
                report(i, QStringLiteral("comment not closed on its line"));
            continue;
        }
        qsizetype pos = 0;
        SkipBlanks(line, pos);
        const std::optional<QString> key = ReadQuoted(line, pos);
        SkipBlanks(line, pos);
        if (!key || pos >= line.size() || line.at(pos) != u'=') {
            report(i, QStringLiteral("expected \"key\" ="));
            continue;
        }
        ++pos;
        SkipBlanks(line, pos);
        const std::optional<QString> value = ReadQuoted(line, pos);
        SkipBlanks(line, pos);
        if (!value || pos >= line.size() || line.at(pos) != u';') {
            report(i, QStringLiteral("expected \"text\";"));
            continue;
        }
        ++pos;
        SkipBlanks(line, pos);
        if (pos != line.size()) {
            report(i, QStringLiteral("text after ;"));
            continue;
        }
        if (key->isEmpty()) {
            report(i, QStringLiteral("empty key"));
            continue;
        }
        if (table.contains(*key)) {
            report(i, QStringLiteral("key %1 repeated").arg(*key));
            continue;
        }
        table.insert(*key, *value);
    }
    return table;
}

QHash<QString, QString> StringTable(const QString &language)
{
    if (language != kEnglish && language != kChinese)
        return {};
    static std::once_flag once;
    std::call_once(once, InitStringResources);
    QFile file(QStringLiteral(":/strings/%1.strings").arg(language));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList problems;
    QHash<QString, QString> table = ParseStringTable(QString::fromUtf8(file.readAll()), &problems);
    for (const QString &problem : std::as_const(problems))
        qWarning("Cogitra: %s.strings %s", qPrintable(language), qPrintable(problem));
    return table;
}

void SetLanguage(const QString &language)
{
    if (language != kEnglish && language != kChinese)
        return;
    QHash<QString, QString> table = StringTable(language);
    Tables &state = State();
    std::scoped_lock lock(state.mutex);
    state.language = language;
    state.current = std::move(table);
}

QString Language()
{
    Tables &state = State();
    std::scoped_lock lock(state.mutex);
    return state.language;
}

QString LocalizedString(const QString &key)
{
    Tables &state = State();
    std::scoped_lock lock(state.mutex);
    return state.current.value(key);
}

} // namespace Cogitra
