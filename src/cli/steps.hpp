#pragma once

#include <optional>
#include <string>

#include "cli/answer.hpp"
#include "clipboard/clipboard.hpp"
#include "result.hpp"

namespace cliptint {

// Where a run's picture comes from and where a painted one goes.
class Pictures {
  public:
    virtual ~Pictures() = default;
    // The picture bytes; nullopt when there are none to be had.
    virtual Result<std::optional<Bytes>> read() = 0;
    // Stores the painted PNG. Failure: "write".
    virtual Result<void> store(const Bytes& png) = 0;
};

// The file IN and the file OUT (readPictureFile, writeFileAtomically).
class FilePictures final : public Pictures {
  public:
    FilePictures(const std::string& in, const std::string& out) : in_(in), out_(out) {}
    Result<std::optional<Bytes>> read() override;
    Result<void> store(const Bytes& png) override;

  private:
    const std::string& in_;
    const std::string& out_;
};

// The desktop clipboard (readClipboard, writeClipboard).
class ClipboardPictures final : public Pictures {
  public:
    explicit ClipboardPictures(Clipboard& pb) : pb_(pb) {}
    Result<std::optional<Bytes>> read() override;
    Result<void> store(const Bytes& png) override;

  private:
    Clipboard& pb_;
};

// The steps of a run once its words are known: the picture read, answered and, when painted,
// stored. The reply line, or the failure message that follows "ERR " on it. A single run and each
// line of a batch go through here, so both answer alike.
Result<std::string> answerRun(const Command& command, Pictures& pictures);

// The reply line of a run's outcome: its line, or "ERR " and the message.
std::string replyLine(const Result<std::string>& outcome);

}  // namespace cliptint
