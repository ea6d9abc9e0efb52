#include "MPageTree.h"

#include "MGraphClient.h"
#include "MPageLocator.h"
#include "MPageMatching.h"

#include <QJsonObject>

namespace Cogitra {
namespace {

class TreeReader
{
public:
    TreeReader(MOnlineClients &clients, MPageLocator &locator, MPageTree &tree, QString section)
        : m_Clients(clients)
        , m_Locator(locator)
        , m_Tree(tree)
        , m_SectionName(std::move(section))
    {}

    // The node's own sections (a notebook or section group), then those of its groups.
    void AddSections(const QJsonObject &node, const QStringList &groups,
                     QList<MTreeSection> &sections, int depth = 0)
    {
        if (depth > MPageLocator::k_MaxGroupDepth)
            return;
        for (const QJsonObject &section : ObjectEntries(node, QStringLiteral("sections"))) {
            const QString name = section.value(QLatin1String("displayName")).toString();
            const QString id = section.value(QLatin1String("id")).toString();
            if (id.isEmpty() || (!m_SectionName.isEmpty() && name != m_SectionName))
                continue;
            MTreeSection entry{name, groups, {}};
            if (!AddPages(id, entry.pages))
                return;
            sections.append(std::move(entry));
        }
        for (const QJsonObject &group : ObjectEntries(node, QStringLiteral("sectionGroups"))) {
            if (m_Tree.failure != MPageTree::Failure::None)
                return;
            AddSections(group, groups + QStringList{group.value(u"displayName").toString()},
                        sections, depth + 1);
        }
    }

private:
    bool AddPages(const QString &sectionId, QList<MTreePage> &pages)
    {
        const std::optional<QByteArray> list = m_Locator.GetSectionPages(sectionId);
        const std::optional<MPageListPart> part = list ? ParsePageListPart(*list) : std::nullopt;
        if (!part || m_Locator.pageListFailed()) {
            m_Tree.failure = MPageTree::Failure::PageLists;
            m_Tree.failureKey
                = QString::fromLatin1(m_Clients.graph.failureKey("errGetNotebooksSections"));
            return false;
        }
        for (const QJsonObject &page : part->pages) {
            if (++m_Pages > k_MaxListedPages) {
                m_Tree.failure = MPageTree::Failure::TooManyPages;
                return false;
            }
            pages.append({page.value(QLatin1String("title")).toString(), ClientUrlOf(page)});
        }
        return true;
    }

    MOnlineClients &m_Clients;
    MPageLocator &m_Locator;
    MPageTree &m_Tree;
    const QString m_SectionName;
    int m_Pages = 0;
};

} // namespace

MPageTree ReadPageTree(MOnlineClients &clients, const MPageTreeRequest &request)
{
    MPageTree tree;
    MPageLocator locator(clients.graph, QString());
    locator.setFetchAnew(request.fetchAnew);
    const std::optional<QList<QJsonObject>> entries
        = CollectionEntries(locator.GetAllNotebooksSections());
    if (!entries) {
        tree.failure = MPageTree::Failure::Notebooks;
        tree.failureKey = QString::fromLatin1(clients.graph.failureKey("errGetNotebooksSections"));
        return tree;
    }
    TreeReader reader(clients, locator, tree, request.section);
    for (const QJsonObject &notebook : *entries) {
        const QString name = notebook.value(QLatin1String("displayName")).toString();
        if (!request.notebook.isEmpty() && name != request.notebook)
            continue;
        MTreeNotebook entry{name, {}};
        reader.AddSections(notebook, {}, entry.sections);
        if (tree.failure != MPageTree::Failure::None) {
            tree.notebooks.clear();
            return tree;
        }
        if (!entry.sections.isEmpty() || request.section.isEmpty())
            tree.notebooks.append(std::move(entry));
    }
    return tree;
}

} // namespace Cogitra
