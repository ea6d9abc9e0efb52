#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <mutex>
#include <optional>
#include <vector>

struct sqlite3;

namespace Cogitra::Service {

struct Account
{
    QString cid; // 16 hex digits, lower case; also the Graph user id
    QString upn;
    QString displayName;
    QString givenName;
    QString surname;
};

struct Notebook
{
    QString id;
    QString cid;
    QString name;
    qint64 created = 0; // ms since the epoch, UTC
    qint64 modified = 0;
    bool isDefault = false;
};

struct SectionGroup
{
    QString id;
    QString notebookId;
    QString parentGroupId; // empty at the notebook's top level
    QString name;
    qint64 created = 0;
    qint64 modified = 0;
};

struct Section
{
    QString id;
    QString notebookId;
    QString parentGroupId;
    QString name;
    QString clientGuid; // the "section-id" of desktop links, upper case
    qint64 created = 0;
    qint64 modified = 0;
    bool isDefault = false;
};

struct Page
{
    QString id;
    QString sectionId;
    QString title;
    QString clientGuid;  // the "page-id" of desktop links, upper case
    QString elementGuid; // the GUID in the page's generated element ids, lower case
    qint64 nextElement = 2;
    QString body; // inner HTML of the page's default outline, with generated ids
    qint64 created = 0;
    qint64 modified = 0;
    QString createdByAppId;
    qint64 number = 0; // the "!n" of the page id, also used in its web link
};

struct Resource
{
    QString id;
    QString pageId;
    QString contentType;
    QByteArray data;
};

struct GrantRecord
{
    QString cid;
    QString clientId;
    QString redirectUri;
    QString scope;
    qint64 expires = 0;
    bool used = false;
};

struct TokenRecord
{
    QString kind; // "access" or "refresh"
    QString cid;
    QString clientId;
    QString scope;
    qint64 expires = 0;
    bool revoked = false;
};

// Everything the service keeps, in one SQLite database (WAL) in the data folder. Every
// statement binds its values; one connection, used under the store's own lock only (the
// connection is opened without SQLite's mutex, which would only lock again what this lock
// already holds).
class Store
{
public:
    Store() = default;
    ~Store();
    Store(const Store &) = delete;
    Store &operator=(const Store &) = delete;

    [[nodiscard]] bool open(const QString &dataDir, QString *error = nullptr);
    void close();

    [[nodiscard]] std::optional<Account> createAccount(const QString &upn, const QString &password,
                                                       const QString &displayName);
    [[nodiscard]] std::optional<Account> accountByUpn(const QString &upn);
    [[nodiscard]] std::optional<Account> accountByCid(const QString &cid);
    [[nodiscard]] std::optional<Account> checkPassword(const QString &upn, const QString &password);
    [[nodiscard]] std::vector<Account> accounts();

    [[nodiscard]] std::optional<Notebook> createNotebook(const QString &cid, const QString &name);
    [[nodiscard]] std::vector<Notebook> notebooks(const QString &cid);
    [[nodiscard]] std::optional<Notebook> notebook(const QString &id);

    [[nodiscard]] std::optional<SectionGroup> createSectionGroup(const QString &notebookId,
                                                                 const QString &parentGroupId,
                                                                 const QString &name);
    [[nodiscard]] std::vector<SectionGroup> sectionGroups(const QString &notebookId,
                                                          const QString &parentGroupId);
    [[nodiscard]] std::optional<SectionGroup> sectionGroup(const QString &id);

    [[nodiscard]] std::optional<Section>
    createSection(const QString &notebookId, const QString &parentGroupId, const QString &name);
    [[nodiscard]] std::vector<Section> sections(const QString &notebookId,
                                                const QString &parentGroupId);
    [[nodiscard]] std::vector<Section> allSections(const QString &cid);
    [[nodiscard]] std::optional<Section> section(const QString &id);

    // The folders of a section's place: notebook name, then its section groups.
    [[nodiscard]] QStringList sectionFolders(const Section &section);
    [[nodiscard]] QString accountOfNotebook(const QString &notebookId);

    [[nodiscard]] std::optional<Page> createPage(const QString &sectionId, const QString &title,
                                                 qint64 when = 0);
    // Pages of a section, most recently modified first, as the service lists them.
    [[nodiscard]] std::vector<Page> pages(const QString &sectionId, qint64 skip, qint64 top);
    [[nodiscard]] qint64 pageCount(const QString &sectionId);
    [[nodiscard]] std::optional<Page> page(const QString &id);
    [[nodiscard]] bool updatePage(const Page &page);
    void deletePage(const QString &id); // with its resources

    [[nodiscard]] std::optional<QString>
    addResource(const QString &pageId, const QString &contentType, const QByteArray &data);
    [[nodiscard]] std::optional<Resource> resource(const QString &id);
    [[nodiscard]] std::vector<Resource> resources(const QString &pageId);
    void removeResourcesExcept(const QString &pageId, const QStringList &keep);

    [[nodiscard]] bool storeGrant(const QString &codeDigest, const GrantRecord &grant);
    // Marks a code used and gives what it was issued for; a used code stays used.
    [[nodiscard]] std::optional<GrantRecord> redeemGrant(const QString &codeDigest);

    [[nodiscard]] bool storeToken(const QString &tokenDigest, const TokenRecord &token);
    [[nodiscard]] std::optional<TokenRecord> token(const QString &tokenDigest);
    void revokeToken(const QString &tokenDigest);
    void expireAccessTokens(const QString &cid); // empty: every account

    [[nodiscard]] QString stateValue(const QString &key);
    void setStateValue(const QString &key, const QString &value);

private:
    class Statement;
    bool exec(const char *sql);

    std::recursive_mutex m_Mutex;
    sqlite3 *m_Db = nullptr;
};

[[nodiscard]] qint64 NowMs();

} // namespace Cogitra::Service
