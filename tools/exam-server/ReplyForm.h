#pragma once
// The reply forms the reference server can give, chosen on its command line.
#include <optional>
#include <string>

namespace examserver {

struct ReplyForm {
    enum Kind {
        Normal,       // what a working server answers
        Text,         // a fixed text, sent in Shift_JIS
        Fatal,        // registration: a word containing "NG" that does not begin with it
        ErrorPage,    // HTTP 500 with an HTML page
        ErrorPage200, // HTTP 200 with the old "page cannot be displayed" page
        Empty,        // HTTP 200, no body
        Close,        // headers, then the connection is closed
        Bytes,        // a body of exactly `size` bytes
        Status,       // an HTTP status `size`, with `text` as its body when given
        Trickle,      // headers, then a body without length, one byte every `size` ms, endless
        Redirect,     // 302 to `text`, with a body that would be an acceptance ("OK")
        Escapes       // "NG" and terminal escape sequences, as raw bytes
    } kind = Normal;
    std::string text;
    long size = 0;
    int delayMs = 0; // wait before answering (any form, "slow:MS" alone is Normal)
};

// Parses "accept", "text:...", "refuse:CODE", "fatal", "error-page", "error-page-200",
// "empty", "close", "bytes:N", "status:N[:TEXT]", "trickle:MS", "redirect:URL",
// "escapes", "slow:MS[:FORM]". nullopt on a bad form.
std::optional<ReplyForm> parseReplyForm(const std::string& formText);

} // namespace examserver
