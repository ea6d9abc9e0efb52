#pragma once

#include <QMap>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

class QIODevice;
class QJsonObject;

// The verbs of cogitra-cli. A verb is one or more words ("container pack") followed by its
// own arguments; each prints JSON or a map on standard output and reports an error as one
// line on standard error with exit status 1.
namespace Cogitra {

struct CliIo
{
    QIODevice &out;
    QIODevice &err;
    QIODevice *in = nullptr;    // what login reads the pasted redirect address from
    bool errIsTerminal = false; // progress lines are drawn on a terminal only
};

struct CliVerb
{
    QStringList words;
    QString usage; // the arguments after the words
    QString summary;
    std::function<int(const QStringList &arguments, CliIo &io)> run;
};

// The tool verbs: container pack, container extract, link parse, convert.
[[nodiscard]] std::vector<CliVerb> ToolVerbs();

// Runs the verb that the arguments (without the program path) name.
[[nodiscard]] int RunCli(const QStringList &arguments, CliIo &io,
                         const std::vector<CliVerb> &verbs);

// One "cogitra-cli: TEXT" line on standard error; returns 1 for the verb to return.
int CliError(CliIo &io, const QString &text);

// A verb's options, each "--name value" and given at most once. No value, after one error
// line ("VERB: " first when verb is not empty), for an unknown, repeated or valueless
// option, or a missing required one.
[[nodiscard]] std::optional<QMap<QString, QString>>
ParseCliOptions(const QString &verb, const QStringList &arguments, const QStringList &allowed,
                const QStringList &required, CliIo &io);

// A verb's result: one line of compact JSON (keys in QJsonObject's sorted order).
void PrintJson(CliIo &io, const QJsonObject &object);

} // namespace Cogitra
