// exam-server: a small HTTPS server that plays the exam server for local runs
// and tests. It stores what it receives in SQLite and can answer in every
// reply form the client knows, so each path of the client can be seen.
#include "ReplyForm.h"
#include "Store.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <QStringEncoder>
#include <httplib.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <thread>

using namespace examserver;

namespace {

const char kUsage[] =
    "usage: exam-server serve --cert FILE --key FILE [options]\n"
    "       exam-server list [--db FILE]\n"
    "\n"
    "serve options:\n"
    "  --host ADDR            address to listen on (default 127.0.0.1)\n"
    "  --port N               port, 0 for any free one (default 8443)\n"
    "  --db FILE              SQLite file (default exam-server.sqlite)\n"
    "  --credential B64       expected Basic credential (default: the build's)\n"
    "  --register-reply FORM  how /api/grade/register answers (default accept)\n"
    "  --result-reply FORM    how /api/grade/result answers (default accept)\n"
    "  --fail-results N       answer the next N results with \"NG\", then as FORM says\n"
    "  --fail-registrations N refuse the next N registrations (\"NG ADD ERR\"), then as FORM says\n"
    "  --log-arrivals         also log \"arrived PATH\" when a request comes in\n"
    "\n"
    "FORM: accept | refuse[:CODE] (\"NG CODE\") | fatal | text:TEXT | error-page (HTTP 500)\n"
    "      | error-page-200 | empty | close | bytes:N | status:N[:TEXT] | slow:MS[:FORM]\n"
    "  hostile forms:\n"
    "      trickle:MS    a body without length, one byte every MS ms, never ending\n"
    "      redirect:URL  302 to URL (say http://...), with \"OK\" as its body\n"
    "      status:3NN:OK a redirect status without Location, with \"OK\" as its body\n"
    "      escapes       \"NG\" followed by terminal escape sequences and control bytes\n"
    "Texts are sent in Shift_JIS. Each request is logged on stdout as one JSON line.\n";

std::atomic<bool> stopping{false};

std::string shiftJis(const std::string& utf8) {
    QStringEncoder enc("windows-31j");
    const QByteArray b = enc.encode(QString::fromStdString(utf8));
    return b.toStdString();
}

std::string percentDecode(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && std::isxdigit((unsigned char)s[i + 1]) &&
            std::isxdigit((unsigned char)s[i + 2])) {
            out += char(std::stoi(s.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

// The query as the client sent it ("+" stays a plus: the client encodes its own).
Params parseQuery(const std::string& target) {
    Params p;
    const auto q = target.find('?');
    if (q == std::string::npos)
        return p;
    const std::string query = target.substr(q + 1);
    size_t start = 0;
    while (start <= query.size()) {
        size_t end = query.find('&', start);
        if (end == std::string::npos)
            end = query.size();
        const std::string pair = query.substr(start, end - start);
        const auto eq = pair.find('=');
        p.emplace_back(percentDecode(pair.substr(0, eq)), eq == std::string::npos
                                                              ? std::string()
                                                              : percentDecode(pair.substr(eq + 1)));
        start = end + 1;
    }
    return p;
}

void logRequest(const httplib::Request& req, int status) {
    QJsonArray headers;
    for (const auto& [k, v] : req.headers)
        headers.append(QJsonArray{QString::fromStdString(k), QString::fromStdString(v)});
    QJsonObject o{{"path", QString::fromStdString(req.path)},
                  {"target", QString::fromStdString(req.target)},
                  {"status", status == -1 ? 200 : status},
                  {"headers", headers}};
    std::printf("%s\n", QJsonDocument(o).toJson(QJsonDocument::Compact).constData());
    std::fflush(stdout);
}

void sleepUnlessStopping(int ms) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!stopping && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

// Answers with a reply form other than Normal; returns the text stored with a result.
std::string answer(const ReplyForm& f, httplib::Response& res) {
    switch (f.kind) {
    case ReplyForm::Normal:
        break;
    case ReplyForm::Text:
        res.set_content(shiftJis(f.text), "text/plain; charset=Shift_JIS");
        return f.text;
    case ReplyForm::Fatal:
        res.set_content("REGIST_NG", "text/plain");
        return "REGIST_NG";
    case ReplyForm::ErrorPage:
        res.status = 500;
        res.set_content("<HTML><HEAD><TITLE>500 Internal Server Error</TITLE></HEAD><BODY>"
                        "<H1>Internal Server Error</H1></BODY></HTML>",
                        "text/html");
        return "(error page, 500)";
    case ReplyForm::ErrorPage200:
        res.set_content(shiftJis("<HTML><HEAD><TITLE>ページを表示できません</TITLE></HEAD><BODY>"
                                 "ページを表示できません</BODY></HTML>"),
                        "text/html; charset=Shift_JIS");
        return "(error page, 200)";
    case ReplyForm::Empty:
        res.set_content("", "text/plain");
        return "(empty)";
    case ReplyForm::Close:
        // Promise a body, send none and drop the connection.
        res.set_content_provider(64, "text/plain",
                                 [](size_t, size_t, httplib::DataSink&) { return false; });
        return "(closed)";
    case ReplyForm::Bytes: {
        std::string body = "1234,5678,";
        body.reserve(size_t(f.size));
        for (size_t i = 0; body.size() < size_t(f.size); ++i)
            body += char('a' + i % 26);
        body.resize(size_t(f.size));
        res.set_content(body, "text/plain");
        return "(" + std::to_string(f.size) + " bytes)";
    }
    case ReplyForm::Status:
        res.status = int(f.size);
        if (!f.text.empty())
            res.set_content(shiftJis(f.text), "text/plain; charset=Shift_JIS");
        return "(status " + std::to_string(f.size) + ")";
    case ReplyForm::Trickle: {
        const int everyMs = int(f.size);
        res.set_chunked_content_provider(
            "text/plain", [everyMs](size_t offset, httplib::DataSink& sink) {
                if (offset > 0)
                    sleepUnlessStopping(everyMs);
                if (stopping)
                    return false;
                const char byte = offset == 0 ? 'O' : offset == 1 ? 'K' : ' ';
                return sink.write(&byte, 1);
            });
        return "(trickle)";
    }
    case ReplyForm::Redirect:
        res.status = 302;
        res.set_header("Location", f.text);
        res.set_content("OK", "text/plain");
        return "(redirect to " + f.text + ")";
    case ReplyForm::Escapes:
        res.set_content("NG \x1b[2J\x1b[H\x1b[1;31mALERT\x1b[0m\x1b]0;owned\x07\rover\x08\x7f"
                        "\x1b[6n\x1bP+q\x1b\\ end",
                        "text/plain");
        return "(escapes)";
    }
    return {};
}

std::string nextArg(int& i, int argc, char** argv) {
    if (i + 1 >= argc) {
        std::fprintf(stderr, "exam-server: %s needs a value\n\n%s", argv[i], kUsage);
        std::exit(2);
    }
    return argv[++i];
}

ReplyForm formArg(int& i, int argc, char** argv) {
    const std::string formText = nextArg(i, argc, argv);
    const auto f = parseReplyForm(formText);
    if (!f) {
        std::fprintf(stderr, "exam-server: unknown reply form \"%s\"\n\n%s", formText.c_str(),
                     kUsage);
        std::exit(2);
    }
    return *f;
}

int serve(int argc, char** argv) {
    std::string host = "127.0.0.1", db = "exam-server.sqlite", cert, key,
                credential = BREVIK_DEFAULT_CREDENTIAL;
    int port = 8443;
    long failResults = 0, failRegistrations = 0;
    bool logArrivals = false;
    ReplyForm registerForm, resultForm;
    for (int i = 2; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--host")
            host = nextArg(i, argc, argv);
        else if (a == "--port")
            port = std::atoi(nextArg(i, argc, argv).c_str());
        else if (a == "--db")
            db = nextArg(i, argc, argv);
        else if (a == "--cert")
            cert = nextArg(i, argc, argv);
        else if (a == "--key")
            key = nextArg(i, argc, argv);
        else if (a == "--credential")
            credential = nextArg(i, argc, argv);
        else if (a == "--register-reply")
            registerForm = formArg(i, argc, argv);
        else if (a == "--result-reply")
            resultForm = formArg(i, argc, argv);
        else if (a == "--fail-registrations")
            failRegistrations = std::atol(nextArg(i, argc, argv).c_str());
        else if (a == "--fail-results")
            failResults = std::atol(nextArg(i, argc, argv).c_str());
        else if (a == "--log-arrivals")
            logArrivals = true;
        else {
            std::fprintf(stderr, "exam-server: unknown option %s\n\n%s", a.c_str(), kUsage);
            return 2;
        }
    }
    if (cert.empty() || key.empty()) {
        std::fprintf(stderr, "exam-server: --cert and --key are required "
                             "(tools/exam-server/make-cert makes a pair)\n");
        return 2;
    }

    // Signals are taken by one thread that stops the server cleanly.
    sigset_t sigs;
    sigemptyset(&sigs);
    sigaddset(&sigs, SIGINT);
    sigaddset(&sigs, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &sigs, nullptr);

    std::unique_ptr<Store> store;
    try {
        store = std::make_unique<Store>(db);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "exam-server: %s\n", e.what());
        return 1;
    }
    httplib::SSLServer svr(cert.c_str(), key.c_str());
    if (!svr.is_valid()) {
        std::fprintf(stderr, "exam-server: cannot use the certificate %s with the key %s\n",
                     cert.c_str(), key.c_str());
        return 1;
    }
    std::atomic<long> failsLeft{failResults};
    std::atomic<long> registrationFailsLeft{failRegistrations};
    const std::string expectedAuth = "Basic " + credential;

    auto authorized = [&](const httplib::Request& req, httplib::Response& res) {
        if (req.get_header_value("Authorization") == expectedAuth)
            return true;
        res.status = 401;
        res.set_header("WWW-Authenticate", "Basic realm=\"exam\"");
        res.set_content("unauthorized", "text/plain");
        return false;
    };

    auto arrived = [&](const httplib::Request& req) {
        if (logArrivals) {
            std::printf("arrived %s\n", req.path.c_str());
            std::fflush(stdout);
        }
    };
    svr.Get("/api/grade/register", [&](const httplib::Request& req, httplib::Response& res) {
        arrived(req);
        if (authorized(req, res)) {
            sleepUnlessStopping(registerForm.delayMs);
            if (registrationFailsLeft.fetch_sub(1) > 0) {
                res.set_content("NG ADD ERR", "text/plain");
            } else if (registerForm.kind == ReplyForm::Normal) {
                const auto [jid, resultId] =
                    store->addRegistration(parseQuery(req.target), req.target);
                res.set_content(std::to_string(jid) + "," + std::to_string(resultId), "text/plain");
            } else {
                answer(registerForm, res);
            }
        }
        logRequest(req, res.status);
    });
    svr.Get("/api/grade/result", [&](const httplib::Request& req, httplib::Response& res) {
        arrived(req);
        if (authorized(req, res)) {
            sleepUnlessStopping(resultForm.delayMs);
            const Params p = parseQuery(req.target);
            std::string reply;
            if (failsLeft.fetch_sub(1) > 0) {
                reply = "NG try again";
                res.set_content(reply, "text/plain");
            } else if (resultForm.kind == ReplyForm::Normal) {
                reply = store->hasRegistration(param(p, "jid"), param(p, "result_id"))
                            ? "OK"
                            : "NG unknown registration";
                res.set_content(reply, "text/plain");
            } else {
                reply = answer(resultForm, res);
            }
            store->addResult(p, req.target, reply);
        }
        logRequest(req, res.status);
    });
    svr.set_exception_handler(
        [](const httplib::Request& req, httplib::Response& res, std::exception_ptr ep) {
            try {
                std::rethrow_exception(ep);
            } catch (const std::exception& e) {
                std::fprintf(stderr, "exam-server: %s: %s\n", req.path.c_str(), e.what());
            }
            res.status = 500;
        });

    const int bound =
        port == 0 ? svr.bind_to_any_port(host) : (svr.bind_to_port(host, port) ? port : -1);
    if (bound < 0) {
        std::fprintf(stderr, "exam-server: cannot listen on %s:%d\n", host.c_str(), port);
        return 1;
    }
    std::atomic<bool> listenEnded{false};
    std::thread signalWaiter([&] {
        int sig = 0;
        sigwait(&sigs, &sig);
        stopping = true;
        // stop() does nothing before the server runs: a signal that comes
        // right after the start would otherwise leave it listening for good.
        while (!svr.is_running() && !listenEnded)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        svr.stop();
    });
    std::printf("exam-server: listening on https://%s:%d\n", host.c_str(), bound);
    std::fflush(stdout);
    svr.listen_after_bind();
    listenEnded = true;
    if (!stopping) { // stopped for another reason: let the signal thread end
        stopping = true;
        pthread_kill(signalWaiter.native_handle(), SIGTERM);
    }
    signalWaiter.join();
    return 0;
}

int list(int argc, char** argv) {
    std::string db = "exam-server.sqlite";
    for (int i = 2; i < argc; ++i) {
        if (std::string(argv[i]) == "--db")
            db = nextArg(i, argc, argv);
        else {
            std::fprintf(stderr, "exam-server: unknown option %s\n\n%s", argv[i], kUsage);
            return 2;
        }
    }
    try {
        Store store(db);
        store.list(std::cout);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "exam-server: %s\n", e.what());
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::string cmd = argc > 1 ? argv[1] : "";
    if (cmd == "serve")
        return serve(argc, argv);
    if (cmd == "list")
        return list(argc, argv);
    std::fputs(kUsage, cmd == "--help" || cmd == "-h" ? stdout : stderr);
    return cmd == "--help" || cmd == "-h" ? 0 : 2;
}
