#pragma once

#include <QByteArray>
#include <QString>

// Identifiers in the forms the online services use, made from the system's secure random
// source: account CIDs, container and page ids, GUIDs, codes and tokens.
namespace Cogitra::Service {

[[nodiscard]] QString RandomHex(int digits);
// "{8-4-4-4-12}" GUID text without braces, in upper case.
[[nodiscard]] QString NewGuid();
// A personal account's CID: 16 hex digits, lower case (the form /me reports).
[[nodiscard]] QString NewCid();
// Notebooks, section groups and sections: "0-<CID>!s<32 hex>".
[[nodiscard]] QString NewContainerId(const QString &cid);
// Pages: "0-<32 hex>!<n>-<section id without its "0-">".
[[nodiscard]] QString NewPageId(const QString &sectionId, qint64 n);
// Resources: "0-<32 hex>!1-<section id without its "0-">".
[[nodiscard]] QString NewResourceId(const QString &sectionId);
// Personal-account authorization codes: "M.C5<nn>_BAY.2.U.<guid>".
[[nodiscard]] QString NewAuthorizationCode();
// Opaque personal-account access tokens ("EwB" and base64 text with + / =).
[[nodiscard]] QString NewAccessToken();
// Refresh tokens: "M.C5<nn>_SN1.0.U.-" and text over the alphabet the real tokens use,
// which includes "*", "!" and "$".
[[nodiscard]] QString NewRefreshToken();
// request-id / trace ids: lower-case GUID text.
[[nodiscard]] QString NewRequestId();

// What the store keeps of a secret: its SHA-256 in hex, never the secret itself.
[[nodiscard]] QString SecretDigest(const QString &secret);
[[nodiscard]] QString PasswordDigest(const QString &salt, const QString &password);

} // namespace Cogitra::Service
