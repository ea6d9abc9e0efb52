#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QList>
#include <QPair>
#include <QString>

#include <deque>
#include <mutex>
#include <vector>

namespace Cogitra::Service {

struct LoggedRequest
{
    QString method;
    QByteArray target; // as received: path and query, still percent-encoded
    QList<QPair<QByteArray, QByteArray>> headers; // in the order received
    QByteArray body;
    QString route;  // the route name faults use; empty when no route matched
    int status = 0; // 0 when the connection was dropped
    QDateTime received;

    [[nodiscard]] QByteArray header(const QByteArray &name) const; // first, case-insensitive
};

// The requests the service received, oldest first, bounded in number. Secrets
// ("Authorization" values, codes, tokens and passwords in form bodies) are masked unless
// a test asks to see them; the log file is always masked.
class RequestLog
{
public:
    void setCapacity(size_t capacity);
    void setRevealSecrets(bool reveal);
    [[nodiscard]] bool openFile(const QString &path);

    void add(LoggedRequest request);
    [[nodiscard]] std::vector<LoggedRequest> entries() const;
    void clear();

private:
    mutable std::mutex m_Mutex;
    std::deque<LoggedRequest> m_Entries;
    size_t m_Capacity = 10000;
    bool m_Reveal = false;
    QFile m_File;
};

// What the log keeps of a request when secrets are masked.
[[nodiscard]] LoggedRequest MaskedRequest(const LoggedRequest &request);

} // namespace Cogitra::Service
