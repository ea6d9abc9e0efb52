#include "service/JsonWriter.h"

namespace Cogitra::Service {

Json Json::string(const QString &text)
{
    Json value(Kind::String);
    value.m_Text = text;
    return value;
}

Json Json::number(qint64 number)
{
    Json value(Kind::Number);
    value.m_Number = number;
    return value;
}

Json Json::boolean(bool flag)
{
    Json value(Kind::Bool);
    value.m_Bool = flag;
    return value;
}

Json &Json::add(const QString &key, Json value)
{
    m_Kind = Kind::Object;
    m_Members.emplace_back(key, std::move(value));
    return *this;
}

Json &Json::push(Json value)
{
    m_Kind = Kind::Array;
    m_Elements.push_back(std::move(value));
    return *this;
}

QByteArray Json::toCompact() const
{
    QByteArray out;
    write(out);
    return out;
}

QByteArray JsonQuoted(const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    QByteArray out;
    out.reserve(utf8.size() + 2);
    out += '"';
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (byte < 0x20) {
                out += "\\u00";
                out += QByteArray::number(byte, 16).rightJustified(2, '0');
            } else {
                out += c;
            }
        }
    }
    out += '"';
    return out;
}

void Json::write(QByteArray &out) const
{
    switch (m_Kind) {
    case Kind::Null:
        out += "null";
        break;
    case Kind::Bool:
        out += m_Bool ? "true" : "false";
        break;
    case Kind::Number:
        out += QByteArray::number(m_Number);
        break;
    case Kind::String:
        out += JsonQuoted(m_Text);
        break;
    case Kind::Array: {
        out += '[';
        bool first = true;
        for (const Json &element : m_Elements) {
            if (!first)
                out += ',';
            first = false;
            element.write(out);
        }
        out += ']';
        break;
    }
    case Kind::Object: {
        out += '{';
        bool first = true;
        for (const auto &[key, value] : m_Members) {
            if (!first)
                out += ',';
            first = false;
            out += JsonQuoted(key);
            out += ':';
            value.write(out);
        }
        out += '}';
        break;
    }
    }
}

} // namespace Cogitra::Service
