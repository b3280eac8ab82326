#include "ReplyForm.h"

#include <cstdlib>

namespace examserver {

namespace {

bool readNumber(const std::string& s, long& out) {
    if (s.empty())
        return false;
    char* end = nullptr;
    out = std::strtol(s.c_str(), &end, 10);
    return *end == '\0' && out >= 0;
}

} // namespace

std::optional<ReplyForm> parseReplyForm(const std::string& formText) {
    ReplyForm f;
    const auto colon = formText.find(':');
    const std::string head = formText.substr(0, colon);
    const std::string arg = colon == std::string::npos ? std::string() : formText.substr(colon + 1);
    long n = 0;
    if (head == "accept" && colon == std::string::npos)
        return f;
    if (head == "text" && colon != std::string::npos) {
        f.kind = ReplyForm::Text;
        f.text = arg;
        return f;
    }
    if (head == "refuse") { // "NG" with an optional code after one blank
        f.kind = ReplyForm::Text;
        f.text = arg.empty() ? "NG" : "NG " + arg;
        return f;
    }
    if (head == "fatal" && colon == std::string::npos) {
        f.kind = ReplyForm::Fatal;
        return f;
    }
    if (head == "error-page" && colon == std::string::npos) {
        f.kind = ReplyForm::ErrorPage;
        return f;
    }
    if (head == "error-page-200" && colon == std::string::npos) {
        f.kind = ReplyForm::ErrorPage200;
        return f;
    }
    if (head == "empty" && colon == std::string::npos) {
        f.kind = ReplyForm::Empty;
        return f;
    }
    if (head == "close" && colon == std::string::npos) {
        f.kind = ReplyForm::Close;
        return f;
    }
    if (head == "bytes" && readNumber(arg, n)) {
        f.kind = ReplyForm::Bytes;
        f.size = n;
        return f;
    }
    if (head == "status") {
        const auto colon2 = arg.find(':');
        if (readNumber(arg.substr(0, colon2), n) && n >= 100 && n <= 599) {
            f.kind = ReplyForm::Status;
            f.size = n;
            if (colon2 != std::string::npos)
                f.text = arg.substr(colon2 + 1);
            return f;
        }
        return std::nullopt;
    }
    if (head == "trickle" && readNumber(arg, n) && n > 0) {
        f.kind = ReplyForm::Trickle;
        f.size = n;
        return f;
    }
    if (head == "redirect" && !arg.empty()) {
        f.kind = ReplyForm::Redirect;
        f.text = arg;
        return f;
    }
    if (head == "escapes" && colon == std::string::npos) {
        f.kind = ReplyForm::Escapes;
        return f;
    }
    if (head == "slow") {
        const auto colon2 = arg.find(':');
        if (!readNumber(arg.substr(0, colon2), n))
            return std::nullopt;
        std::optional<ReplyForm> inner = colon2 == std::string::npos
                                             ? std::optional<ReplyForm>(ReplyForm{})
                                             : parseReplyForm(arg.substr(colon2 + 1));
        if (inner)
            inner->delayMs = int(n);
        return inner;
    }
    return std::nullopt;
}

} // namespace examserver
