#pragma once

#include <QByteArray>
#include <QString>

#include <utility>
#include <vector>

namespace Cogitra::Service {

// A JSON value that keeps its members in the order they were added, so replies can follow
// the real services' key order, and writes itself compactly as Graph does: no blanks, "/"
// and "&" left alone, non-ASCII text as UTF-8.
class Json
{
public:
    enum class Kind { Null, Bool, Number, String, Array, Object };

    Json() = default;
    static Json object() { return Json(Kind::Object); }
    static Json array() { return Json(Kind::Array); }
    static Json null() { return Json(Kind::Null); }
    static Json string(const QString &text);
    static Json number(qint64 value);
    static Json boolean(bool value);

    // Object member / array element; returns *this so replies read top to bottom.
    Json &add(const QString &key, Json value);
    Json &add(const QString &key, const QString &text) { return add(key, string(text)); }
    Json &add(const QString &key, const char *text)
    {
        return add(key, string(QString::fromUtf8(text)));
    }
    Json &add(const QString &key, qint64 value) { return add(key, number(value)); }
    Json &add(const QString &key, int value) { return add(key, number(value)); }
    Json &add(const QString &key, bool value) { return add(key, boolean(value)); }
    Json &push(Json value);

    [[nodiscard]] QByteArray toCompact() const;

private:
    explicit Json(Kind kind)
        : m_Kind(kind)
    {}
    void write(QByteArray &out) const;

    Kind m_Kind = Kind::Null;
    bool m_Bool = false;
    qint64 m_Number = 0;
    QString m_Text;
    std::vector<std::pair<QString, Json>> m_Members;
    std::vector<Json> m_Elements;
};

[[nodiscard]] QByteArray JsonQuoted(const QString &text);

} // namespace Cogitra::Service
