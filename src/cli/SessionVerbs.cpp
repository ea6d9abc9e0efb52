#include "SessionVerbs.h"

#include "app/MLoginFlow.h"
#include "app/MMapBackup.h"
#include "app/MWindowTexts.h"
#include "onenote/ClipFun.h"
#include "onenote/MCurrentPage.h"
#include "onenote/MPageLink.h"
#include "online/MGraphClient.h"
#include "online/MPageLocator.h"
#include "online/MPageMatching.h"
#include "online/MPageTree.h"
#include "online/MThreadOnlineOneNote.h"
#include "platform/IDesktopAutomation.h"
#include "platform/MemoryClipboard.h"
#include "platform/PlatformServices.h"
#include "util/MGlobals.h"
#include "util/MStepCodes.h"
#include "util/MStrings.h"

#include <QFile>
#include <QIODevice>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QSaveFile>
#include <QUtf8StringView>

#include <optional>
#include <thread>

namespace Cogitra {

namespace {

// Far beyond any redirect address or code; a longer line is not one.
constexpr qint64 kMaxPastedLine = 64 * 1024;
// The editor's maps and previews are a few megabytes at most; the service takes 16 MiB.
constexpr qint64 kMaxUploadFile = 12 * 1024 * 1024;

const QByteArray kPngSignature("\x89PNG\r\n\x1a\n", 8);
// The editor page refuses maps past these (editor/src/mapdoc.js).
constexpr int kMaxTopics = 100000;
constexpr int kMaxTopicDepth = 256;

// Error lines carry the English text whatever the user's language: scripts match on them.
QString EnglishText(const QString &key)
{
    static const QHash<QString, QString> table = StringTable(QStringLiteral("en"));
    return table.value(key);
}

int Fail(CliIo &io, const QString &verb, const QString &stage, const QString &text)
{
    return CliError(io, verb + u": " + stage + u": " + text);
}

std::optional<QByteArray> ReadBoundedFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxUploadFile)
        return std::nullopt;
    QByteArray bytes = file.read(kMaxUploadFile + 1);
    if (bytes.size() > kMaxUploadFile)
        return std::nullopt;
    return bytes;
}

class Session
{
public:
    explicit Session(const SessionOptions &options)
        : m_Options(options)
    {
        // Each verb starts from what the application last saved, as a new process would.
        InitGlobals(m_Options.dataRoot);
    }

    // The page selected in OneNote. Empty text on success, otherwise the key of the failure.
    [[nodiscard]] QString FindCurrentPage(OneNotePageInfo &page) const
    {
        const std::unique_ptr<IClipboard> clipboard = m_Options.makeClipboard
                                                          ? m_Options.makeClipboard()
                                                          : std::make_unique<MemoryClipboard>();
        std::unique_ptr<IDesktopAutomation> automation = m_Options.makeAutomation
                                                             ? m_Options.makeAutomation(*clipboard)
                                                             : MakeDesktopAutomation(*clipboard);
        const QString clip = CopyCurrentPageLink(*automation, *clipboard).value_or(QString());
        return MCurrentPage::ReadPageLink(clip, page);
    }

    // The application's sign-in decision without its window: the account must be signed in
    // and, once a page of it has been opened or saved, be the page's account. The first
    // page after "login" binds the account, as the application's Login command does for
    // its next run. Empty text when the run may start, otherwise why not.
    [[nodiscard]] static QString SignInDecision(const OneNotePageInfo &page)
    {
        if (const QString refusal = NotSignedIn(); !refusal.isEmpty())
            return refusal;
        if (g_AccountId.isEmpty())
            g_AccountId.set(page.accountId);
        else if (g_AccountId.get() != page.accountId)
            return EnglishText(QStringLiteral("errAccountDiff"));
        return {};
    }

    // Why nobody is signed in, or empty text when someone is.
    [[nodiscard]] static QString NotSignedIn()
    {
        if (g_AccessToken.isEmpty() || g_UserId.isEmpty())
            return QStringLiteral("not signed in (run cogitra-cli login)");
        return {};
    }

