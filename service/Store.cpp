#include "service/Store.h"

#include "service/Ids.h"

#include <QDateTime>
#include <QDir>

#include <sqlite3.h>

namespace Cogitra::Service {

qint64 NowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

class Store::Statement
{
public:
    Statement(sqlite3 *db, const QByteArray &sql)
        : Statement(db, sql.constData())
    {}
    Statement(sqlite3 *db, const char *sql)
    {
        if (db && sqlite3_prepare_v2(db, sql, -1, &m_Stmt, nullptr) != SQLITE_OK)
            m_Stmt = nullptr;
    }
    ~Statement() { sqlite3_finalize(m_Stmt); }
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    [[nodiscard]] bool ok() const { return m_Stmt != nullptr; }

    Statement &bind(const QString &text)
    {
        const QByteArray utf8 = text.toUtf8();
        if (m_Stmt)
            sqlite3_bind_text(m_Stmt, ++m_Index, utf8.constData(), static_cast<int>(utf8.size()),
                              SQLITE_TRANSIENT);
        return *this;
    }
    Statement &bind(qint64 value)
    {
        if (m_Stmt)
            sqlite3_bind_int64(m_Stmt, ++m_Index, value);
        return *this;
    }
    Statement &bindBlob(const QByteArray &bytes)
    {
        if (m_Stmt)
            sqlite3_bind_blob64(m_Stmt, ++m_Index, bytes.constData(),
                                static_cast<sqlite3_uint64>(bytes.size()), SQLITE_TRANSIENT);
        return *this;
    }

    // True while a row is there.
    [[nodiscard]] bool next() { return m_Stmt && sqlite3_step(m_Stmt) == SQLITE_ROW; }
    [[nodiscard]] bool run() { return m_Stmt && sqlite3_step(m_Stmt) == SQLITE_DONE; }

