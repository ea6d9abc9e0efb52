#include "service/Ids.h"

#include <QCryptographicHash>
#include <QRandomGenerator>

namespace Cogitra::Service {
namespace {

QString RandomFrom(const char *alphabet, int alphabetSize, int length)
{
    QString out;
    out.reserve(length);
    for (int i = 0; i < length; ++i)
        out += QChar::fromLatin1(alphabet[QRandomGenerator::system()->bounded(alphabetSize)]);
    return out;
}

QString WithoutZeroDash(const QString &id)
{
    return id.startsWith(QStringLiteral("0-")) ? id.mid(2) : id;
}

} // namespace

QString RandomHex(int digits)
{
    static const char kHex[] = "0123456789abcdef";
    return RandomFrom(kHex, 16, digits);
}

QString NewGuid()
{
    const QString hex = RandomHex(32).toUpper();
    return hex.mid(0, 8) + u'-' + hex.mid(8, 4) + u'-' + hex.mid(12, 4) + u'-' + hex.mid(16, 4)
           + u'-' + hex.mid(20, 12);
}

QString NewCid()
{
    return RandomHex(16);
}

QString NewContainerId(const QString &cid)
{
    return QStringLiteral("0-") + cid.toUpper() + QStringLiteral("!s") + RandomHex(32);
}

QString NewPageId(const QString &sectionId, qint64 n)
{
    return QStringLiteral("0-") + RandomHex(32) + u'!' + QString::number(n) + u'-'
           + WithoutZeroDash(sectionId);
}

QString NewResourceId(const QString &sectionId)
{
    return QStringLiteral("0-") + RandomHex(32) + QStringLiteral("!1-")
           + WithoutZeroDash(sectionId);
}

QString NewAuthorizationCode()
{
    return QStringLiteral("M.C5") + QString::number(10 + QRandomGenerator::system()->bounded(90))
           + QStringLiteral("_BAY.2.U.") + NewGuid().toLower();
}

QString NewAccessToken()
{
    QByteArray bytes(96, Qt::Uninitialized);
    QRandomGenerator::system()->generate(bytes.begin(), bytes.end());
    return QStringLiteral("EwB") + QString::fromLatin1(bytes.toBase64());
}

QString NewRefreshToken()
{
    static const char kAlphabet[]
        = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789*!$";
    return QStringLiteral("M.C5") + QString::number(10 + QRandomGenerator::system()->bounded(90))
           + QStringLiteral("_SN1.0.U.-") + RandomFrom(kAlphabet, 65, 120);
}

QString NewRequestId()
{
    return NewGuid().toLower();
}

QString SecretDigest(const QString &secret)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(secret.toUtf8(), QCryptographicHash::Sha256).toHex());
}

QString PasswordDigest(const QString &salt, const QString &password)
{
    // A slow, salted digest: the demo passwords are weak, the data folder is not secret.
    QByteArray digest = (salt + u':' + password).toUtf8();
    for (int i = 0; i < 2000; ++i)
        digest = QCryptographicHash::hash(QByteArray(digest + salt.toUtf8()),
                                          QCryptographicHash::Sha256);
    return QString::fromLatin1(digest.toHex());
}

} // namespace Cogitra::Service