    // Runs one job on the application's worker and waits for it, drawing the progress line.
    void RunJob(MWorkerProperties properties, const QString &verb, CliIo &io) const
    {
        g_ErrorCode.store(0);
        g_ErrorMessageKey.set(QString());
        g_StepCode.store(properties.DownloadCogitra ? Step::OpenRequested : Step::SaveRequested);
        MarkWorkerStarted();
        const std::shared_ptr<MThreadOnlineOneNote> worker
            = MThreadOnlineOneNote::Create(std::move(properties));
        worker->Run();
        QString shown;
        while (!WorkerFinished()) {
            if (io.errIsTerminal) {
                QString stage = Internal::StageOfStep(g_StepCode.load());
                if (const std::optional<int64_t> seconds = SecondsToNextTry())
                    stage += u", " + EnglishText(QStringLiteral("strServiceBusy")).arg(*seconds);
                if (stage != shown) {
                    shown = stage;
                    io.err.write("\r\x1b[Kcogitra-cli: " + (verb + u": " + stage).toUtf8()
                                 + "\xe2\x80\xa6");
                }
            }
            std::this_thread::sleep_for(m_Options.progressInterval);
        }
        worker->Wait();
        if (io.errIsTerminal && !shown.isEmpty())
            io.err.write("\r\x1b[K");
    }

    // One error line for a run that did not reach its last step.
    static int RunFailure(const QString &verb, CliIo &io, const QString &fallback)
    {
        const int64_t step = g_ErrorCode.load() != 0 ? g_ErrorCode.load() : g_StepCode.load();
        QString key = g_ErrorMessageKey.get();
        // A search that ends without an error of its own went through every notebook.
        if (key.isEmpty() && step == Step::SearchingNotebooks)
            key = QStringLiteral("errPageNotFound");
        const QString text = key.isEmpty() ? fallback : EnglishText(key);
        return Fail(io, verb, Internal::StageOfStep(step), text.isEmpty() ? key : text);
    }

private:
    const SessionOptions &m_Options;
};

int Status(const QStringList &arguments, CliIo &io, const SessionOptions &options)
{
    if (!arguments.isEmpty())
        return CliError(io, QStringLiteral("status takes no arguments"));
    const Session session(options);
    const bool signedIn = !g_AccessToken.isEmpty() && !g_UserId.isEmpty();
    // Without a host of the user's choosing, the application serves its own editor.
    const QString chosen = ChosenEditorHost();
    const QString host = chosen.isEmpty() ? QStringLiteral("built-in") : chosen;
    PrintJson(io, {{QStringLiteral("signedIn"), signedIn},
                   {QStringLiteral("userPrincipalName"), g_UserPrincipalName.get()},
                   {QStringLiteral("accountId"), g_AccountId.get()},
                   {QStringLiteral("host"), host},
                   {QStringLiteral("dataFolder"), g_AppDataDir.get()}});
    return 0;
}

int Login(const QStringList &arguments, CliIo &io, const SessionOptions &options)
{
    const QString verb = QStringLiteral("login");
    if (!arguments.isEmpty())
        return CliError(io, QStringLiteral("login takes no arguments"));
    if (io.in == nullptr)
        return Fail(io, verb, QStringLiteral("reading the code"), QStringLiteral("no input"));
    const Session session(options);

    io.out.write(MLoginFlow::AuthorizeUrl().toUtf8() + "\n");
    io.err.write("Open the address above in a browser and sign in. Then paste the address of "
                 "the page you end on (it holds \"?code=\"), or the code alone, and press "
                 "Enter:\n");
    const QByteArray line = io.in->readLine(kMaxPastedLine);
    if (line.size() >= kMaxPastedLine - 1 && !line.endsWith('\n'))
        return Fail(io, verb, QStringLiteral("reading the code"),
                    QStringLiteral("the pasted line is too long"));
    const QString pasted = QString::fromUtf8(line).trimmed();
    const QString code = Internal::CodeFromPastedText(pasted);
    if (code.isEmpty()) {
        const QString why = pasted.isEmpty()
                                ? QStringLiteral("nothing was pasted")
                                : QStringLiteral("no authorization code in what was pasted");
        return Fail(io, verb, QStringLiteral("reading the code"), why);
    }

    // A sign-in starts from an empty account, as the sign-in window's does; the code
    // exchange and the user lookup each save what they get.
    MLoginFlow flow;
    flow.Login();
    g_AuthCode.set(code);
    {
        MOnlineClients clients;
        clients.tokens.RetrieveTokensByCode();
        if (g_AccessToken.isEmpty())
            return Fail(io, verb, QStringLiteral("exchanging the code for tokens"),
                        QStringLiteral("the identity platform gave no token (the code may have "
                                       "expired or been used already)"));
        clients.graph.RetrieveUserIdByToken();
    }
    g_AuthCode.set(QString());
    if (g_UserId.isEmpty())
        return Fail(io, verb, QStringLiteral("reading the signed-in user"),
                    QStringLiteral("the user's id could not be read"));
    PrintJson(io, {{QStringLiteral("signedIn"), true},
                   {QStringLiteral("userPrincipalName"), g_UserPrincipalName.get()}});
    return 0;
}

