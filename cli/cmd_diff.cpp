// zarn60 diff: the named fields in which two configurations differ.
#include <algorithm>
#include <iostream>
#include <memory>
#include <optional>

#include "cli/commands.h"
#include "cli/options.h"
#include "cli/subcommands.h"

namespace cli {
namespace {

struct Args {
    LinkFlags link;
    std::string a, b, format;
    bool asJson = false, exitCode = false;
};

int Run(const Args& args) {
    if (args.a == "-" && args.b == "-")
        throw Error(EXIT_USAGE, "-: standard input can be only one side of the diff");
    const LinkOptions options = args.link.Options();
    // Both files are read before a reader is asked.
    std::optional<Document> docs[2];
    const std::string* sides[2] = {&args.a, &args.b};
    for (int i = 0; i < 2; ++i)
        if (*sides[i] != "reader") docs[i] = LoadDocument(*sides[i], args.format);

    // The reader once, and first: a partial document is read over its values.
    Settings base = FactorySettings();
    std::optional<Settings> reader;
    if (!docs[0] || !docs[1]) {
        ReaderLink l(options);
        reader = Settings{l.ReadConfig(), {}, {}};
        base = *reader;
    }
    Settings values[2];
    for (int i = 0; i < 2; ++i) values[i] = docs[i] ? Resolve(*docs[i], base) : *reader;
    std::vector<Change> changes = Diff(values[0], values[1]);

    // A JSON document speaks for the fields it names; the others are not compared.
    std::vector<std::string> named;
    bool partial = false;
    for (const auto& d : docs) {
        if (!d || d->isCfg) continue;
        partial = true;
        for (const auto& n : NamedFields(d->json)) named.push_back(n);
    }
    if (partial) {
        std::erase_if(changes, [&](const Change& c) {
            return std::find(named.begin(), named.end(), c.field) == named.end();
        });
    }

    if (args.asJson)
        std::cout << JsonText(ChangesJson(changes));
    else if (changes.empty())
        std::cout << "no differences\n";
    else
        std::cout << ChangesText(changes);
    return args.exitCode && !changes.empty() ? 1 : 0;
}

}  // namespace

Subcommand SetupDiff(CLI::App& parent) {
    auto a = std::make_shared<Args>();
    auto* cmd = parent.add_subcommand(
        "diff",
        "the fields in which A and B differ (each a file, - or 'reader'); a JSON document "
        "compares only the fields it names");
    cmd->add_option("A", a->a, "a file, - or reader")->required();
    cmd->add_option("B", a->b, "a file, - or reader")->required();
    a->link.AddTo(cmd);
    AddFormatOption(cmd, &a->format);
    cmd->add_flag("--json", a->asJson, "print JSON");
    cmd->add_flag("--exit-code", a->exitCode, "exit with 1 when A and B differ, 0 when not");
    return {cmd, [a] { return Run(*a); }};
}

}  // namespace cli
