#include "clipboard/x11_fixture.hpp"

namespace cliptint::test {

std::string X11Fixture::save(const std::string& bytes) {
    const std::string path = dir.file("picture-" + std::to_string(++saved_));
    writeWholeFile(path, bytes);
    return path;
}

void X11Fixture::offerByXclip(const std::string& target, const std::string& bytes) {
    const xcb_window_t before = client.clipboardOwner();
    peers.push_back(std::make_unique<Background>(
        std::vector<std::string>{"xclip", "-quiet", "-selection", "clipboard", "-t", target, "-i",
                                 save(bytes)},
        xvfb.env()));
    ASSERT_TRUE(awaitNewOwner(client, before)) << "xclip did not take the clipboard";
}

void X11Fixture::offerByTestOwner(const std::string& mode,
                                  const std::vector<std::pair<std::string, std::string>>& offers) {
    std::vector<std::string> argv{CLIPTINT_TEST_OWNER, mode, dir.file("asked.log")};
    for (const auto& [target, bytes] : offers) {
        argv.push_back(target);
        argv.push_back(save(bytes));
    }
    const xcb_window_t before = client.clipboardOwner();
    peers.push_back(std::make_unique<Background>(argv, xvfb.env()));
    ASSERT_TRUE(awaitNewOwner(client, before)) << "the test owner did not take the clipboard";
}

std::string X11Fixture::clipboardAs(const std::string& target) {
    const auto run = runProgram({"xclip", "-selection", "clipboard", "-o", "-t", target},
                                std::chrono::seconds(30), xvfb.env());
    EXPECT_EQ(run.status, 0) << run.err;
    return run.out;
}

std::pair<std::string, std::string> X11Fixture::fileRun(const std::string& bytes,
                                                        const std::vector<std::string>& words) {
    const std::string in = save(bytes);
    const std::string out = dir.file("out-" + std::to_string(saved_));
    std::vector<std::string> all{"--file", in, out};
    all.insert(all.end(), words.begin(), words.end());
    const auto run = runTool(all);
    return {run.out, readWholeFile(out)};
}

}  // namespace cliptint::test