    [[nodiscard]] QString text(int column) const
    {
        const auto *data = reinterpret_cast<const char *>(sqlite3_column_text(m_Stmt, column));
        return data ? QString::fromUtf8(data, sqlite3_column_bytes(m_Stmt, column)) : QString();
    }
    [[nodiscard]] qint64 integer(int column) const { return sqlite3_column_int64(m_Stmt, column); }
    [[nodiscard]] QByteArray blob(int column) const
    {
        const void *data = sqlite3_column_blob(m_Stmt, column);
        return data ? QByteArray(static_cast<const char *>(data),
                                 sqlite3_column_bytes(m_Stmt, column))
                    : QByteArray();
    }

private:
    sqlite3_stmt *m_Stmt = nullptr;
    int m_Index = 0;
};

namespace {

const char *const kSchema = R"SQL(
CREATE TABLE IF NOT EXISTS accounts(
  cid TEXT PRIMARY KEY, upn TEXT NOT NULL UNIQUE COLLATE NOCASE, display_name TEXT NOT NULL,
  given_name TEXT NOT NULL, surname TEXT NOT NULL, salt TEXT NOT NULL, password TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS notebooks(
  id TEXT PRIMARY KEY, cid TEXT NOT NULL, name TEXT NOT NULL, created INTEGER NOT NULL,
  modified INTEGER NOT NULL, is_default INTEGER NOT NULL, seq INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS section_groups(
  id TEXT PRIMARY KEY, notebook_id TEXT NOT NULL, parent_id TEXT NOT NULL, name TEXT NOT NULL,
  created INTEGER NOT NULL, modified INTEGER NOT NULL, seq INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS sections(
  id TEXT PRIMARY KEY, notebook_id TEXT NOT NULL, parent_id TEXT NOT NULL, name TEXT NOT NULL,
  client_guid TEXT NOT NULL, created INTEGER NOT NULL, modified INTEGER NOT NULL,
  is_default INTEGER NOT NULL, seq INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS pages(
  id TEXT PRIMARY KEY, section_id TEXT NOT NULL, title TEXT NOT NULL, client_guid TEXT NOT NULL,
  element_guid TEXT NOT NULL, next_element INTEGER NOT NULL, body TEXT NOT NULL,
  created INTEGER NOT NULL, modified INTEGER NOT NULL, app_id TEXT NOT NULL,
  number INTEGER NOT NULL);
CREATE INDEX IF NOT EXISTS pages_by_section ON pages(section_id, modified);
CREATE TABLE IF NOT EXISTS resources(
  id TEXT PRIMARY KEY, page_id TEXT NOT NULL, content_type TEXT NOT NULL, data BLOB NOT NULL);
CREATE INDEX IF NOT EXISTS resources_by_page ON resources(page_id);
CREATE TABLE IF NOT EXISTS grants(
  digest TEXT PRIMARY KEY, cid TEXT NOT NULL, client_id TEXT NOT NULL, redirect_uri TEXT NOT NULL,
  scope TEXT NOT NULL, expires INTEGER NOT NULL, used INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS tokens(
  digest TEXT PRIMARY KEY, kind TEXT NOT NULL, cid TEXT NOT NULL, client_id TEXT NOT NULL,
  scope TEXT NOT NULL, expires INTEGER NOT NULL, revoked INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS state(key TEXT PRIMARY KEY, value TEXT NOT NULL);
)SQL";

Account AccountFrom(const auto &st)
{
    return Account{st.text(0), st.text(1), st.text(2), st.text(3), st.text(4)};
}

Notebook NotebookFrom(const auto &st)
{
    return Notebook{st.text(0),    st.text(1),    st.text(2),
                    st.integer(3), st.integer(4), st.integer(5) != 0};
}

SectionGroup GroupFrom(const auto &st)
{
    return SectionGroup{st.text(0), st.text(1),    st.text(2),
                        st.text(3), st.integer(4), st.integer(5)};
}

Section SectionFrom(const auto &st)
{
    return Section{st.text(0), st.text(1),    st.text(2),    st.text(3),
                   st.text(4), st.integer(5), st.integer(6), st.integer(7) != 0};
}

Page PageFrom(const auto &st)
{
    Page page;
    page.id = st.text(0);
    page.sectionId = st.text(1);
    page.title = st.text(2);
    page.clientGuid = st.text(3);
    page.elementGuid = st.text(4);
    page.nextElement = st.integer(5);
    page.body = st.text(6);
    page.created = st.integer(7);
    page.modified = st.integer(8);
    page.createdByAppId = st.text(9);
    page.number = st.integer(10);
    return page;
}

constexpr char kAccountColumns[] = "cid, upn, display_name, given_name, surname";
constexpr char kPageColumns[] = "id, section_id, title, client_guid, element_guid, next_element, "
                                "body, created, modified, app_id, number";

} // namespace

Store::~Store()
{
    close();
}

bool Store::exec(const char *sql)
{
    return sqlite3_exec(m_Db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool Store::open(const QString &dataDir, QString *error)
{
    std::scoped_lock lock(m_Mutex);
    close();
    if (!QDir().mkpath(dataDir)) {
        if (error)
            *error = QStringLiteral("cannot create the data folder %1").arg(dataDir);
        return false;
    }
    const QByteArray path = QDir(dataDir).filePath(QStringLiteral("notebooks.sqlite")).toUtf8();
    if (sqlite3_open_v2(path.constData(), &m_Db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr)
        != SQLITE_OK) {
        if (error)
            *error = QString::fromUtf8(m_Db ? sqlite3_errmsg(m_Db) : "cannot open the database");
        close();
        return false;
    }
    sqlite3_busy_timeout(m_Db, 5000);
    if (!exec("PRAGMA journal_mode=WAL;") || !exec("PRAGMA synchronous=NORMAL;")
        || !exec(kSchema)) {
        if (error)
            *error = QString::fromUtf8(sqlite3_errmsg(m_Db));
        close();
        return false;
    }
    return true;
}

void Store::close()
{
    std::scoped_lock lock(m_Mutex);
    if (m_Db) {
        sqlite3_close(m_Db);
        m_Db = nullptr;
    }
}

std::optional<Account> Store::createAccount(const QString &upn, const QString &password,
                                            const QString &displayName)
{
    std::scoped_lock lock(m_Mutex);
    const QString cid = NewCid();
    const QString salt = RandomHex(16);
    const QStringList names = displayName.split(u' ', Qt::SkipEmptyParts);
    Account account{cid, upn, displayName, names.value(0),
                    names.size() > 1 ? names.last() : QString()};
    Statement st(m_Db, "INSERT INTO accounts(cid, upn, display_name, given_name, surname, salt, "
                       "password) VALUES(?, ?, ?, ?, ?, ?, ?)");
    st.bind(cid).bind(upn).bind(displayName).bind(account.givenName).bind(account.surname);
    st.bind(salt).bind(PasswordDigest(salt, password));
    if (!st.run())
        return std::nullopt;
    return account;
}

std::optional<Account> Store::accountByUpn(const QString &upn)
{
    std::scoped_lock lock(m_Mutex);
    Statement st(
        m_Db, QByteArray(QByteArray("SELECT ") + kAccountColumns + " FROM accounts WHERE upn = ?"));
    st.bind(upn);
    if (!st.next())
        return std::nullopt;
    return AccountFrom(st);
}

std::optional<Account> Store::accountByCid(const QString &cid)
{
    std::scoped_lock lock(m_Mutex);
    Statement st(m_Db, QByteArray(QByteArray("SELECT ") + kAccountColumns
                                  + " FROM accounts WHERE cid = ? COLLATE NOCASE"));
    st.bind(cid);
    if (!st.next())
        return std::nullopt;
    return AccountFrom(st);
}

std::optional<Account> Store::checkPassword(const QString &upn, const QString &password)
{
    std::scoped_lock lock(m_Mutex);
    Statement st(m_Db, "SELECT salt, password FROM accounts WHERE upn = ?");
    st.bind(upn);
    if (!st.next())
        return std::nullopt;
    if (PasswordDigest(st.text(0), password) != st.text(1))
        return std::nullopt;
    return accountByUpn(upn);
}

std::vector<Account> Store::accounts()
{
    std::scoped_lock lock(m_Mutex);
    std::vector<Account> out;
    Statement st(m_Db, QByteArray(QByteArray("SELECT ") + kAccountColumns
                                  + " FROM accounts ORDER BY rowid"));
    while (st.next())
        out.push_back(AccountFrom(st));
    return out;
}

std::optional<Notebook> Store::createNotebook(const QString &cid, const QString &name)
{
    std::scoped_lock lock(m_Mutex);
    const qint64 now = NowMs();
    Notebook notebook{NewContainerId(cid), cid, name, now, now, notebooks(cid).empty()};
    Statement st(m_Db, "INSERT INTO notebooks(id, cid, name, created, modified, is_default, seq) "
                       "VALUES(?, ?, ?, ?, ?, ?, (SELECT COUNT(*) FROM notebooks))");
    st.bind(notebook.id).bind(cid).bind(name).bind(now).bind(now).bind(qint64(notebook.isDefault));
    if (!st.run())
        return std::nullopt;
    return notebook;
}

std::vector<Notebook> Store::notebooks(const QString &cid)
{
    std::scoped_lock lock(m_Mutex);
    std::vector<Notebook> out;
    Statement st(m_Db, "SELECT id, cid, name, created, modified, is_default FROM notebooks "
                       "WHERE cid = ? ORDER BY seq");
    st.bind(cid);
    while (st.next())
        out.push_back(NotebookFrom(st));
    return out;
}

std::optional<Notebook> Store::notebook(const QString &id)
{
    std::scoped_lock lock(m_Mutex);
    Statement st(m_Db,
                 "SELECT id, cid, name, created, modified, is_default FROM notebooks WHERE id = ?");
    st.bind(id);
    if (!st.next())
        return std::nullopt;
    return NotebookFrom(st);
}

std::optional<SectionGroup> Store::createSectionGroup(const QString &notebookId,
                                                      const QString &parentGroupId,
                                                      const QString &name)
{
    std::scoped_lock lock(m_Mutex);
    const std::optional<Notebook> owner = notebook(notebookId);
    if (!owner)
        return std::nullopt;
    const qint64 now = NowMs();
    SectionGroup group{NewContainerId(owner->cid), notebookId, parentGroupId, name, now, now};
    Statement st(m_Db,
                 "INSERT INTO section_groups(id, notebook_id, parent_id, name, created, "
                 "modified, seq) VALUES(?, ?, ?, ?, ?, ?, (SELECT COUNT(*) FROM section_groups))");
    st.bind(group.id).bind(notebookId).bind(parentGroupId).bind(name).bind(now).bind(now);
    if (!st.run())
        return std::nullopt;
    return group;
}

std::vector<SectionGroup> Store::sectionGroups(const QString &notebookId,
                                               const QString &parentGroupId)
{
    std::scoped_lock lock(m_Mutex);
    std::vector<SectionGroup> out;
    Statement st(m_Db,
                 "SELECT id, notebook_id, parent_id, name, created, modified FROM section_groups "
                 "WHERE notebook_id = ? AND parent_id = ? ORDER BY seq");
    st.bind(notebookId).bind(parentGroupId);
    while (st.next())
        out.push_back(GroupFrom(st));
    return out;
}

std::optional<SectionGroup> Store::sectionGroup(const QString &id)
{
    std::scoped_lock lock(m_Mutex);
    Statement st(m_Db,
                 "SELECT id, notebook_id, parent_id, name, created, modified FROM section_groups "
                 "WHERE id = ?");
    st.bind(id);
    if (!st.next())
        return std::nullopt;
    return GroupFrom(st);
}

std::optional<Section> Store::createSection(const QString &notebookId, const QString &parentGroupId,
                                            const QString &name)
{
    std::scoped_lock lock(m_Mutex);
    const std::optional<Notebook> owner = notebook(notebookId);
    if (!owner)
        return std::nullopt;
    if (!parentGroupId.isEmpty()) {
        const std::optional<SectionGroup> group = sectionGroup(parentGroupId);
        if (!group || group->notebookId != notebookId)
            return std::nullopt;
    }
    const qint64 now = NowMs();
    Section section{
        NewContainerId(owner->cid),     notebookId, parentGroupId, name, NewGuid(), now, now,
        allSections(owner->cid).empty()};
    Statement st(m_Db,
                 "INSERT INTO sections(id, notebook_id, parent_id, name, client_guid, created, "
                 "modified, is_default, seq) VALUES(?, ?, ?, ?, ?, ?, ?, ?, "
                 "(SELECT COUNT(*) FROM sections))");
    st.bind(section.id).bind(notebookId).bind(parentGroupId).bind(name).bind(section.clientGuid);
    st.bind(now).bind(now).bind(qint64(section.isDefault));
    if (!st.run())
        return std::nullopt;
    return section;
}

std::vector<Section> Store::sections(const QString &notebookId, const QString &parentGroupId)
{
    std::scoped_lock lock(m_Mutex);
    std::vector<Section> out;
    Statement st(m_Db,
                 "SELECT id, notebook_id, parent_id, name, client_guid, created, modified, "
                 "is_default FROM sections WHERE notebook_id = ? AND parent_id = ? ORDER BY seq");
    st.bind(notebookId).bind(parentGroupId);
    while (st.next())
        out.push_back(SectionFrom(st));
    return out;
}

std::vector<Section> Store::allSections(const QString &cid)
{
    std::scoped_lock lock(m_Mutex);
    std::vector<Section> out;
    Statement st(m_Db, "SELECT s.id, s.notebook_id, s.parent_id, s.name, s.client_guid, s.created, "
                       "s.modified, s.is_default FROM sections s JOIN notebooks n "
                       "ON s.notebook_id = n.id WHERE n.cid = ? ORDER BY n.seq, s.seq");
    st.bind(cid);
    while (st.next())
        out.push_back(SectionFrom(st));
    return out;
}

std::optional<Section> Store::section(const QString &id)
{
    std::scoped_lock lock(m_Mutex);
    Statement st(m_Db, "SELECT id, notebook_id, parent_id, name, client_guid, created, modified, "
                       "is_default FROM sections WHERE id = ?");
    st.bind(id);
    if (!st.next())
        return std::nullopt;
    return SectionFrom(st);
}

QStringList Store::sectionFolders(const Section &section)
{
    std::scoped_lock lock(m_Mutex);
    QStringList groups;
    QString groupId = section.parentGroupId;
    // Groups nest a bounded number of levels; a cycle cannot arise from this store.
    for (int depth = 0; depth < 64 && !groupId.isEmpty(); ++depth) {
        const std::optional<SectionGroup> group = sectionGroup(groupId);
        if (!group)
            break;
        groups.prepend(group->name);
        groupId = group->parentGroupId;
    }
    const std::optional<Notebook> owner = notebook(section.notebookId);
    groups.prepend(owner ? owner->name : QString());
    return groups;
}

QString Store::accountOfNotebook(const QString &notebookId)
{
    const std::optional<Notebook> owner = notebook(notebookId);
    return owner ? owner->cid : QString();
}

std::optional<Page> Store::createPage(const QString &sectionId, const QString &title, qint64 when)
{
    std::scoped_lock lock(m_Mutex);
    if (!section(sectionId))
        return std::nullopt;
    Statement count(m_Db, "SELECT COUNT(*) FROM pages");
    const qint64 number = count.next() ? count.integer(0) + 1 : 1;
    const qint64 now = when > 0 ? when : NowMs();
    Page page;
    page.id = NewPageId(sectionId, number);
    page.sectionId = sectionId;
    page.title = title;
    page.clientGuid = NewGuid();
    page.elementGuid = NewGuid().toLower();
    page.created = now;
    page.modified = now;
    page.number = number;
    Statement st(m_Db, QByteArray(QByteArray("INSERT INTO pages(") + kPageColumns
                                  + ") VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    st.bind(page.id).bind(sectionId).bind(title).bind(page.clientGuid).bind(page.elementGuid);
    st.bind(page.nextElement).bind(page.body).bind(now).bind(now).bind(page.createdByAppId);
    st.bind(number);
    if (!st.run())
        return std::nullopt;
    return page;
}

std::vector<Page> Store::pages(const QString &sectionId, qint64 skip, qint64 top)
{
    std::scoped_lock lock(m_Mutex);
    std::vector<Page> out;
    Statement st(
        m_Db, QByteArray(QByteArray("SELECT ") + kPageColumns
                         + " FROM pages WHERE section_id = ? ORDER BY modified DESC, number DESC "
                           "LIMIT ? OFFSET ?"));
    st.bind(sectionId).bind(top).bind(skip);
    while (st.next())
        out.push_back(PageFrom(st));
    return out;
}

qint64 Store::pageCount(const QString &sectionId)
{
    std::scoped_lock lock(m_Mutex);
    Statement st(m_Db, "SELECT COUNT(*) FROM pages WHERE section_id = ?");
    st.bind(sectionId);
    return st.next() ? st.integer(0) : 0;
}

std::optional<Page> Store::page(const QString &id)
{
    std::scoped_lock lock(m_Mutex);
    Statement st(m_Db,
                 QByteArray(QByteArray("SELECT ") + kPageColumns + " FROM pages WHERE id = ?"));
    st.bind(id);
    if (!st.next())
        return std::nullopt;
    return PageFrom(st);
}

bool Store::updatePage(const Page &page)
{
    std::scoped_lock lock(m_Mutex);
    Statement st(m_Db, "UPDATE pages SET title = ?, next_element = ?, body = ?, modified = ?, "
                       "app_id = ? WHERE id = ?");
    st.bind(page.title).bind(page.nextElement).bind(page.body).bind(page.modified);
    st.bind(page.createdByAppId).bind(page.id);
    return st.run() && sqlite3_changes(m_Db) == 1;
}

void Store::deletePage(const QString &id)
{
    std::scoped_lock lock(m_Mutex);
    Statement resources(m_Db, "DELETE FROM resources WHERE page_id = ?");
    resources.bind(id);
    (void)resources.run();
    Statement page(m_Db, "DELETE FROM pages WHERE id = ?");
    page.bind(id);
    (void)page.run();
}

std::optional<QString> Store::addResource(const QString &pageId, const QString &contentType,
                                          const QByteArray &data)
{
    std::scoped_lock lock(m_Mutex);
    const std::optional<Page> owner = page(pageId);
    if (!owner)
        return std::nullopt;
    const QString id = NewResourceId(owner->sectionId);
    Statement st(m_Db, "INSERT INTO resources(id, page_id, content_type, data) VALUES(?, ?, ?, ?)");
    st.bind(id).bind(pageId).bind(contentType).bindBlob(data);
    if (!st.run())
        return std::nullopt;
    return id;
}

std::optional<Resource> Store::resource(const QString &id)
{
    std::scoped_lock lock(m_Mutex);
    Statement st(m_Db, "SELECT id, page_id, content_type, data FROM resources WHERE id = ?");
    st.bind(id);
    if (!st.next())
        return std::nullopt;
    return Resource{st.text(0), st.text(1), st.text(2), st.blob(3)};
}

std::vector<Resource> Store::resources(const QString &pageId)
{
    std::scoped_lock lock(m_Mutex);
    std::vector<Resource> out;
    Statement st(m_Db, "SELECT id, page_id, content_type, data FROM resources WHERE page_id = ? "
                       "ORDER BY rowid");
    st.bind(pageId);
    while (st.next())
        out.push_back(Resource{st.text(0), st.text(1), st.text(2), st.blob(3)});
    return out;
}

void Store::removeResourcesExcept(const QString &pageId, const QStringList &keep)
{
    std::scoped_lock lock(m_Mutex);
    for (const Resource &r : resources(pageId)) {
        if (keep.contains(r.id))
            continue;
        Statement st(m_Db, "DELETE FROM resources WHERE id = ?");
        st.bind(r.id);
        (void)st.run();
    }
}

bool Store::storeGrant(const QString &codeDigest, const GrantRecord &grant)
{
    std::scoped_lock lock(m_Mutex);
    Statement st(m_Db,
                 "INSERT INTO grants(digest, cid, client_id, redirect_uri, scope, expires, used) "
                 "VALUES(?, ?, ?, ?, ?, ?, 0)");
    st.bind(codeDigest).bind(grant.cid).bind(grant.clientId).bind(grant.redirectUri);
    st.bind(grant.scope).bind(grant.expires);
    return st.run();
}

std::optional<GrantRecord> Store::redeemGrant(const QString &codeDigest)
{
    std::scoped_lock lock(m_Mutex);
    Statement st(m_Db, "SELECT cid, client_id, redirect_uri, scope, expires, used FROM grants "
                       "WHERE digest = ?");
    st.bind(codeDigest);
    if (!st.next())
        return std::nullopt;
    GrantRecord grant{st.text(0), st.text(1),    st.text(2),
                      st.text(3), st.integer(4), st.integer(5) != 0};
    Statement mark(m_Db, "UPDATE grants SET used = 1 WHERE digest = ?");
    mark.bind(codeDigest);
    (void)mark.run();
    return grant;
}

bool Store::storeToken(const QString &tokenDigest, const TokenRecord &token)
{
    std::scoped_lock lock(m_Mutex);
    Statement st(m_Db, "INSERT INTO tokens(digest, kind, cid, client_id, scope, expires, revoked) "
                       "VALUES(?, ?, ?, ?, ?, ?, 0)");
    st.bind(tokenDigest).bind(token.kind).bind(token.cid).bind(token.clientId).bind(token.scope);
    st.bind(token.expires);
    return st.run();
}

std::optional<TokenRecord> Store::token(const QString &tokenDigest)
{
    std::scoped_lock lock(m_Mutex);
    Statement st(
        m_Db, "SELECT kind, cid, client_id, scope, expires, revoked FROM tokens WHERE digest = ?");
    st.bind(tokenDigest);
    if (!st.next())
        return std::nullopt;
    return TokenRecord{st.text(0), st.text(1),    st.text(2),
                       st.text(3), st.integer(4), st.integer(5) != 0};
}

void Store::revokeToken(const QString &tokenDigest)
{
    std::scoped_lock lock(m_Mutex);
    Statement st(m_Db, "UPDATE tokens SET revoked = 1 WHERE digest = ?");
    st.bind(tokenDigest);
    (void)st.run();
}

void Store::expireAccessTokens(const QString &cid)
{
    std::scoped_lock lock(m_Mutex);
    Statement st(m_Db,
                 "UPDATE tokens SET expires = ? WHERE kind = 'access' AND (? = '' OR cid = ?)");
    st.bind(NowMs() - 1).bind(cid).bind(cid);
    (void)st.run();
}

QString Store::stateValue(const QString &key)
{
    std::scoped_lock lock(m_Mutex);
    Statement st(m_Db, "SELECT value FROM state WHERE key = ?");
    st.bind(key);
    return st.next() ? st.text(0) : QString();
}

void Store::setStateValue(const QString &key, const QString &value)
{
    std::scoped_lock lock(m_Mutex);
    Statement st(m_Db, "INSERT INTO state(key, value) VALUES(?, ?) "
                       "ON CONFLICT(key) DO UPDATE SET value = excluded.value");
    st.bind(key).bind(value);
    (void)st.run();
}

} // namespace Cogitra::Service
