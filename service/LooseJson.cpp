#include "service/LooseJson.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QString>

#include <cctype>

namespace Cogitra::Service {
namespace {

constexpr int kMaxDepth = 32;

class Parser
{
public:
    explicit Parser(const QByteArray &text)
        : m_Text(text)
    {}

    std::optional<QJsonValue> document()
    {
        std::optional<QJsonValue> value = parseValue(0);
        skipBlanks();
        if (!value || m_Pos != m_Text.size())
            return std::nullopt;
        return value;
    }

private:
    void skipBlanks()
    {
        while (m_Pos < m_Text.size()
               && (m_Text[m_Pos] == ' ' || m_Text[m_Pos] == '\t' || m_Text[m_Pos] == '\n'
                   || m_Text[m_Pos] == '\r'))
            ++m_Pos;
    }

    bool take(char c)
    {
        skipBlanks();
        if (m_Pos < m_Text.size() && m_Text[m_Pos] == c) {
            ++m_Pos;
            return true;
        }
        return false;
    }

    bool takeWord(const char *word)
    {
        const QByteArray w(word);
        if (m_Text.mid(m_Pos, w.size()) != w)
            return false;
        m_Pos += w.size();
        return true;
    }

    std::optional<QJsonValue> parseValue(int depth)
    {
        if (depth > kMaxDepth)
            return std::nullopt;
        skipBlanks();
        if (m_Pos >= m_Text.size())
            return std::nullopt;
        const char c = m_Text[m_Pos];
        if (c == '{')
            return parseObject(depth);
        if (c == '[')
            return parseArray(depth);
        if (c == '"' || c == '\'') {
            std::optional<QString> text = parseString();
            if (!text)
                return std::nullopt;
            return QJsonValue(*text);
        }
        if (takeWord("true"))
            return QJsonValue(true);
        if (takeWord("false"))
            return QJsonValue(false);
        if (takeWord("null"))
            return QJsonValue(QJsonValue::Null);
        return parseNumber();
    }

    std::optional<QJsonValue> parseNumber()
    {
        const qsizetype start = m_Pos;
        while (m_Pos < m_Text.size()
               && (std::isdigit(static_cast<unsigned char>(m_Text[m_Pos])) || m_Text[m_Pos] == '-'
                   || m_Text[m_Pos] == '+' || m_Text[m_Pos] == '.' || m_Text[m_Pos] == 'e'
                   || m_Text[m_Pos] == 'E'))
            ++m_Pos;
        bool ok = false;
        const double number = m_Text.mid(start, m_Pos - start).toDouble(&ok);
        if (!ok)
            return std::nullopt;
        return QJsonValue(number);
    }

    std::optional<QString> parseString()
    {
        const char quote = m_Text[m_Pos++];
        QByteArray out;
        while (m_Pos < m_Text.size()) {
            const char c = m_Text[m_Pos++];
            if (c == quote)
                return QString::fromUtf8(out);
            if (c != '\\') {
                out += c;
                continue;
            }
            if (m_Pos >= m_Text.size())
                return std::nullopt;
            const char e = m_Text[m_Pos++];
            switch (e) {
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            case 'u': {
                if (m_Pos + 4 > m_Text.size())
                    return std::nullopt;
                bool ok = false;
                const uint code = m_Text.mid(m_Pos, 4).toUInt(&ok, 16);
                if (!ok)
                    return std::nullopt;
                m_Pos += 4;
                out += QString(QChar(static_cast<char16_t>(code))).toUtf8();
                break;
            }
            default:
                out += e; // \" \' \\ \/ and anything else stand for themselves
            }
        }
        return std::nullopt;
    }

    std::optional<QJsonValue> parseArray(int depth)
    {
        ++m_Pos;
        QJsonArray array;
        if (take(']'))
            return QJsonValue(array);
        while (true) {
            std::optional<QJsonValue> element = parseValue(depth + 1);
            if (!element)
                return std::nullopt;
            array.append(*element);
            if (take(','))
                continue;
            if (take(']'))
                return QJsonValue(array);
            return std::nullopt;
        }
    }

    std::optional<QJsonValue> parseObject(int depth)
    {
        ++m_Pos;
        QJsonObject object;
        if (take('}'))
            return QJsonValue(object);
        while (true) {
            skipBlanks();
            if (m_Pos >= m_Text.size() || (m_Text[m_Pos] != '"' && m_Text[m_Pos] != '\''))
                return std::nullopt;
            std::optional<QString> key = parseString();
            if (!key || !take(':'))
                return std::nullopt;
            std::optional<QJsonValue> value = parseValue(depth + 1);
            if (!value)
                return std::nullopt;
            object.insert(*key, *value);
            if (take(','))
                continue;
            if (take('}'))
                return QJsonValue(object);
            return std::nullopt;
        }
    }

    const QByteArray &m_Text;
    qsizetype m_Pos = 0;
};

} // namespace

std::optional<QJsonValue> ParseLooseJson(const QByteArray &text)
{
    return Parser(text).document();
}

} // namespace Cogitra::Service
