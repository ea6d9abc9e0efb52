#include "online/MPageMatching.h"

#include <QFile>

#include <gtest/gtest.h>

#include <tuple>

using namespace Cogitra;

namespace {

QByteArray Fixture(const char *name)
{
    QFile file(QStringLiteral(COGITRA_FIXTURES_DIR "/graph/onenote/") + QLatin1String(name));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name;
    return file.readAll();
}

// The whole text against the service's pattern: letter case ignored, accents kept, "*" any run
// and "?" one character.
TEST(IsLikeIgnoreCase, MatchesTheWholeText)
{
    const std::tuple<QString, QString, bool> rows[] = {
        {QStringLiteral("work NOTES"), QStringLiteral("Work Notes"), true},
        {QStringLiteral(u"ÜBUNG"), QStringLiteral(u"übung"), true},
        {QStringLiteral("Ubung"), QStringLiteral(u"Übung"), false},
        {QStringLiteral("Work Notes 2"), QStringLiteral("Work Notes"), false},
        {QStringLiteral("Work"), QStringLiteral("Work*"), true},
        {QStringLiteral("Weekly sync notes"), QStringLiteral("W*s*s"), true},
        {QStringLiteral("abc"), QStringLiteral("a?c"), true},
        {QStringLiteral("ac"), QStringLiteral("a?c"), false},
        {QStringLiteral("a"), QString(), false},
        {QString(), QString(), true},
        {QStringLiteral("abab-abac"), QStringLiteral("*abac"), true},
        {QString(200, u'a'), QStringLiteral("*a*a*a*a*a*a*a*b"), false},
    };
    for (const auto &[text, pattern, matches] : rows)
        EXPECT_EQ(IsLikeIgnoreCase(text, pattern), matches) << qPrintable(text + u" ~ " + pattern);
}

// 1: the tree holds the account's notebooks, 0: another account's, -1: no tree to tell by. On a
// work host the account is the second segment after the host.
TEST(FoundAccountInJason, TellsNoNotebooksFromAnotherAccount)
{
    const QByteArray tree = Fixture("notebooks-expand.personal.json");
    const std::tuple<std::optional<QByteArray>, const char *, int> rows[] = {
        {tree, "5F3A9C0D2B7E4A61", 1},
        {tree, "5f3a9c0d2b7e4a61", 1},
        {tree, "A2624DB91264DE33", 0},
        {tree, "", 0},
        {Fixture("notebooks.work-account.docs.json"), "admin_m365x841051_onmicrosoft_com", 1},
        {R"({"value":[]})", "x", -1},
        {R"({"value":[null,3]})", "x", -1},
        {R"({"error":{"code":"20102"}})", "x", -1},
        {"<html>", "x", -1},
        {"[]", "x", -1},
        {std::nullopt, "x", -1},
    };
    for (const auto &[json, account, found] : rows)
        EXPECT_EQ(FoundAccountInJason(json, QLatin1String(account)), found) << account;
}

// The desktop writes the GUID in capitals, the service in small letters. A page without a link
// has the empty page id, which no client id matches. Not found, both ids are emptied.
TEST(GetOnlineId, PicksThePageWhoseClientLinkCarriesTheId)
{
    const QByteArray pages = Fixture("section-pages.page1.json");
    // clang-format off
    const std::tuple<std::optional<QByteArray>, const char *, const char *, const char *> rows[] = {
        {pages, "F47A8147-3D34-4405-51B6-492C761938A3",
         "0-52e0c4e983b3fd36ff2643980c830c48!248-5F3A9C0D2B7E4A61!s8f610ea52bfef1b3df6fddbcdccc01eb",
         "0-5F3A9C0D2B7E4A61!s8f610ea52bfef1b3df6fddbcdccc01eb"},
        {pages, "00000000-0000-0000-0000-000000000000", "", ""},
        {Fixture("section-pages.page2.json"), "9034DC81-F112-95A6-27B1-FA2EC5C564E5",
         "0-c8bbdbb2c8163a1a5569385e7a047f47!22-5F3A9C0D2B7E4A61!s8f610ea52bfef1b3df6fddbcdccc01eb",
         "0-5F3A9C0D2B7E4A61!s8f610ea52bfef1b3df6fddbcdccc01eb"},
        {Fixture("section-pages.captured-2018.json"), "66fe82e8-596f-44e3-9cf7-d82a92a6158a",
         "0-6683264ee61f47bc9e089900e12ed192!215-A2624DB91264DE33!152", nullptr},
        {std::nullopt, "x", "", ""},
        {R"({"value":[null,{"id":"p"}]})", "x", "", ""},
        {R"({"value":[{"id":"p"}]})", "x", "", ""},
    };
    // clang-format on
    for (const auto &[json, client, page, section] : rows) {
        QString pageId = QStringLiteral("stale");
        QString sectionId = QStringLiteral("stale");
        EXPECT_EQ(GetOnlineId(json, QLatin1String(client), pageId, sectionId), *page != 0)
            << client;
        EXPECT_EQ(pageId, QLatin1String(page));
        EXPECT_TRUE(!section || sectionId == QLatin1String(section)) << sectionId.toStdString();
    }
}

// A grouped section's link names the group's folder, held by a notebook a whole name above it.
TEST(SectionGroupFolders, FindTheNotebookOfAGroupedSection)
{
    const QString folder = FolderPathOfLink(QStringLiteral(
        "onenote:https://d.docs.live.net/5F3A9C0D2B7E4A61/Documents/Work%20Notes/Projects/"
        "A%20Team.one#Kickoff&section-id={11111111-2222-3333-4444-555555555555}&end"));
    EXPECT_TRUE(FolderPathOfLink(QStringLiteral("no section file")).isEmpty());
    const QString root
        = QStringLiteral("onenote:https://d.docs.live.net/5f3a9c0d2b7e4a61/Documents");
    const std::pair<QString, bool> notebooks[] = {{root + u"/Work Notes", true},
                                                  {root + u"/Work Notes/", true},
                                                  {root + u"/Work Notes/Projects", true},
                                                  {root + u"/Work Notes/Projects/A Team", false},
                                                  {root + u"/Work", false},
                                                  {QString(), false}};
    for (const auto &[notebook, holds] : notebooks)
        EXPECT_EQ(NotebookHoldsFolder(notebook, folder), holds) << qPrintable(notebook);
}

} // namespace