// Once the run has found the page, the worker has checked that the signed-in account owns
// it: the account stays bound to the sign-in, as the application keeps it.
void KeepAccountBinding()
{
    if (!g_OnlinePageId.isEmpty())
        SaveAccountState();
}

// Finds the page and makes the sign-in decision; 0 when the job may run.
int PreparePage(const Session &session, const QString &verb, const QString &link,
                OneNotePageInfo &page, CliIo &io)
{
    if (!link.isEmpty()) {
        const QString refusal = ReadAnyPageLink(link, page);
        if (!refusal.isEmpty())
            return Fail(io, verb, QStringLiteral("reading the link"), refusal);
    } else if (const QString failure = session.FindCurrentPage(page); !failure.isEmpty()) {
        return Fail(io, verb, QStringLiteral("finding the current page"), EnglishText(failure));
    }
    const QString refusal = Session::SignInDecision(page);
    if (!refusal.isEmpty())
        return Fail(io, verb, QStringLiteral("signing in"), refusal);
    return 0;
}

int Open(const QStringList &arguments, CliIo &io, const SessionOptions &options)
{
    const QString verb = QStringLiteral("open");
    const auto flags = ParseCliOptions(verb, arguments,
                                       {QStringLiteral("--link"), QStringLiteral("--out")}, {}, io);
    if (!flags)
        return 1;
    const Session session(options);
    OneNotePageInfo page;
    if (PreparePage(session, verb, flags->value(QStringLiteral("--link")), page, io) != 0)
        return 1;

    session.RunJob(RunOfPage(page, true), verb, io);
    KeepAccountBinding();
    if (g_StepCode.load() != Step::OpenDone) {
        const QString fallback
            = g_StepCode.load() == Step::OpenFindingMap
                  ? QStringLiteral("the page \"%1\" holds no map").arg(page.title)
                  : QStringLiteral("the job ended early (step %1)").arg(g_StepCode.load());
        return Session::RunFailure(verb, io, fallback);
    }
    const QByteArray json = g_DownloadedMapJson.get().toUtf8();
    const QString outPath = flags->value(QStringLiteral("--out"));
    if (outPath.isEmpty()) {
        io.out.write(json);
        return 0;
    }
    QSaveFile out(outPath);
    if (!out.open(QIODevice::WriteOnly) || out.write(json) != json.size() || !out.commit())
        return Fail(io, verb, QStringLiteral("writing the map"),
                    QStringLiteral("cannot write %1").arg(outPath));
    PrintJson(io, {{QStringLiteral("out"), outPath},
                   {QStringLiteral("bytes"), qint64(json.size())},
                   {QStringLiteral("title"), page.title}});
    return 0;
}

int Pages(const QStringList &arguments, CliIo &io, const SessionOptions &options)
{
    const QString verb = QStringLiteral("pages");
    const auto flags = ParseCliOptions(
        verb, arguments, {QStringLiteral("--notebook"), QStringLiteral("--section")}, {}, io);
    if (!flags)
        return 1;
    const QString notebookName = flags->value(QStringLiteral("--notebook"));
    const Session session(options);
    if (const QString refusal = Session::NotSignedIn(); !refusal.isEmpty())
        return Fail(io, verb, QStringLiteral("signing in"), refusal);

    MOnlineClients clients;
    clients.EnsureAccount();
    const MPageTree tree
        = ReadPageTree(clients, {notebookName, flags->value(QStringLiteral("--section")), false});
    switch (tree.failure) {
    case MPageTree::Failure::None:
        break;
    case MPageTree::Failure::Notebooks:
        return Fail(io, verb, QStringLiteral("reading the notebooks"),
                    EnglishText(tree.failureKey));
    case MPageTree::Failure::PageLists:
        return Fail(io, verb, QStringLiteral("reading the page lists"),
                    EnglishText(tree.failureKey));
    case MPageTree::Failure::TooManyPages:
        return Fail(io, verb, QStringLiteral("listing the pages"),
                    QStringLiteral("more than %1 pages; choose a notebook or section with "
                                   "--notebook or --section")
                        .arg(k_MaxListedPages));
    }
    QJsonArray notebooks;
    for (const MTreeNotebook &notebook : tree.notebooks) {
        QJsonArray sections;
        for (const MTreeSection &section : notebook.sections) {
            QJsonArray pages;
            for (const MTreePage &page : section.pages)
                pages.append(QJsonObject{{QStringLiteral("title"), page.title},
                                         {QStringLiteral("link"), page.link}});
            sections.append(QJsonObject{{QStringLiteral("name"), section.name},
                                        {QStringLiteral("group"), section.groups.join(u'/')},
                                        {QStringLiteral("pages"), pages}});
        }
        notebooks.append(QJsonObject{{QStringLiteral("name"), notebook.name},
                                     {QStringLiteral("sections"), sections}});
    }
    PrintJson(io, {{QStringLiteral("notebooks"), notebooks}});
    return 0;
}

