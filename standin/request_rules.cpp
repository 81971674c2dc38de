#include "request_rules.h"

#include <QUrl>

namespace standin {

namespace {

RequestDecision refusal(int status, const QByteArray &explanation)
{
    RequestDecision decision;
    decision.verdict = RequestDecision::Verdict::Refuse;
    decision.status = status;
    decision.explanation = explanation;
    return decision;
}

QByteArray formDecode(QByteArray text)
{
    return QByteArray::fromPercentEncoding(text.replace('+', ' '));
}

// A token's characters (RFC 9110, section 5.6.2).
bool isToken(QByteArrayView name)
{
    if (name.isEmpty())
        return false;
    for (const char c : name) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
                        || QByteArrayView("!#$%&'*+-.^_`|~").contains(c);
        if (!ok)
            return false;
    }
    return true;
}

// uri-host [":" port], as a Host header or an absolute target's authority.
bool isAuthority(const QByteArray &authority, QUrl &url)
{
    if (authority.contains('@') || authority.contains('/') || authority.contains('?')
        || authority.contains('#'))
        return false;
    url = QUrl::fromEncoded("http://" + authority + '/', QUrl::StrictMode);
    return url.isValid();
}

// The path with every escape decoded but "%2F", which would make a segment
// boundary of an ordinary character; false when a segment climbs ("..").
bool decodePath(const QByteArray &raw, QByteArray &path)
{
    const QList<QByteArray> segments = raw.split('/');
    QList<QByteArray> decoded;
    decoded.reserve(segments.size());
    for (const QByteArray &segment : segments) {
        QByteArray text = QByteArray::fromPercentEncoding(segment);
        if (text == "..")
            return false;
        decoded << text.replace("/", "%2F");
    }
    path = decoded.join('/');
    return true;
}

// The header fields, named in lower case and joined by name; false for a
// name that is not a token, a folded line, or other than one valid Host
// (none is allowed before HTTP/1.1).
bool takeFields(ParsedRequest &parsed, HttpRequest &request, QByteArray &explanation)
{
    int hosts = 0;
    for (auto &[name, value] : parsed.fields) {
        if (!isToken(name)) {
            explanation = "A header's name is not a token.";
            return false;
        }
        if (value.contains('\n')) {
            explanation = "A header line is folded.";
            return false;
        }
        name = name.toLower();
        while (value.endsWith(' ') || value.endsWith('\t'))
            value.chop(1);
        if (name == "host")
            ++hosts;
        auto it = request.headers.find(name);
        if (it == request.headers.end())
            request.headers.insert(name, value);
        else
            *it += ", " + value;
    }
    const QByteArray host = request.headers.value("host");
    QUrl url;
    if (hosts > 1 || (hosts == 0 && parsed.minor == 1)
        || (!host.isEmpty() && !isAuthority(host, url))) {
        explanation = "An HTTP/1.1 request needs exactly one valid Host header.";
        return false;
    }
    return true;
}

} // namespace

namespace {

RequestDecision decide(ParsedRequest parsed, const QHostAddress &local, quint16 port)
{
    if (parsed.major > 1)
        return refusal(505, "Only HTTP/1.0 and HTTP/1.1 are served.");
    if (parsed.major < 1)
        return refusal(400, "HTTP/0.9 requests are not taken.");
    RequestDecision decision;
    HttpRequest &request = decision.request;
    request.method = parsed.method;
    request.target = parsed.target;
    QByteArray explanation;
    if (!takeFields(parsed, request, explanation))
        return refusal(400, explanation);
    // Before the target: CONNECT's and OPTIONS's forms are no paths.
    if (request.method != "GET" && request.method != "HEAD") {
        RequestDecision refused = refusal(405, "Only GET and HEAD are served.");
        refused.headers = {{"Allow", "GET, HEAD"}};
        return refused;
    }

    // The origin form "/path?query", or the absolute form for this server.
    QByteArray target = request.target;
    if (!target.startsWith('/')) {
        const qsizetype scheme = target.indexOf("://");
        if (scheme < 0 || target.left(scheme).toLower() != "http")
            return refusal(400, "The request's target is not understood.");
        const qsizetype end = target.indexOf('/', scheme + 3);
        const qsizetype query = target.indexOf('?', scheme + 3);
        const qsizetype cut = end < 0 ? query : (query < 0 ? end : std::min(end, query));
        const QByteArray name = target.mid(scheme + 3, cut < 0 ? -1 : cut - scheme - 3).toLower();
        QUrl authority;
        if (!isAuthority(name, authority) || authority.host().isEmpty())
            return refusal(400, "The request's target is not understood.");
        const QHostAddress address(authority.host());
        if ((authority.host() != u"localhost" && address != local) || authority.port(80) != port) {
            decision.verdict = RequestDecision::Verdict::Answer;
            decision.status = 421;
            decision.explanation = "This server does not answer for that host.";
            return decision;
        }
        target = cut < 0 ? QByteArray("/") : target.mid(cut);
        if (target.startsWith('?'))
            target.prepend('/');
    }
    const qsizetype question = target.indexOf('?');
    if (!decodePath(question < 0 ? target : target.left(question), request.path))
        return refusal(400, "The path may not climb out of the site.");
    if (question >= 0) {
        for (const QByteArray &pair : target.mid(question + 1).split('&')) {
            const qsizetype equals = pair.indexOf('=');
            request.query.insert(formDecode(pair.left(equals)),
                                 equals < 0 ? QByteArray() : formDecode(pair.mid(equals + 1)));
        }
    }
    return decision;
}

} // namespace

RequestDecision decideRequest(ParsedRequest parsed, const QHostAddress &local, quint16 port)
{
    const QByteArray method = parsed.method;
    RequestDecision decision = decide(std::move(parsed), local, port);
    // A refusal's page, too, goes to HEAD as a head alone.
    if (decision.verdict == RequestDecision::Verdict::Refuse)
        decision.request.method = method;
    return decision;
}

} // namespace standin
