#include "service/RequestLog.h"

#include "service/JsonWriter.h"

namespace Cogitra::Service {
namespace {

const QByteArray kMask = QByteArrayLiteral("***");

bool IsSecretField(const QString &name)
{
    static const QStringList kSecret = {
        QStringLiteral("code"),   QStringLiteral("refresh_token"), QStringLiteral("access_token"),
        QStringLiteral("passwd"), QStringLiteral("password"),      QStringLiteral("client_secret")};
    return kSecret.contains(name);
}

QByteArray MaskForm(const QByteArray &body)
{
    QList<QByteArray> fields = body.split('&');
    for (QByteArray &field : fields) {
        const qsizetype eq = field.indexOf('=');
        if (eq > 0 && IsSecretField(QString::fromLatin1(field.left(eq))))
            field = field.left(eq + 1) + kMask;
    }
    return fields.join('&');
}

QByteArray MaskQuery(const QByteArray &target)
{
    const qsizetype question = target.indexOf('?');
    if (question < 0)
        return target;
    return target.left(question + 1) + MaskForm(target.mid(question + 1));
}

} // namespace

QByteArray LoggedRequest::header(const QByteArray &name) const
{
    for (const auto &[key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return QByteArray();
}

LoggedRequest MaskedRequest(const LoggedRequest &request)
{
    LoggedRequest masked = request;
    for (auto &[key, value] : masked.headers) {
        if (key.compare("Authorization", Qt::CaseInsensitive) == 0) {
            const qsizetype blank = value.indexOf(' ');
            value = (blank > 0 ? value.left(blank + 1) : QByteArray()) + kMask;
        } else if (key.compare("Cookie", Qt::CaseInsensitive) == 0) {
            value = kMask;
        }
    }
    masked.target = MaskQuery(request.target);
    // The sign-in and token routes read their fields whatever the content type says.
    if (request.header("Content-Type").startsWith("application/x-www-form-urlencoded")
        || request.target.startsWith("/common/oauth2/"))
        masked.body = MaskForm(request.body);
    return masked;
}

void RequestLog::setCapacity(size_t capacity)
{
    std::scoped_lock lock(m_Mutex);
    m_Capacity = capacity;
    while (m_Entries.size() > m_Capacity)
        m_Entries.pop_front();
}

void RequestLog::setRevealSecrets(bool reveal)
{
    std::scoped_lock lock(m_Mutex);
    m_Reveal = reveal;
}

bool RequestLog::openFile(const QString &path)
{
    std::scoped_lock lock(m_Mutex);
    m_File.setFileName(path);
    return m_File.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text);
}

void RequestLog::add(LoggedRequest request)
{
    std::scoped_lock lock(m_Mutex);
    if (m_File.isOpen()) {
        const LoggedRequest masked = MaskedRequest(request);
        Json headers = Json::array();
        for (const auto &[key, value] : masked.headers)
            headers.push(Json::array()
                             .push(Json::string(QString::fromLatin1(key)))
                             .push(Json::string(QString::fromUtf8(value))));
        Json line = Json::object();
        line.add(QStringLiteral("time"), masked.received.toString(Qt::ISODateWithMs))
            .add(QStringLiteral("method"), masked.method)
            .add(QStringLiteral("target"), QString::fromUtf8(masked.target))
            .add(QStringLiteral("route"), masked.route)
            .add(QStringLiteral("status"), masked.status)
            .add(QStringLiteral("headers"), std::move(headers))
            .add(QStringLiteral("bodyLength"), qint64(masked.body.size()))
            .add(QStringLiteral("bodyBase64"),
                 QString::fromLatin1(masked.body.left(65536).toBase64()));
        m_File.write(line.toCompact() + '\n');
        m_File.flush();
    }
    if (m_Capacity == 0)
        return;
    m_Entries.push_back(m_Reveal ? std::move(request) : MaskedRequest(request));
    while (m_Entries.size() > m_Capacity)
        m_Entries.pop_front();
}

std::vector<LoggedRequest> RequestLog::entries() const
{
    std::scoped_lock lock(m_Mutex);
    return std::vector<LoggedRequest>(m_Entries.begin(), m_Entries.end());
}

void RequestLog::clear()
{
    std::scoped_lock lock(m_Mutex);
    m_Entries.clear();
}

} // namespace Cogitra::Service