int Save(const QStringList &arguments, CliIo &io, const SessionOptions &options)
{
    const QString verb = QStringLiteral("save");
    // "--replace" stands alone; every other option takes a value.
    QStringList valued;
    bool replace = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        if (arguments.at(i) == u"--replace") {
            replace = true;
            continue;
        }
        valued << arguments.at(i);
        if (i + 1 < arguments.size())
            valued << arguments.at(++i);
    }
    const auto flags = ParseCliOptions(
        verb, valued, {QStringLiteral("--link"), QStringLiteral("--json"), QStringLiteral("--png")},
        {QStringLiteral("--json")}, io);
    if (!flags)
        return 1;
    const QString jsonPath = flags->value(QStringLiteral("--json"));
    const QString pngPath = flags->value(QStringLiteral("--png"));
    const QString reading = QStringLiteral("reading the files");

    const std::optional<QByteArray> json = ReadBoundedFile(jsonPath);
    if (!json)
        return Fail(io, verb, reading, QStringLiteral("cannot read %1").arg(jsonPath));
    // What the editor could not show must not replace the map on the page.
    const QString notAMap = Internal::WhyNotAMap(*json);
    if (!notAMap.isEmpty())
        return Fail(io, verb, reading, jsonPath + u' ' + notAMap);
    if (pngPath.isEmpty())
        return Fail(io, verb, reading,
                    QStringLiteral("--png FILE is required: the picture readers see on the page is "
                                   "drawn by the map editor, which cogitra-cli does not have "
                                   "(export it from the editor, or save from Cogitra)"));
    const std::optional<QByteArray> png = ReadBoundedFile(pngPath);
    if (!png)
        return Fail(io, verb, reading, QStringLiteral("cannot read %1").arg(pngPath));
    if (!png->startsWith(kPngSignature))
        return Fail(io, verb, reading, QStringLiteral("%1 is not a PNG picture").arg(pngPath));

    const Session session(options);
    // As in the application, before anything can fail: Restore Last Saved Map brings back
    // the last map handed to a save, from either program.
    (void)SaveMapBackup(QString::fromUtf8(*json));
    OneNotePageInfo page;
    if (PreparePage(session, verb, flags->value(QStringLiteral("--link")), page, io) != 0)
        return 1;

    MWorkerProperties properties
        = RunOfPage(page, false, QString::fromUtf8(*json), QString::fromLatin1(png->toBase64()));
    // Without an origin the save replaces only the map last opened or saved on this computer.
    properties.Replace = replace;
    // A process of its own has no page from an earlier run: the save locates the page.
    g_OnlinePageId.set(QString());
    session.RunJob(std::move(properties), verb, io);
    KeepAccountBinding();
    if (g_StepCode.load() == Step::SaveUnseenMap) {
        (void)Fail(io, verb, QStringLiteral("checking the page's map"),
                   QStringLiteral("the page holds a map that was not opened or saved on this "
                                  "computer, or that was changed since; nothing was written "
                                  "(open it first, or add --replace to replace it)"));
        return kExitUnseenMap;
    }
    if (g_StepCode.load() != Step::SaveDone)
        return Session::RunFailure(
            verb, io, QStringLiteral("the job ended early (step %1)").arg(g_StepCode.load()));
    PrintJson(io, {{QStringLiteral("pageId"), g_OnlinePageId.get()},
                   {QStringLiteral("title"), page.title}});
    return 0;
}

} // namespace

namespace Internal {

QString WhyNotAMap(const QByteArray &json)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (!QUtf8StringView(json).isValidUtf8() || error.error != QJsonParseError::NoError
        || !document.isObject())
        return QStringLiteral("is not a map (a JSON object)");
    const QJsonValue root = document.object().value(QStringLiteral("root"));
    if (root.isUndefined())
        return QStringLiteral("is not a map the editor can open: it has no root topic");
    if (!root.isObject())
        return QStringLiteral("is not a map the editor can open: its root is not a topic");

