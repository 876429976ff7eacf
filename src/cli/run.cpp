#include "cli/run.hpp"

#include <string>
#include <utility>
#include <vector>

#include "cli/batch.hpp"
#include "cli/command.hpp"
#include "cli/fail.hpp"
#include "cli/help.hpp"
#include "cli/steps.hpp"
#include "clipboard/clipboard.hpp"

namespace cliptint {

void run(int argc, char** argv) {
    // A first word that asks about the tool itself is answered before anything is looked at.
    if (argc >= 2) {
        if (const auto text = aboutTool(argv[1])) reply(*text);
    }
    std::vector<std::string> words(argv, argv + argc);
    if (words.size() >= 2 && words[1] == "--batch") {
        words.erase(words.begin() + 1);
        runBatch(words);
    }
    const Invocation invocation = applyFileRule(std::move(words));
    const auto command = commandOf(invocation.args);
    if (!command) fail(kUsage);

    if (invocation.fileIn) {
        FilePictures files(*invocation.fileIn, *invocation.fileOut);
        reply(replyLine(answerRun(*command, files)));
    }
    const auto pb = obtainClipboard();
    ClipboardPictures clipboard(*pb);
    reply(replyLine(answerRun(*command, clipboard)));
}

}  // namespace cliptint
