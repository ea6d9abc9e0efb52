#include "service/Faults.h"

#include <utility>

namespace Cogitra::Service {
namespace {

const std::pair<FaultKind, const char *> kNames[] = {
    {FaultKind::Status, "status"},
    {FaultKind::Delay, "delay"},
    {FaultKind::Drop, "drop"},
    {FaultKind::Truncate, "truncate"},
    {FaultKind::Malformed, "malformed"},
    {FaultKind::ExpiredToken, "expiredToken"},
    {FaultKind::Throttle, "throttle"},
    {FaultKind::ImageDataIds, "imageDataIds"},
    {FaultKind::OptimizedImages, "optimizedImages"},
    {FaultKind::EscapedSlashes, "escapedSlashes"},
    {FaultKind::Slow, "slow"},
};

} // namespace

std::optional<FaultKind> FaultKindFromName(const QString &name)
{
    for (const auto &[kind, text] : kNames) {
        if (name == QLatin1String(text))
            return kind;
    }
    return std::nullopt;
}

QString FaultKindName(FaultKind kind)
{
    for (const auto &[k, text] : kNames) {
        if (k == kind)
            return QString::fromLatin1(text);
    }
    return QString();
}

void FaultTable::set(const QString &route, const Fault &fault)
{
    std::scoped_lock lock(m_Mutex);
    m_Faults[route] = fault;
}

void FaultTable::clear(const QString &route)
{
    std::scoped_lock lock(m_Mutex);
    if (route.isEmpty())
        m_Faults.clear();
    else
        m_Faults.erase(route);
}

std::optional<Fault> FaultTable::take(const QString &route)
{
    std::scoped_lock lock(m_Mutex);
    auto found = m_Faults.find(route);
    if (found == m_Faults.end())
        found = m_Faults.find(QStringLiteral("*"));
    if (found == m_Faults.end())
        return std::nullopt;
    if (found->second.skip > 0) {
        --found->second.skip;
        return std::nullopt;
    }
    const Fault fault = found->second;
    if (found->second.times > 0 && --found->second.times == 0)
        m_Faults.erase(found);
    return fault;
}

} // namespace Cogitra::Service