    // As the editor walks it: children that are not topics are passed over.
    std::vector<std::pair<QJsonObject, int>> pending{{root.toObject(), 0}};
    int count = 1;
    while (!pending.empty()) {
        const auto [topic, depth] = pending.back();
        pending.pop_back();
        const QJsonValue children = topic.value(QStringLiteral("children"));
        for (const QJsonValue child : children.toArray()) {
            if (!child.isObject())
                continue;
            if (++count > kMaxTopics)
                return QStringLiteral("is not a map the editor can open: it has more than "
                                      "%1 topics")
                    .arg(kMaxTopics);
            if (depth + 1 > kMaxTopicDepth)
                return QStringLiteral("is not a map the editor can open: its topics are "
                                      "nested deeper than %1")
                    .arg(kMaxTopicDepth);
            pending.emplace_back(child.toObject(), depth + 1);
        }
    }
    return {};
}

QString StageOfStep(int64_t stepCode)
{
    switch (stepCode) {
    case Step::OpenRequested:
    case Step::SaveRequested:
        return QStringLiteral("signing in");
    case Step::OpenLocating:
    case Step::OpenLocateFailed:
    case Step::SaveLocating:
    case Step::SaveLocateFailed:
    case Step::ListingNotebooks:
    case Step::SearchingNotebooks:
        return QStringLiteral("locating the page");
    case Step::OpenReadingPage:
    case Step::SavePageKnown:
    case Step::SaveReadingPage:
        return QStringLiteral("reading the page");
    case Step::OpenFindingMap:
    case Step::SaveFindingImages:
        return QStringLiteral("looking for the map");
    case Step::OpenDownloadingMap:
        return QStringLiteral("downloading the map");
    case Step::OpenReadingMap:
        return QStringLiteral("reading the map");
    case Step::SaveUnseenMap:
        return QStringLiteral("checking the page's map");
    case Step::SaveUploadingPreview:
        return QStringLiteral("uploading the picture");
    case Step::SavePackingMap:
        return QStringLiteral("packing the map");
    case Step::SaveUploadingMap:
        return QStringLiteral("uploading the map");
    case Step::OpenDone:
    case Step::SaveDone:
        return QStringLiteral("done");
    default:
        return QStringLiteral("step %1").arg(stepCode);
    }
}

QString CodeFromPastedText(const QString &pasted)
{
    if (pasted.contains(QLatin1String("?code=")))
        return MLoginFlow::GetFieldValueFromURL(pasted, QStringLiteral("code"));
    if (pasted.isEmpty() || pasted.size() > 4096)
        return {};
    // Codes are URL-safe text; anything else would change the form it is sent in.
    for (const QChar c : pasted) {
        const bool safe = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z')
                          || (c >= u'0' && c <= u'9') || c == u'-' || c == u'.' || c == u'_'
                          || c == u'~' || c == u'!' || c == u'*' || c == u'$';
        if (!safe)
            return {};
    }
    return pasted;
}

} // namespace Internal

std::vector<CliVerb> SessionVerbs(SessionOptions options)
{
    auto shared = std::make_shared<const SessionOptions>(std::move(options));
    auto bind = [shared](int (*verb)(const QStringList &, CliIo &, const SessionOptions &)) {
        return [shared, verb](const QStringList &arguments, CliIo &io) {
            return verb(arguments, io, *shared);
        };
    };
    return {
        {{QStringLiteral("login")},
         QString(),
         QStringLiteral("prints the sign-in address, reads the address you end on (or its code) "
                        "from standard input and signs in"),
         bind(Login)},
        {{QStringLiteral("status")},
         QString(),
         QStringLiteral("prints whether you are signed in, as whom, and the editor host"),
         bind(Status)},
        {{QStringLiteral("open")},
         QStringLiteral("[--link LINK] [--out FILE]"),
         QStringLiteral("prints the map's JSON of the page (the link's, or the one selected in "
                        "OneNote), or writes it to FILE"),
         bind(Open)},
        {{QStringLiteral("pages")},
         QStringLiteral("[--notebook NAME] [--section NAME]"),
         QStringLiteral("prints the notebooks, their sections and each section's pages (title "
                        "and link, for open --link and save --link); a section in a section "
                        "group has the group's path as \"group\" (\"Projects/Archive\"). "
                        "The options keep only the notebooks and sections of that exact name"),
         bind(Pages)},
        {{QStringLiteral("save")},
         QStringLiteral("[--link LINK] --json FILE --png FILE [--replace]"),
         QStringLiteral("writes a map and its picture onto the page; a map there that was not "
                        "opened or saved on this computer is replaced only with --replace "
                        "(otherwise exit status 3)"),
         bind(Save)},
    };
}

std::vector<CliVerb> AllVerbs(SessionOptions options)
{
    std::vector<CliVerb> verbs = SessionVerbs(std::move(options));
    for (CliVerb &verb : ToolVerbs())
        verbs.push_back(std::move(verb));
    return verbs;
}

} // namespace Cogitra
