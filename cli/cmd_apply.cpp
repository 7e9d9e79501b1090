// zarn60 apply: make the reader hold a configuration, writing only when it differs.
#include <iostream>
#include <memory>

#include "cli/commands.h"
#include "cli/options.h"
#include "cli/subcommands.h"

namespace cli {
namespace {

// Each line made printable on its own, so that the line breaks stay line breaks.
void PrintLines(const std::string& text) {
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::cout << PrintableText(text.substr(start, end - start)) << "\n";
        start = end + 1;
    }
}

}  // namespace

Subcommand SetupApply(CLI::App& parent) {
    struct Args {
        LinkFlags link;
        std::string file, format;
        bool dryRun = false, force = false, asJson = false;
    };
    auto a = std::make_shared<Args>();
    auto* cmd = parent.add_subcommand("apply",
                                      "make the reader's configuration that of FILE (.cfg or "
                                      ".json, - for standard input); writes only when it "
                                      "differs");
    cmd->add_option("FILE", a->file, "a .cfg or .json file, or -")->required();
    a->link.AddTo(cmd);
    AddFormatOption(cmd, &a->format);
    cmd->add_flag("--dry-run", a->dryRun, "read the reader and say what would change");
    cmd->add_flag("--force", a->force, "write even when nothing differs");
    cmd->add_flag("--json", a->asJson,
                  "print {\"changed\": bool, \"dry_run\": bool, \"link\": ..., \"changes\": "
                  "[...], \"not_carried\": [...]}");
    return {cmd, [a] {
                const LinkOptions options = a->link.Options();
                // A bad file fails before the reader is touched.
                const Document doc = LoadDocument(a->file, a->format);
                ReaderLink l(options);
                const ApplyResult r = Apply(l, doc, a->dryRun, a->force);
                if (a->asJson)
                    std::cout << ApplyJson(r, l.Where()).dump(-1, ' ', true) << "\n";
                else
                    PrintLines(ApplyText(r, l.Where()));
                return 0;
            }};
}

}  // namespace cli
